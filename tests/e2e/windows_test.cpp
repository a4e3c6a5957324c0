// End-to-end runs of the Windows program under Wine against the Linux terminal simulator: one
// card operation per run, over TCP on 127.0.0.1 or a COM port that Wine maps to a
// pseudo-terminal, with what the caller gets (exit code, result file), what the user sees
// (status captions, message boxes) and what the terminal saw on the wire.
//
// Each case has a Wine prefix of its own (a hard-link clone of one template, with a server of
// its own), so that the cases run side by side and their single-instance mutexes never meet. The
// program runs unattended: its boxes, captions and log lines come on standard error.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harness.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char FS = '\x1C';

// Upper bounds of the waits, far above what the program's timers need; Wine adds a few hundred
// milliseconds to a start. A hang still fails well inside the test's own time limit.
constexpr auto kPrefixBound = 60s;   // a clone of the template, the template made first
constexpr auto kStartBound = 15s;    // the simulator's first line, a run that ends at once
constexpr auto kOutcomeBound = 30s;  // from the start to the run's last status caption
constexpr auto kCloseBound = 12s;    // from the outcome to the end of a run that closes itself
// The close timer allows closing 4 s after the outcome; a close before 3 s means the program did
// not wait for it, and a window held open must still be there after the timer's tick.
constexpr auto kNoCloseBefore = 3s;
constexpr auto kHeldOpenFor = 5s;
constexpr auto kClosedWithin = 10s;  // from the first close request that may be granted

enum class Link { Tcp, Com, TcpNoListener };

// How the run ends: by the close timer; held open until closed from outside (taskkill without
// /F, the system's close request); or right after a failure's message.
enum class Ending { ClosesItself, HeldOpen, EndsAtOnce };

// The COM port the pseudo-terminal is mapped to: beyond COM9, so that the name has to reach the
// system in its \\.\ form.
constexpr int kComPort = 12;

const Report kApprovedPurchase{"000",   "Transakce provedena",
                               "00",    "nákup na terminálu",
                               "0",     std::string(kCard),
                               "Visa",  std::string(kCardAuth),
                               "12345", "123,45"};

Report Declined(std::string code, std::string status) {
    Report r = kApprovedPurchase;
    r.code = std::move(code);
    r.status = std::move(status);
    r.auth.clear();  // a declined response carries no authorization code
    return r;
}

const std::string kPurchaseBody = std::string(1, FS) + "T00" + FS + "B12345";
const std::string kBuying = "blue Nákup na terminálu";

// The path of a file of this machine as the program under Wine names it: drive Z: is the root.
std::string WindowsPath(const fs::path& path) {
    std::string text = "Z:" + path.string();
    for (char& c : text) {
        if (c == '/')
            c = '\\';
    }
    return text;
}

// Whether a program under Wine has ended. Its output may not end with it: a Wine process that
// it started (the desktop's, a service) inherits its standard error and lives on with the
// prefix's server. Every line it wrote is read by then, since each is one write before the exit.
bool Exited(const Process& p) {
    return p.ExitCode().has_value();
}

// A helper program that runs to its end: the prefix script, taskkill.
bool RunToEnd(std::vector<std::string> argv, const std::vector<std::string>& env,
              std::chrono::seconds bound, std::string* errors = nullptr) {
    Process p(std::move(argv), env, fs::temp_directory_path());
    const bool ended = Pump({&p}, Clock::now() + bound, [&] { return Exited(p); });
    if (errors != nullptr)
        *errors = p.ErrText();
    return ended && p.ExitCode() == 0;
}

