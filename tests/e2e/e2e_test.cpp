// End-to-end runs of the real program against the terminal simulator: one card operation per
// run, over TCP or a pseudo-terminal, with what the caller gets (exit code, result file), what
// the user sees (status captions, message boxes) and what the terminal saw on the wire.
//
// Each run has a directory of its own with a copy of the program (it finds its settings beside
// its own real path) and a settings file written here. The program runs unattended: its boxes,
// captions and log lines come on standard error.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "harness.hpp"
#include "protocol/card_mask.hpp"
#include "protocol/cp1250.hpp"
#include "protocol/frame.hpp"

namespace vendilox::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char STX = '\x02', ETX = '\x03', FS = '\x1C';

// Upper bounds of the waits. They are far above what the program's timers need, so a slow
// machine does not fail a run; a hang still fails well inside the test's own time limit.
constexpr auto kStartBound = 10s;    // the simulator's first line, a run that ends at once
constexpr auto kOutcomeBound = 30s;  // from the start to the run's last status caption
constexpr auto kCloseBound = 12s;    // from the outcome to the end of a run that closes itself
// The close timer gives the first close permission 4 s after the outcome; a close before 3 s
// means the program did not wait for it.
constexpr auto kNoCloseBefore = 3s;
// A window held open must still be there after its close timer has ticked.
constexpr auto kHeldOpenFor = 5s;
constexpr auto kCloseRetry = 500ms;
constexpr auto kClosedWithin = 10s;  // from the first granted close request

enum class Link { Tcp, Pty, TcpNoListener, MissingSerialPort };

// How the run ends: by the close timer; held open until the user closes it (SIGTERM, the
// system's close command); or right after a failure's message.
enum class Ending { ClosesItself, HeldOpen, EndsAtOnce };

// What the terminal gets of the run.
enum class Contact { Request, ConnectionOnly, Nothing };

const Report kApprovedPurchase{"000",   "Transakce provedena",
                               "00",    "nákup na terminálu",
                               "0",     std::string(kCard),
                               "Visa",  std::string(kCardAuth),
                               "12345", "123,45"};

// A declined response carries no authorization code.
Report Declined(std::string code, std::string status) {
    Report r = kApprovedPurchase;
    r.code = std::move(code);
    r.status = std::move(status);
    r.auth.clear();
    return r;
}

// A final response whose header checksum is wrong, fed to the program as the simulator's
// "garbage": the terminal never repeats it.
const std::string kBadCrcHeader =
    "B001" + std::string(kTerminalId) + "180816143005" + "0001" + "0009" + "0000";
const std::string kBadCrcResponse =
    std::string(1, STX) + kBadCrcHeader + FS + "R000" + FS + "T00" + ETX;
const std::string kRejectOfBadCrc = std::string(1, STX) + kBadCrcHeader + FS + "R106" + ETX;

// A final response with an empty field, which cannot be taken apart.
const std::string kEmptyFieldResponse = std::string(1, STX) + "B001" + std::string(kTerminalId) +
                                        "180816143005" + "0001" + "000A" + "0000" + FS + "R000" +
                                        FS + FS + "T00" + ETX;

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

std::string LocalStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%y%m%d%H%M%S", &local);
    return text;
}

const std::string kPurchaseBody = std::string(1, FS) + "T00" + FS + "B12345";

struct Case {
    const char* name;
    Link link = Link::Tcp;
    std::vector<std::string> scenario{};  // the simulator's options besides its link
    std::vector<std::string> params = {"0", "12345", "AB12CD34"};
    int timeoutS = 120;
    bool crcCheck = false;