struct Case {
    const char* name;
    Link link = Link::Tcp;
    std::vector<std::string> scenario{};  // the simulator's options besides its link
    // The status captions in order ("status: " left off, repeats in a row counted once); the
    // last one is the outcome.
    std::vector<std::string> statuses{};
    std::vector<std::string> boxes{};  // "{port}" stands for the TCP port
    Ending ending = Ending::ClosesItself;
    int exitCode = 0;
    std::map<std::string, std::string> terminal{};  // fields of the simulator's transaction line
    std::optional<Report> report{};                 // none: the result file stays empty
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class UnderWine : public testing::Test {
  protected:
    void SetUp() override {
        run_ = dir_.Path() / "run";
        prefix_ = dir_.Path() / "prefix";
        fs::create_directory(run_);
        std::string errors;
        ASSERT_TRUE(
            RunToEnd({VENDILOX_WINE_PREFIX, "clone", VENDILOX_WINE_TEMPLATE, prefix_.string()}, {},
                     kPrefixBound, &errors))
            << "no Wine prefix: " << errors;
    }

    void TearDown() override {
        // Ends the prefix's server and whatever still runs in it.
        RunToEnd({VENDILOX_WINE_PREFIX, "stop", prefix_.string()}, {}, kStartBound);
        if (!HasFailure())
            return;
        dir_.Keep();
        std::string out;
        if (sim_) {
            for (const Line& line : sim_->Out())
                out += line.text + "\n";
        }
        ADD_FAILURE() << "run directory kept: " << dir_.Path() << "\nprogram's standard error:\n"
                      << (program_ ? program_->ErrText() : "") << "simulator's output:\n"
                      << out << (sim_ ? sim_->ErrText() : "");
    }

    std::vector<std::string> WineEnvironment() const {
        return {"WINEPREFIX=" + prefix_.string(), "WINEDEBUG=-all", "VENDILOX_UNATTENDED=1"};
    }

    // Starts the simulator for one transaction and returns its first line's value: the TCP port
    // or the pseudo-terminal's path.
    std::string StartSimulator(Link link, const std::vector<std::string>& scenario) {
        std::vector<std::string> argv = {VENDILOX_TERMINAL_SIM, "--count", "1"};
        if (link == Link::Tcp) {
            argv.insert(argv.end(), {"--listen", "127.0.0.1:0"});
        } else {
            argv.emplace_back("--pty");
        }
        argv.insert(argv.end(), scenario.begin(), scenario.end());
        sim_ = std::make_unique<Process>(argv, std::vector<std::string>{}, dir_.Path());
        const std::string prefix = link == Link::Tcp ? "listening 127.0.0.1:" : "pty ";
        Pump({sim_.get()}, Clock::now() + kStartBound,
             [&] { return !sim_->Out().empty() || sim_->Finished(); });
        if (sim_->Out().empty() || sim_->Out()[0].text.rfind(prefix, 0) != 0) {
            ADD_FAILURE() << "the simulator did not start: " << sim_->ErrText();
            return {};
        }
        return sim_->Out()[0].text.substr(prefix.size());
    }

    // The prefix's COM port as the pseudo-terminal, as Wine maps serial ports to devices.
    void MapComPort(const std::string& pty) {
        fs::create_symlink(pty, prefix_ / "dosdevices" / ("com" + std::to_string(kComPort)));
    }

    // The settings file beside the program, in the form a till has it: CR LF, Windows paths.
    void Install(const fs::path& dir, bool tcp, int tcpPort) {
        fs::copy_file(VENDILOX_WINDOWS_EXE, dir / "vendilox_ecr.exe",
                      fs::copy_options::overwrite_existing);
        // The host is always the loopback: no run may reach out to a real terminal's address.
        const std::string text =
            "[Settings]\r\nConnectionType=" + std::string(tcp ? "TCP" : "Serial") + "\r\nPort=COM" +
            std::to_string(kComPort) + "\r\nPathToTxt=" + WindowsPath(dir) +
            "\\\r\nTimeout=120\r\nCRC_check=0\r\nDebug=0\r\n[TCP]\r\nHost="
            "127.0.0.1\r\nPort=" +
            std::to_string(tcpPort) + "\r\n";
        WriteFile(dir / "vendilox_ecr.ini", Utf8ToCp1250(text));
    }

    std::unique_ptr<Process> StartProgram(const fs::path& dir) const {
        return std::make_unique<Process>(
            std::vector<std::string>{VENDILOX_WINE64, (dir / "vendilox_ecr.exe").string(), "0",
                                     "12345", "AB12CD34"},
            WineEnvironment(), dir);
    }

    // taskkill without /F: WM_CLOSE to the program's windows, the close request of Windows.
    void RequestClose() {
        std::vector<std::string> env = WineEnvironment();
        std::string errors;
        // taskkill fails when the program has ended meanwhile; that is no fault of the program.
        RunToEnd({VENDILOX_WINE64, "taskkill", "/IM", "vendilox_ecr.exe"}, env, kStartBound,
                 &errors);
    }

    // The program's unattended lines of one kind, without the kind.
    static std::vector<std::string> Lines(const Process& p, std::string_view kind,
                                          bool collapseRepeats = false) {
        std::vector<std::string> lines;
        const std::string prefix = std::string(kind) + ": ";
        for (const Line& line : p.Err()) {
            if (line.text.rfind(prefix, 0) != 0)
                continue;
            std::string text = line.text.substr(prefix.size());
            if (!collapseRepeats || lines.empty() || lines.back() != text)
                lines.push_back(std::move(text));
        }
        return lines;
    }

    std::optional<Clock::time_point> WaitForStatus(const std::string& text) {
        const std::string wanted = "status: " + text;
        std::optional<Clock::time_point> at;
        Pump({program_.get(), sim_.get()}, Clock::now() + kOutcomeBound, [&] {
            for (const Line& line : program_->Err()) {
                if (line.text == wanted) {
                    at = line.at;
                    return true;
                }
            }
            return Exited(*program_);
        });
        return at;
    }

    // Brings the run to its end the way the case says, from the moment of its outcome. A close
    // request before the close timer's first tick is refused in every case.
    void Finish(Ending ending, Clock::time_point outcome) {
        Process& p = *program_;
        auto pump = [&](Clock::time_point until) {
            return Pump({program_.get(), sim_.get()}, until, [&] { return Exited(p); });
        };
        if (ending == Ending::EndsAtOnce) {
            EXPECT_TRUE(pump(Clock::now() + kStartBound))
                << "the run did not end after its failure";
            return;
        }
        RequestClose();
        if (ending == Ending::ClosesItself) {
            ASSERT_TRUE(pump(outcome + kCloseBound)) << "the window did not close by itself";
            EXPECT_GE(p.FinishedAt() - outcome, kNoCloseBefore)
                << "closed before the close timer allowed it";
            return;
        }
        ASSERT_FALSE(pump(outcome + kHeldOpenFor))
            << "the window was not held open: it closed "
            << std::chrono::duration_cast<milliseconds>(p.FinishedAt() - outcome).count()
            << " ms after the outcome";
        const Clock::time_point bound = Clock::now() + kClosedWithin;
        while (!Exited(p) && Clock::now() < bound) {
            RequestClose();
            pump(std::min(bound, Clock::now() + 500ms));
        }
        EXPECT_TRUE(Exited(p)) << "taskkill did not close the window held open";
    }

    // The simulator's transaction line, once it has ended by itself after the program.
    std::map<std::string, std::string> SimulatorOutcome() {
        const bool ended =
            Pump({sim_.get()}, Clock::now() + kStartBound, [&] { return sim_->Finished(); });
        EXPECT_TRUE(ended) << "the simulator did not end after the program";
        if (!ended)
            return {};
        EXPECT_EQ(sim_->ExitCode(), 0);
        const auto& out = sim_->Out();
        EXPECT_EQ(out.size(), 2u) << "the terminal saw other than one transaction";
        if (out.size() < 2)
            return {};
        return ParseFields(out[1].text);
    }

    // The result file: empty, or the report of the response that the confirmation answered,
    // byte for byte as the Linux program writes it.
    static void CheckResultFile(const fs::path& dir, const std::optional<Report>& report,
                                const std::map<std::string, std::string>& seen) {
        const fs::path file = dir / "vendilox.txt";
        ASSERT_TRUE(fs::exists(file)) << "no result file";
        if (!report) {
            EXPECT_EQ(ReadFile(file), "");
            return;
        }
        const auto reply = seen.find("reply_bytes");
        ASSERT_TRUE(reply != seen.end() && reply->second.size() == 38) << "no confirmation";
        EXPECT_EQ(ReadFile(file), ExpectedReport(*report, reply->second.substr(13, 12)));
    }

    TempDir dir_;
    fs::path run_, prefix_;
    std::unique_ptr<Process> sim_, program_;
};

class Transaction : public UnderWine, public testing::WithParamInterface<Case> {};

TEST_P(Transaction, Runs) {
    const Case& c = GetParam();
    int tcpPort = 2050;
    if (c.link == Link::Tcp) {
        const std::string port = StartSimulator(c.link, c.scenario);
        ASSERT_FALSE(port.empty());
        tcpPort = std::stoi(port);
    } else if (c.link == Link::Com) {
        const std::string pty = StartSimulator(c.link, c.scenario);
        ASSERT_FALSE(pty.empty());
        MapComPort(pty);
    } else {
        tcpPort = UnusedLoopbackPort();
    }
    Install(run_, c.link != Link::Com, tcpPort);
    program_ = StartProgram(run_);

    Clock::time_point outcome = Clock::now();
    if (c.ending != Ending::EndsAtOnce) {
        const auto at = WaitForStatus(c.statuses.back());
        ASSERT_TRUE(at) << "no outcome \"" << c.statuses.back() << "\"";
        outcome = *at;
    }
    Finish(c.ending, outcome);
    ASSERT_TRUE(Exited(*program_));

    EXPECT_EQ(program_->ExitCode(), c.exitCode);
    EXPECT_EQ(Lines(*program_, "status", true), c.statuses);
    std::vector<std::string> boxes = c.boxes;
    for (std::string& box : boxes) {
        if (const auto at = box.find("{port}"); at != std::string::npos)
            box.replace(at, 6, std::to_string(tcpPort));
    }
    EXPECT_EQ(Lines(*program_, "box"), boxes);

    std::map<std::string, std::string> seen;
    if (sim_) {
        seen = SimulatorOutcome();
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.at("request"), "ok") << seen.at("reason");
        EXPECT_EQ(seen.at("req_body"), kPurchaseBody);
        for (const auto& [key, value] : c.terminal)
            EXPECT_EQ(seen.at(key), value) << key;
    }
    CheckResultFile(run_, c.report, seen);
}

const Case kCases[] = {
    {.name = "TcpApprove",
     .statuses = {kBuying, "blue Transakce provedena"},
     .terminal = {{"link", "tcp"}, {"answer", "approve"}, {"reply", "confirm"}},
     .report = kApprovedPurchase},
    {.name = "TcpDeclineHeldOpenUntilTaskkill",
     .scenario = {"--scenario", "decline"},
     .statuses = {kBuying, "red Zrušeno zákazníkem"},
     .ending = Ending::HeldOpen,
     .terminal = {{"answer", "decline"}, {"code", "061"}, {"reply", "confirm"}},
     .report = Declined("061", "Zrušeno zákazníkem")},
    {.name = "TcpSilent",
     .scenario = {"--scenario", "silent"},
     .statuses = {kBuying, "blue Terminál není připojen!"},
     .ending = Ending::HeldOpen,
     .terminal = {{"answer", "none"}, {"reply", "none"}, {"end", "closed"}}},
    {.name = "TcpRefused",
     .link = Link::TcpNoListener,
     .statuses = {kBuying, "blue Nelze navázat spojení"},
     .boxes = {"Chyba: Nelze navázat spojení s terminálem. (Host:127.0.0.1, Port:{port})"},
     .ending = Ending::EndsAtOnce,
     .exitCode = 1},
    {.name = "ComApprove",
     .link = Link::Com,
     .statuses = {kBuying, "blue Transakce provedena"},
     .terminal = {{"link", "serial"}, {"answer", "approve"}, {"reply", "confirm"}},
     .report = kApprovedPurchase},
    {.name = "ComDecline",
     .link = Link::Com,
     .scenario = {"--scenario", "decline"},
     .statuses = {kBuying, "red Zrušeno zákazníkem"},
     .ending = Ending::HeldOpen,
     .terminal = {{"link", "serial"}, {"answer", "decline"}, {"reply", "confirm"}},
     .report = Declined("061", "Zrušeno zákazníkem")},
};