    // The status captions in order ("status: " left off; a caption set again in a row counts
    // once); the last one is the outcome.
    std::vector<std::string> statuses{};
    // The message boxes in order ("box: " left off); "{port}" stands for the TCP port.
    std::vector<std::string> boxes{};
    Ending ending = Ending::ClosesItself;
    int exitCode = 0;
    Contact contact = Contact::Request;
    std::string body = kPurchaseBody;               // the request body the terminal must get
    std::map<std::string, std::string> terminal{};  // fields of the simulator's transaction line
    std::vector<std::string> logs{};  // log lines the run must have written; "{port}" as above
    std::optional<Report> report{};   // none: the result file stays empty
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class EndToEnd : public testing::Test {
  protected:
    void TearDown() override {
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

    // A copy of the program in dir, not a link: the program takes its settings file from beside
    // its own real path.
    static void InstallProgram(const fs::path& dir) {
        fs::copy_file(VENDILOX_ECR, dir / "vendilox_ecr", fs::copy_options::overwrite_existing);
    }

    void WriteSettings(bool tcp, const std::string& serialPort, int tcpPort, int timeoutS,
                       bool crcCheck) {
        // The host is always the loopback: no run may reach out to a real terminal's address.
        const std::string text =
            "[Settings]\r\nConnectionType=" + std::string(tcp ? "TCP" : "Serial") +
            "\r\nPort=" + serialPort + "\r\nPathToTxt=" + dir_.Path().string() +
            "/\r\nTimeout=" + std::to_string(timeoutS) + "\r\nCRC_check=" + (crcCheck ? "1" : "0") +
            "\r\nDebug=0\r\n[TCP]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(tcpPort) + "\r\n";
        WriteFile(dir_.Path() / "vendilox_ecr.ini", Utf8ToCp1250(text));
    }

    static std::unique_ptr<Process> StartProgram(const fs::path& dir,
                                                 const std::vector<std::string>& params) {
        std::vector<std::string> argv = {(dir / "vendilox_ecr").string()};
        argv.insert(argv.end(), params.begin(), params.end());
        return std::make_unique<Process>(
            argv, std::vector<std::string>{"QT_QPA_PLATFORM=offscreen", "VENDILOX_UNATTENDED=1"},
            dir);
    }

    // A sanitizer build reports a fault on standard error; in a run that ends with exit code 1
    // anyway, its exit code would not show it.
    static void ExpectNoSanitizerReport(const Process& p) {
        for (const Line& line : p.Err()) {
            EXPECT_EQ(line.text.find("Sanitizer"), std::string::npos) << line.text;
            EXPECT_EQ(line.text.find("runtime error:"), std::string::npos) << line.text;
        }
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

    // The moment the program's status caption first showed text.
    std::optional<Clock::time_point> WaitForStatus(const std::string& text,
                                                   std::chrono::seconds bound) {
        const std::string wanted = "status: " + text;
        std::optional<Clock::time_point> at;
        Pump({program_.get(), sim_.get()}, Clock::now() + bound, [&] {
            for (const Line& line : program_->Err()) {
                if (line.text == wanted) {
                    at = line.at;
                    return true;
                }
            }
            return program_->Finished();
        });
        return at;
    }

    // Brings the run to its end the way the case says, from the moment of its outcome.
    void Finish(Ending ending, Clock::time_point outcome) {
        Process& p = *program_;
        auto pump = [&](Clock::time_point until) {
            return Pump({program_.get(), sim_.get()}, until, [&] { return p.Finished(); });
        };
        if (ending == Ending::EndsAtOnce) {
            EXPECT_TRUE(pump(Clock::now() + kStartBound))
                << "the run did not end after its failure";
            return;
        }
        // A close request before the close timer's first tick is refused.
        p.Signal(SIGTERM);
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
        while (!p.Finished() && Clock::now() < bound) {
            p.Signal(SIGTERM);
            pump(std::min(bound, Clock::now() + kCloseRetry));
        }
        EXPECT_TRUE(p.Finished()) << "the window held open could not be closed";
    }

    // The simulator's transaction line, once it has ended by itself after the program.
    std::map<std::string, std::string> SimulatorOutcome(Contact contact) {
        if (contact == Contact::Nothing) {
            // It waits for a connection that never comes.
            sim_->Signal(SIGTERM);
        }
        const bool ended =
            Pump({sim_.get()}, Clock::now() + kStartBound, [&] { return sim_->Finished(); });
        EXPECT_TRUE(ended) << "the simulator did not end after the program";
        if (!ended)
            sim_->Signal(SIGTERM);
        Pump({sim_.get()}, Clock::now() + kStartBound, [&] { return sim_->Finished(); });
        EXPECT_EQ(sim_->ExitCode(), 0);
        const auto& out = sim_->Out();
        if (contact == Contact::Nothing) {
            EXPECT_EQ(out.size(), 1u) << "the terminal was contacted";
            return {};
        }
        // A second line would be a transaction more, or bytes sent after the answer ("late").
        EXPECT_EQ(out.size(), 2u) << "the terminal saw more than one transaction";
        if (out.size() < 2)
            return {};
        return ParseFields(out[1].text);
    }

    // The request the terminal got: the expected body under a header of the request's layout,
    // stamped between the start of the run and now, and the very bytes the program logged as
    // sent.
    void CheckRequest(const std::map<std::string, std::string>& seen, const std::string& body,
                      const std::string& startedAt) {
        EXPECT_EQ(seen.at("request"), "ok") << seen.at("reason");
        EXPECT_EQ(seen.at("req_body"), body);
        const std::string& header = seen.at("req_header");
        ASSERT_EQ(header.size(), 36u);
        EXPECT_EQ(header.substr(0, 12), "B001        ");
        EXPECT_GE(header.substr(12, 12), startedAt);
        EXPECT_LE(header.substr(12, 12), LocalStamp());
        EXPECT_EQ(header.substr(24, 4), "0000");
        const std::vector<std::string> sent = Lines(*program_, "log");
        const std::string logged = "Odeslaná data(ASCII): ";
        const std::string frame = std::string(1, STX) + header + body + ETX;
        bool found = false;
        for (const std::string& line : sent) {
            if (line.rfind(logged, 0) == 0) {
                // The unattended log shows the frame's Windows-1250 bytes as UTF-8.
                EXPECT_EQ(Unescape(line.substr(logged.size())), Cp1250ToUtf8(frame));
                found = true;
            }
        }
        EXPECT_TRUE(found) << "the request was not logged";
    }

    // The result file: empty, or the report of the response that the confirmation answered.
    void CheckResultFile(const fs::path& dir, const std::optional<Report>& report,
                         const std::map<std::string, std::string>& seen) {
        const fs::path file = dir / "vendilox.txt";
        ASSERT_TRUE(fs::exists(file)) << "no result file";
        if (!report) {
            EXPECT_EQ(ReadFile(file), "");
            return;
        }
        // The confirmation repeats the response header's first 30 bytes, its date and time
        // among them.
        const auto reply = seen.find("reply_bytes");
        ASSERT_TRUE(reply != seen.end() && reply->second.size() == 38) << "no confirmation";
        EXPECT_EQ(ReadFile(file), ExpectedReport(*report, reply->second.substr(13, 12)));
    }

    // What the terminal saw besides the request: its line's fields, and the pause before each
    // answer to a response.
    static void CheckTerminalSaw(const std::map<std::string, std::string>& seen,
                                 const std::map<std::string, std::string>& expected) {
        for (const auto& [key, value] : expected) {
            const auto it = seen.find(key);
            ASSERT_NE(it, seen.end()) << key;
            EXPECT_EQ(it->second, value) << key;
        }
        // The program holds its answer back for a second after the response has arrived.
        for (const auto& [answer, ms] :
             {std::pair{"reply", "reply_ms"}, std::pair{"first_reply", "first_reply_ms"}}) {
            const std::string& kind = seen.at(answer);
            if (kind == "confirm" || kind == "reject") {
                EXPECT_GE(std::stol(seen.at(ms)), 1000) << answer << " came too soon";
            }
        }
    }

    TempDir dir_;
    std::unique_ptr<Process> sim_, program_;
};

class Transaction : public EndToEnd, public testing::WithParamInterface<Case> {};

TEST_P(Transaction, Runs) {
    const Case& c = GetParam();
    std::string serialPort = "COM1";
    int tcpPort = 2050;
    switch (c.link) {
        case Link::Tcp: {
            const std::string port = StartSimulator(c.link, c.scenario);
            ASSERT_FALSE(port.empty());
            tcpPort = std::stoi(port);
            break;
        }
        case Link::Pty:
            serialPort = StartSimulator(c.link, c.scenario);
            ASSERT_FALSE(serialPort.empty());
            break;
        case Link::TcpNoListener:
            tcpPort = UnusedLoopbackPort();
            break;
        case Link::MissingSerialPort:
            serialPort = "/dev/does-not-exist";
            break;
    }
    const bool tcp = c.link == Link::Tcp || c.link == Link::TcpNoListener;
    WriteSettings(tcp, serialPort, tcpPort, c.timeoutS, c.crcCheck);
    InstallProgram(dir_.Path());

    const std::string startedAt = LocalStamp();
    program_ = StartProgram(dir_.Path(), c.params);

    Clock::time_point outcome = Clock::now();
    if (c.ending != Ending::EndsAtOnce) {
        ASSERT_FALSE(c.statuses.empty());
        const auto at = WaitForStatus(c.statuses.back(), kOutcomeBound);
        ASSERT_TRUE(at) << "no outcome \"" << c.statuses.back() << "\"";
        outcome = *at;
    }
    Finish(c.ending, outcome);
    ASSERT_TRUE(program_->Finished());

    EXPECT_EQ(program_->ExitCode(), c.exitCode);
    ExpectNoSanitizerReport(*program_);
    EXPECT_EQ(Lines(*program_, "status", true), c.statuses);
    auto withPort = [&](std::vector<std::string> lines) {
        for (std::string& line : lines) {
            if (const auto at = line.find("{port}"); at != std::string::npos)
                line.replace(at, 6, std::to_string(tcpPort));
        }
        return lines;
    };
    EXPECT_EQ(Lines(*program_, "box"), withPort(c.boxes));
    const std::vector<std::string> logged = Lines(*program_, "log");
    for (const std::string& line : withPort(c.logs)) {
        EXPECT_NE(std::find(logged.begin(), logged.end(), line), logged.end())
            << "not logged: " << line;
    }

    std::map<std::string, std::string> seen;
    if (sim_) {
        seen = SimulatorOutcome(c.contact);
        if (c.contact == Contact::Request && !seen.empty())
            CheckRequest(seen, c.body, startedAt);
        if (c.contact == Contact::ConnectionOnly && !seen.empty()) {
            EXPECT_EQ(seen.at("request"), "none") << "something was sent";
        }
        if (!seen.empty())
            CheckTerminalSaw(seen, c.terminal);
    }
    CheckResultFile(dir_.Path(), c.report, seen);
}

const std::string kBuying = "blue Nákup na terminálu";
const std::map<std::string, std::string> kConfirmed = {
    {"answer", "approve"}, {"code", "000"}, {"reply", "confirm"}, {"end", "reply"}};

Report Refund() {
    Report r = kApprovedPurchase;
    r.status = "Transakce zrušena";
    r.typeCode = "10";
    r.typeName = "návrat transakce";
    r.amountDigits = "250";
    r.amountText = "2,50";
    return r;
}

Report Void() {
    Report r = kApprovedPurchase;
    r.typeCode = "04";
    r.typeName = "storno platby";
    return r;
}

// A closing carries no card and no amount: the amount is the one the caller passed.
Report Closing() {
    return Report{"000", "Transakce provedena", "60", "uzávěrka terminálu", "", "", "", "", "100",
                  "1,00"};
}

const Case kCases[] = {
    // Every way the terminal may answer, over TCP.
    {.name = "TcpApprove",
     .statuses = {kBuying, "blue Transakce provedena"},
     .terminal = {{"answer", "approve"}, {"confirmations", "1"}, {"reply", "confirm"}},
     .report = kApprovedPurchase},
    // The last confirmation and the response in one read: both are taken, in order.
    {.name = "TcpConfirmationAndResponseInOneChunk",
     .scenario = {"--scenario", "together"},
     .statuses = {kBuying, "blue Transakce provedena"},
     .terminal = {{"answer", "approve"}, {"confirmations", "1"}, {"reply", "confirm"}},
     .report = kApprovedPurchase},
    // A response code that is no number is no approval, however it reads.
    {.name = "TcpCodeNotANumber",
     .scenario = {"--scenario", "code:0x6"},
     .statuses = {kBuying, "red Nezpracováno"},
     .ending = Ending::HeldOpen,
     .terminal = {{"answer", "code"}, {"code", "0x6"}, {"reply", "confirm"}},
     .report = Declined("0x6", "Nezpracováno")},
    // A reset in the close wait, after the confirmation: logged, and the approval stands.
    {.name = "TcpResetAfterTheConfirmation",
     .scenario = {"--scenario", "reset"},
     .statuses = {kBuying, "blue Transakce provedena"},
     .terminal = {{"answer", "approve"}, {"reply", "confirm"}, {"end", "reset"}},
     .logs = {"Nelze navázat spojení s terminálem. (Host:127.0.0.1, Port:{port})"},
     .report = kApprovedPurchase},
    {.name = "TcpDeclineDefaultCode",
     .scenario = {"--scenario", "decline"},
     .statuses = {kBuying, "red Zrušeno zákazníkem"},
     .ending = Ending::HeldOpen,
     .terminal = {{"answer", "decline"}, {"code", "061"}, {"reply", "confirm"}},
     .report = Declined("061", "Zrušeno zákazníkem")},
    {.name = "TcpDeclineLongestStatus",
     .scenario = {"--scenario", "decline:53"},
     .statuses = {kBuying, "red Server připojen-chybný požadavek"},
     .ending = Ending::HeldOpen,
     .terminal = {{"answer", "decline"}, {"code", "053"}, {"reply", "confirm"}},
     .report = Declined("053", "Server připojen-chybný požadavek")},
    {.name = "TcpCrcErrorOnceRejectedThenAccepted",
     .scenario = {"--scenario", "crc-error-once"},
     .crcCheck = true,
     .statuses = {kBuying, "red Chyba CRC", "blue Transakce provedena"},
     .terminal = {{"answer", "bad-crc+approve"}, {"first_reply", "reject"}, {"reply", "confirm"}},
     .report = kApprovedPurchase},
    {.name = "TcpWrongCrcAcceptedWithoutCheck",
     .scenario = {"--scenario", "crc-error-once"},
     .statuses = {kBuying, "blue Transakce provedena"},
     .terminal = {{"answer", "bad-crc"}, {"first_reply", "confirm"}, {"reply", "confirm"}},
     .report = kApprovedPurchase},
    {.name = "TcpCrcErrorNeverRepeated",
     .scenario = {"--scenario", "garbage:" + Hex(kBadCrcResponse)},
     .timeoutS = 2,
     .crcCheck = true,
     .statuses = {kBuying, "red Chyba CRC", "red Terminál neodpovídá!"},
     .ending = Ending::HeldOpen,
     .terminal = {{"answer", "garbage"},
                  {"reply", "unexpected"},
                  {"reply_bytes", kRejectOfBadCrc}}},
    {.name = "TcpSilent",
     .scenario = {"--scenario", "silent"},
     .statuses = {kBuying, "blue Terminál není připojen!"},
     .ending = Ending::HeldOpen,
     .terminal =
         {{"confirmations", "0"}, {"answer", "none"}, {"reply", "none"}, {"end", "closed"}}},
    {.name = "TcpConfirmOnly",
     .scenario = {"--scenario", "confirm-only", "--confirm-interval", "500"},
     .timeoutS = 2,
     .statuses = {kBuying, "blue Terminál neodpovídá!"},
     .ending = Ending::HeldOpen,
     .terminal = {{"answer", "none"}, {"reply", "none"}, {"end", "closed"}}},
    {.name = "TcpSlow",
     .scenario = {"--scenario", "slow"},
     .statuses = {kBuying, "blue Transakce provedena"},
     .terminal = {{"answer", "approve"}, {"confirmations", "3"}, {"reply", "confirm"}},
     .report = kApprovedPurchase},
    {.name = "TcpChunked",
     .scenario = {"--scenario", "chunked"},
     .statuses = {kBuying, "blue Transakce provedena"},
     .terminal = kConfirmed,
     .report = kApprovedPurchase},
    {.name = "TcpGarbage",
     .scenario = {"--scenario", "garbage"},
     .statuses = {kBuying, "blue Neznámý typ zprávy"},
     .ending = Ending::HeldOpen,
     .terminal = {{"answer", "garbage"}, {"reply", "none"}, {"end", "closed"}}},
    {.name = "TcpDisconnect",
     .scenario = {"--scenario", "disconnect"},
     .statuses = {kBuying, "blue Terminál není připojen!"},
     .ending = Ending::HeldOpen,
     .terminal = {{"answer", "disconnect"}, {"end", "disconnect"}}},

    // Every transaction type, approved over TCP.
    {.name = "TypePurchaseWithInvoice",
     .params = {"0", "12345", "AB12CD34", "INV-2024/0042"},
     .statuses = {kBuying, "blue Transakce provedena"},
     .body = kPurchaseBody + FS + "SINV-2024/0042",
     .terminal = kConfirmed,
     .report = kApprovedPurchase},
    // A parameter comes in the system's UTF-8 and is measured and sent in Windows-1250: this
    // invoice number has 16 characters but 17 bytes in UTF-8.
    {.name = "TypePurchaseWithCzechInvoice",
     .params = {"0", "12345", "AB12CD34", "Faktura č.123456"},
     .statuses = {kBuying, "blue Transakce provedena"},
     .body = kPurchaseBody + FS + "SFaktura \xE8.123456",
     .terminal = kConfirmed,
     .report = kApprovedPurchase},
    {.name = "TypeVoid",
     .params = {"4", "12345", "AB12CD34"},
     .statuses = {"blue Storno platby", "blue Transakce provedena"},
     .body = std::string(1, FS) + "T04" + FS + "B12345",
     .terminal = kConfirmed,
     .report = Void()},
    {.name = "TypeRefundShownAsCancelled",
     .params = {"10", "250", "AB12CD34"},
     .statuses = {"blue Návrat transakce", "blue Transakce zrušena"},
     .body = std::string(1, FS) + "T10" + FS + "B250" + FS + "FAB12CD34",
     .terminal = kConfirmed,
     .report = Refund()},
    {.name = "TypeTerminalClosing",
     .params = {"60", "100", "AB12CD34"},
     .statuses = {"blue Uzávěrka terminálu", "blue Transakce provedena"},
     .body =
         std::string(1, FS) + "T60" + FS + "L0010010000+0000000000000000000000+000000000000000000",
     .terminal = kConfirmed,
     .report = Closing()},

    // The serial link, on a pseudo-terminal.
    {.name = "PtyApprove",
     .link = Link::Pty,
     .statuses = {kBuying, "blue Transakce provedena"},
     .terminal = {{"link", "serial"}, {"answer", "approve"}, {"reply", "confirm"}},
     .report = kApprovedPurchase},
    {.name = "PtyDecline",
     .link = Link::Pty,
     .scenario = {"--scenario", "decline"},
     .statuses = {kBuying, "red Zrušeno zákazníkem"},
     .ending = Ending::HeldOpen,
     .terminal = {{"link", "serial"}, {"answer", "decline"}, {"reply", "confirm"}},
     .report = Declined("061", "Zrušeno zákazníkem")},
    {.name = "PtyChunked",
     .link = Link::Pty,
     .scenario = {"--scenario", "chunked"},
     .statuses = {kBuying, "blue Transakce provedena"},
     .terminal = {{"link", "serial"}, {"answer", "approve"}, {"reply", "confirm"}},
     .report = kApprovedPurchase},
    {.name = "PtySilent",
     .link = Link::Pty,
     .scenario = {"--scenario", "silent"},
     .statuses = {kBuying, "blue Terminál není připojen!"},
     .ending = Ending::HeldOpen,
     .terminal = {{"link", "serial"}, {"answer", "none"}, {"reply", "none"}, {"end", "closed"}}},

    // Failures: each shows its message, ends the run with exit code 1 and leaves the result
    // file empty; nothing reaches the terminal.
    {.name = "TwoParameters",
     .params = {"0", "12345"},
     .boxes = {"Chybné údaje: Špatný počet parametrů!"},
     .ending = Ending::EndsAtOnce,
     .exitCode = 1,
     .contact = Contact::Nothing},
    {.name = "TypeNotANumber",
     .params = {"abc", "12345", "AB12CD34"},
     .boxes = {"Vendilox: 'abc' is not a valid integer value."},
     .ending = Ending::EndsAtOnce,
     .exitCode = 1,
     .contact = Contact::Nothing},
    {.name = "ZeroAmount",
     .params = {"0", "0", "AB12CD34"},
     .statuses = {kBuying},
     .boxes = {"Špatné údaje: Částka nemůže být 0 Kč!"},
     .ending = Ending::EndsAtOnce,
     .exitCode = 1,
     .contact = Contact::ConnectionOnly,
     .terminal = {{"end", "closed"}}},
    {.name = "AmountNotANumber",
     .params = {"0", "12a", "AB12CD34"},
     .statuses = {kBuying},
     .boxes = {"Vendilox: '12a' is not a valid integer value."},
     .ending = Ending::EndsAtOnce,
     .exitCode = 1,
     .contact = Contact::ConnectionOnly,
     .terminal = {{"end", "closed"}}},
    // A response that cannot be taken apart ends the run instead of leaving it without an end.
    {.name = "TcpResponseThatCannotBeParsed",
     .scenario = {"--scenario", "garbage:" + Hex(kEmptyFieldResponse)},
     .statuses = {kBuying},
     .boxes = {"Vendilox: Range check error."},
     .ending = Ending::EndsAtOnce,
     .exitCode = 1,
     .terminal = {{"answer", "garbage"}, {"reply", "none"}, {"end", "closed"}}},
    {.name = "SerialPortMissing",
     .link = Link::MissingSerialPort,
     .statuses = {kBuying, "blue Nelze otevřít port..."},
     .boxes = {"Chyba: Nelze otevřít port \"/dev/does-not-exist\" pro komunikaci s terminálem!"},
     .ending = Ending::EndsAtOnce,
     .exitCode = 1},
    {.name = "TcpRefused",
     .link = Link::TcpNoListener,
     .statuses = {kBuying, "blue Nelze navázat spojení"},
     .boxes = {"Chyba: Nelze navázat spojení s terminálem. (Host:127.0.0.1, Port:{port})"},
     .ending = Ending::EndsAtOnce,
     .exitCode = 1},
};

INSTANTIATE_TEST_SUITE_P(, Transaction, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// A second start while a run is going on is refused with a warning and exit code 1 and touches
// nothing; the first run goes on to its normal end.
TEST_F(EndToEnd, SecondInstanceIsRefusedWhileTheFirstRuns) {
    // The response comes 3 s after the request, which keeps the first run busy meanwhile.
    const std::string port = StartSimulator(
        Link::Tcp,
        {"--confirmations", "1", "--confirm-interval", "200", "--response-delay", "3000"});
    ASSERT_FALSE(port.empty());
    WriteSettings(true, "COM1", std::stoi(port), 120, false);
    InstallProgram(dir_.Path());
    const std::string startedAt = LocalStamp();
    program_ = StartProgram(dir_.Path(), {"0", "12345", "AB12CD34"});

    // Once the request is out, the first run holds the guard.
    ASSERT_TRUE(Pump({program_.get(), sim_.get()}, Clock::now() + kStartBound, [&] {
        return !Lines(*program_, "log").empty() &&
               Lines(*program_, "log").back().rfind("Odeslaná data(HEX): ", 0) == 0;
    }));

    TempDir second;
    InstallProgram(second.Path());
    const std::unique_ptr<Process> other = StartProgram(second.Path(), {"0", "12345", "AB12CD34"});
    ASSERT_TRUE(Pump({other.get(), program_.get(), sim_.get()}, Clock::now() + kStartBound,
                     [&] { return other->Finished(); }));
    ASSERT_FALSE(program_->Finished()) << "the first run ended before the second was refused";
    EXPECT_EQ(other->ExitCode(), 1);
    ExpectNoSanitizerReport(*other);
    EXPECT_EQ(Lines(*other, "box"),
              std::vector<std::string>{"vendilox_ecr: vendilox_ecr už jednou běží."});
    EXPECT_TRUE(Lines(*other, "status").empty());
    EXPECT_FALSE(fs::exists(second.Path() / "vendilox_ecr.ini"));
    EXPECT_FALSE(fs::exists(second.Path() / "vendilox.txt"));

    const auto outcome = WaitForStatus("blue Transakce provedena", kOutcomeBound);
    ASSERT_TRUE(outcome);
    Finish(Ending::ClosesItself, *outcome);
    EXPECT_EQ(program_->ExitCode(), 0);
    ExpectNoSanitizerReport(*program_);
    const auto seen = SimulatorOutcome(Contact::Request);
    ASSERT_FALSE(seen.empty());
    CheckRequest(seen, kPurchaseBody, startedAt);
    CheckTerminalSaw(seen, kConfirmed);
    CheckResultFile(dir_.Path(), kApprovedPurchase, seen);
}

// A terminal address where the connection attempt is never answered: the attempt fails 21 s
// after it began, like a refused connection, and the run ends with exit code 1.
TEST_F(EndToEnd, ConnectionThatIsNeverAnsweredFailsAfterItsBound) {
    const UnansweredLoopbackPort unanswered;
    WriteSettings(true, "COM1", unanswered.Port(), 120, false);
    InstallProgram(dir_.Path());
    const Clock::time_point started = Clock::now();
    program_ = StartProgram(dir_.Path(), {"0", "12345", "AB12CD34"});
    ASSERT_TRUE(Pump({program_.get()}, started + 21s + kStartBound, [&] {
        return program_->Finished();
    })) << "the attempt was not given up";

    EXPECT_EQ(program_->ExitCode(), 1);
    ExpectNoSanitizerReport(*program_);
    EXPECT_EQ(Lines(*program_, "status", true),
              (std::vector<std::string>{kBuying, "blue Nelze navázat spojení"}));
    EXPECT_EQ(
        Lines(*program_, "box"),
        std::vector<std::string>{"Chyba: Nelze navázat spojení s terminálem. (Host:127.0.0.1, "
                                 "Port:" +
                                 std::to_string(unanswered.Port()) + ")"});
    for (const Line& line : program_->Err()) {
        if (line.text.rfind("box: ", 0) == 0) {
            EXPECT_GE(line.at - started, 21s) << "given up before the bound";
        }
    }
    EXPECT_EQ(ReadFile(dir_.Path() / "vendilox.txt"), "");
}

// The caller stops reading the program's standard error in the middle of the run: the run goes
// on to its approval, confirms it to the terminal and ends as always.
TEST_F(EndToEnd, StandardErrorWithoutReaderDoesNotEndTheRun) {
    const std::string port = StartSimulator(Link::Tcp, {});
    ASSERT_FALSE(port.empty());
    WriteSettings(true, "COM1", std::stoi(port), 120, false);
    InstallProgram(dir_.Path());
    program_ = StartProgram(dir_.Path(), {"0", "12345", "AB12CD34"});
    ASSERT_TRUE(Pump({program_.get(), sim_.get()}, Clock::now() + kStartBound,
                     [&] { return !Lines(*program_, "status").empty() || program_->Finished(); }));
    program_->CloseErr();
    ASSERT_TRUE(Pump({program_.get(), sim_.get()}, Clock::now() + kOutcomeBound + kCloseBound,
                     [&] { return program_->Finished(); }));

    EXPECT_EQ(program_->ExitCode(), 0) << "a negative code is the signal that ended it";
    const auto seen = SimulatorOutcome(Contact::Request);
    ASSERT_FALSE(seen.empty());
    CheckTerminalSaw(seen, kConfirmed);
    CheckResultFile(dir_.Path(), kApprovedPurchase, seen);
}

// The records of one run in a journal file.
std::vector<nlohmann::json> JournalRun(const fs::path& file, const std::string& run) {
    std::vector<nlohmann::json> records;
    std::istringstream in(ReadFile(file));
    for (std::string line; std::getline(in, line);) {
        nlohmann::json record = nlohmann::json::parse(line);
        if (run.empty() || record.at("run") == run)
            records.push_back(std::move(record));
    }
    return records;
}

std::string JournalBytes(const nlohmann::json& text) {
    return Utf8ToCp1250(text.get<std::string>());
}

// What a run's records say: its events in order, the chunks received as one stream, the frames
// sent, and the checksum verdicts of its responses.
struct TJournalledRun {
    std::vector<std::string> events;
    std::string received;
    std::vector<std::string> sent;
    std::vector<bool> verdicts;
};

TJournalledRun Summarise(const std::vector<nlohmann::json>& records) {
    TJournalledRun run;
    for (const auto& r : records) {
        const std::string event = r.at("event");
        // Chunk borders depend on the machine's timing; the events list them once per row.
        if (event != "received" || run.events.empty() || run.events.back() != "received")
            run.events.push_back(event);
        if (event == "received")
            run.received += JournalBytes(r.at("chunk"));
        if (event == "sent")
            run.sent.push_back(JournalBytes(r.at("frame")));
        if (event == "response")
            run.verdicts.push_back(r.at("crc").at("matches"));
    }
    return run;
}

// A purchase whose response comes in pieces, first with a wrong checksum, and whose card number
// is whole: journalled, then played back by the simulator from the journal. The journal holds
// no card number, and the program, given the same bytes again, judges and answers the same.
TEST_F(EndToEnd, JournalledRunReplaysWithTheSameBytesAndAnswers) {
    const std::string pan = "4111111111111111";
    const fs::path journalDir = dir_.Path() / "journal";
    fs::create_directory(journalDir);
    auto settings = [&](int port) {
        WriteSettings(true, "COM1", port, 120, true);
        const std::string text = ReadFile(dir_.Path() / "vendilox_ecr.ini") +
                                 "[Journal]\r\nPath=" + journalDir.string() + "/\r\n";
        WriteFile(dir_.Path() / "vendilox_ecr.ini", text);
    };
    auto run = [&](const std::vector<std::string>& simOptions) {
        const std::string port = StartSimulator(Link::Tcp, simOptions);
        ASSERT_FALSE(port.empty());
        settings(std::stoi(port));
        program_ = StartProgram(dir_.Path(), {"0", "12345", "AB12CD34"});
        const auto outcome = WaitForStatus("blue Transakce provedena", kOutcomeBound);
        ASSERT_TRUE(outcome) << "no approval";
        Finish(Ending::ClosesItself, *outcome);
        EXPECT_EQ(program_->ExitCode(), 0);
        ExpectNoSanitizerReport(*program_);
        EXPECT_TRUE(
            Pump({sim_.get()}, Clock::now() + kStartBound, [&] { return sim_->Finished(); }));
        EXPECT_EQ(sim_->ExitCode(), 0);
    };
    InstallProgram(dir_.Path());

    // The run at the till.
    run({"--scenario", "crc-error-once", "--chunk-size", "9", "--chunk-delay", "20", "--card",
         pan});
    ASSERT_EQ(sim_->Out().size(), 2u);
    const auto seen = ParseFields(sim_->Out()[1].text);
    EXPECT_EQ(seen.at("first_reply"), "reject");
    EXPECT_EQ(seen.at("reply"), "confirm");

    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(journalDir))
        files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    const fs::path journal = files[0];
    EXPECT_EQ(journal.filename().string().rfind("vendilox-journal-20", 0), 0u);
    EXPECT_EQ(ReadFile(journal).find(pan), std::string::npos) << "a card number in the journal";
    const std::string firstRun = JournalRun(journal, "").at(0).at("run");
    const TJournalledRun till = Summarise(JournalRun(journal, firstRun));
    EXPECT_EQ(till.events,
              (std::vector<std::string>{"start", "sent", "received", "response", "sent", "received",
                                        "response", "sent", "report", "end"}));
    EXPECT_EQ(till.verdicts, (std::vector<bool>{false, true}));
    ASSERT_EQ(till.sent.size(), 3u);
    EXPECT_EQ(till.sent[2], seen.at("reply_bytes"));
    EXPECT_NE(till.received.find("411111******1111"), std::string::npos);

    // The same run on the desk, from the journal.
    run({"--replay", journal.string()});
    std::vector<std::map<std::string, std::string>> frames;
    for (const Line& line : sim_->Out()) {
        if (line.text.rfind("replay ", 0) == 0)
            frames.push_back(ParseFields(line.text.substr(7)));
    }
    ASSERT_EQ(frames.size(), 4u) << "three frames of the program and the closing line";
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(frames[i].at("same"), "yes") << "frame " << i + 1;
    EXPECT_EQ(frames[3].at("run"), firstRun);
    EXPECT_EQ(frames[3].at("same"), "yes");

    const auto all = JournalRun(journal, "");
    const std::string secondRun = all.back().at("run");
    ASSERT_NE(secondRun, firstRun);
    const TJournalledRun desk = Summarise(JournalRun(journal, secondRun));
    EXPECT_EQ(desk.events, till.events);
    EXPECT_EQ(desk.verdicts, till.verdicts);
    // The bytes the program got are those of the till, but for the checksum of the repeated
    // response, which covers the masked number now.
    std::string expected = till.received;
    const std::size_t second = expected.rfind(STX);
    const std::size_t end = expected.find(ETX, second);
    ASSERT_NE(end, std::string::npos);
    expected.replace(second + 33, 4,
                     CrcText(Crc16(expected.substr(second + 37, end - second - 37))));
    EXPECT_EQ(desk.received, expected);
    ASSERT_EQ(desk.sent.size(), 3u);
    EXPECT_EQ(desk.sent[1], till.sent[1]);
    EXPECT_EQ(desk.sent[2], till.sent[2]);
}

}  // namespace
}  // namespace vendilox::e2e