INSTANTIATE_TEST_SUITE_P(, Transaction, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// A second start in the same Windows session while a run is going on meets the named mutex: it
// is refused with a warning and exit code 1 and touches nothing, and the first run goes on to its
// normal end.
TEST_F(UnderWine, SecondInstanceIsRefusedWhileTheFirstRuns) {
    const std::string port = StartSimulator(
        Link::Tcp,
        {"--confirmations", "1", "--confirm-interval", "200", "--response-delay", "3000"});
    ASSERT_FALSE(port.empty());
    Install(run_, true, std::stoi(port));
    program_ = StartProgram(run_);
    ASSERT_TRUE(Pump({program_.get(), sim_.get()}, Clock::now() + kStartBound, [&] {
        const auto log = Lines(*program_, "log");
        return !log.empty() && log.back().rfind("Odeslaná data(HEX): ", 0) == 0;
    }));

    const fs::path second = dir_.Path() / "second";
    fs::create_directory(second);
    fs::copy_file(VENDILOX_WINDOWS_EXE, second / "vendilox_ecr.exe");
    const std::unique_ptr<Process> other = StartProgram(second);
    ASSERT_TRUE(Pump({other.get(), program_.get(), sim_.get()}, Clock::now() + kStartBound,
                     [&] { return Exited(*other); }));
    ASSERT_FALSE(Exited(*program_)) << "the first run ended before the second was refused";
    EXPECT_EQ(other->ExitCode(), 1);
    EXPECT_EQ(Lines(*other, "box"),
              std::vector<std::string>{"vendilox_ecr: vendilox_ecr už jednou běží."});
    EXPECT_TRUE(Lines(*other, "status").empty());
    EXPECT_FALSE(fs::exists(second / "vendilox_ecr.ini"));
    EXPECT_FALSE(fs::exists(second / "vendilox.txt"));

    const auto outcome = WaitForStatus("blue Transakce provedena");
    ASSERT_TRUE(outcome);
    Finish(Ending::ClosesItself, *outcome);
    EXPECT_EQ(program_->ExitCode(), 0);
    CheckResultFile(run_, kApprovedPurchase, SimulatorOutcome());
}

}  // namespace
}  // namespace vendilox::e2e
