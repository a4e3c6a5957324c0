// A terminal that misbehaves on the wire: the connection closed or reset in the middle of a
// frame, a response cut anywhere, several messages and garbage in one chunk, a flood without
// an end of frame, silence after the program rejected a checksum, a serial line whose other
// side goes away. Every run must end as the program's rules say, and a window held open must
// still close on request once its close timer allows it.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>

#include "rig.hpp"

namespace vendilox::reliability {
namespace {

const std::vector<std::string> kPurchase = {"0", "12345", "AB12CD34"};
constexpr std::string_view kDatetime = "180816143005";
constexpr auto kBound = 15s;  // far above any wait of the program's own timers here
// The close timer's first tick comes 4 s after a time-out; until then a close is refused.
constexpr auto kHeldOpenFor = 3500ms;

// The end of a long output, which is where a failure shows.
std::string Tail(const std::string& text) {
    constexpr std::size_t kKeep = 6000;
    return text.size() <= kKeep ? text : "..." + text.substr(text.size() - kKeep);
}

enum class Ending { ClosesItself, HeldOpen, EndsAtOnce };

class Faults : public testing::Test {
  public:
    void TearDown() override {
        if (!HasFailure())
            return;
        dir_.Keep();
        ADD_FAILURE() << "run directory kept: " << dir_.Path() << "\nprogram's standard error:\n"
                      << Tail(program_ ? program_->ErrText() : "");
    }

    void StartTcp(Settings s = {}) {
        s.tcp = true;
        s.tcpPort = tcp_.Port();
        dir_.WriteSettings(s);
        program_ = dir_.Start(kPurchase);
    }

    std::size_t Count(std::string_view kind, std::string_view prefix) const {
        std::size_t n = 0;
        for (const std::string& line : Lines(*program_, kind))
            n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

    // Waits for the program's n-th line of this kind that begins with prefix.
    bool WaitForLine(std::string_view kind, std::string_view prefix, std::size_t n = 1,
                     std::chrono::seconds bound = kBound) {
        return Pump({program_.get()}, Clock::now() + bound,
                    [&] { return Count(kind, prefix) >= n || program_->Finished(); }) &&
               Count(kind, prefix) >= n;
    }

    // The moment the caption first showed status, colour first.
    std::optional<Clock::time_point> WaitForStatus(const std::string& status) {
        const std::string wanted = "status: " + status;
        std::optional<Clock::time_point> at;
        Pump({program_.get()}, Clock::now() + kBound, [&] {
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

    // The program's request over the scripted TCP terminal.
    std::string TakeTcpRequest() {
        if (!tcp_.Accept(Clock::now() + kBound))
            return {};
        return tcp_.Read(Clock::now() + kBound, true);
    }

    // Brings the run to its end and checks what the caller gets.
    void ExpectEnding(const std::string& status, Ending ending, int exitCode,
                      const std::string& resultFile) {
        const auto at = WaitForStatus(status);
        ASSERT_TRUE(at) << "no status \"" << status << "\"; last: " << LastStatus(*program_);
        switch (ending) {
            case Ending::EndsAtOnce:
                EXPECT_TRUE(Pump({program_.get()}, Clock::now() + kBound, [&] {
                    return program_->Finished();
                })) << "the run did not end after its failure";
                break;
            case Ending::ClosesItself:
                EXPECT_TRUE(Pump({program_.get()}, *at + kBound, [&] {
                    return program_->Finished();
                })) << "the window did not close by itself";
                break;
            case Ending::HeldOpen:
                program_->Signal(SIGTERM);  // too early: refused
                EXPECT_FALSE(Pump({program_.get()}, *at + kHeldOpenFor, [&] {
                    return program_->Finished();
                })) << "the window was not held open";
                EXPECT_TRUE(CloseHeldOpen(*program_, *at + kHeldOpenFor, 10s))
                    << "the window held open could not be closed";
                break;
        }
        ASSERT_TRUE(program_->Finished());
        EXPECT_EQ(program_->ExitCode(), exitCode);
        EXPECT_EQ(LastStatus(*program_), status);
        EXPECT_EQ(SanitizerReport(*program_), "");
        EXPECT_EQ(ReadFile(dir_.ResultFile()), resultFile);
    }

    RunDir dir_;
    ScriptedTcpTerminal tcp_;
    std::unique_ptr<Process> program_;
};

const std::string kApproved = ResponseFrame(kDatetime, "000", "00", "12345");
const std::string kApprovedReport = ExpectedReport(ApprovedPurchase(), kDatetime);

std::string Refused(int port) {
    return "Chyba: Nelze navázat spojení s terminálem. (Host:127.0.0.1, Port:" +
           std::to_string(port) + ")";
}

// How the connection breaks down after the request, and how the run must end.
struct Breakdown {
    const char* name;
    int timeoutS;
    bool crcCheck;
    std::function<void(Faults&, ScriptedTcpTerminal&)> script;
    std::string status;
    Ending ending;
    int exitCode;
    bool refusedBox;
};

class TcpBreakdown : public Faults, public testing::WithParamInterface<Breakdown> {
  public:
    // The first bytes of the response, then a wait until the program has taken them in.
    void SendHalf(ScriptedTcpTerminal& t) {
        ASSERT_TRUE(t.Write(std::string_view(kApproved).substr(0, 20)));
        ASSERT_TRUE(WaitForLine("log", "Přijmutá data: "));
    }
};

void PrintTo(const Breakdown& b, std::ostream* os) {
    *os << b.name;
}

const Breakdown kBreakdowns[] = {
    {"ClosedMidFrame", 120, false,
     [](Faults& f, ScriptedTcpTerminal& t) {
         static_cast<TcpBreakdown&>(f).SendHalf(t);
         t.Close();
     },
     "blue Terminál není připojen!", Ending::HeldOpen, 0, false},
    {"ClosedMidFrameAfterConfirmation", 2, false,
     [](Faults& f, ScriptedTcpTerminal& t) {
         ASSERT_TRUE(t.Write(ActivityConfirmation(kDatetime)));
         static_cast<TcpBreakdown&>(f).SendHalf(t);
         t.Close();
     },
     "blue Terminál neodpovídá!", Ending::HeldOpen, 0, false},
    {"ResetAfterRequest", 120, false, [](Faults&, ScriptedTcpTerminal& t) { t.Close(true); },
     "blue Nelze navázat spojení", Ending::EndsAtOnce, 1, true},
    {"ResetMidFrame", 120, false,
     [](Faults& f, ScriptedTcpTerminal& t) {
         static_cast<TcpBreakdown&>(f).SendHalf(t);
         t.Close(true);
     },
     "blue Nelze navázat spojení", Ending::EndsAtOnce, 1, true},
    // More than a TCP read takes at once: the program logs it and reads nothing more, so the
    // response after it is never seen and the not-connected time-out ends the transaction.
    {"BurstBeyondReadLimit", 120, false,
     [](Faults& f, ScriptedTcpTerminal& t) {
         ASSERT_TRUE(t.Write(std::string(8000, 'x') + kApproved));
         ASSERT_TRUE(f.WaitForLine("log", "TCP data jsou prilis velka!"));
     },
     "blue Terminál není připojen!", Ending::HeldOpen, 0, false},
    // The program rejects the checksum and waits for the response again; the terminal never
    // repeats it, and the no-response time-out ends the wait.
    {"SilentAfterReject", 2, true,
     [](Faults&, ScriptedTcpTerminal& t) {
         const std::string bad = ResponseFrame(kDatetime, "000", "00", "12345", true);
         ASSERT_TRUE(t.Write(bad));
         const std::string reject = t.Read(Clock::now() + kBound, true);
         EXPECT_EQ(reject, STX + bad.substr(1, 36) + FS + "R106" + ETX);
     },
     "red Terminál neodpovídá!", Ending::HeldOpen, 0, false},
};

TEST_P(TcpBreakdown, EndsByTheRules) {
    const Breakdown& b = GetParam();
    StartTcp({.timeoutS = b.timeoutS, .crcCheck = b.crcCheck});
    ASSERT_NE(TakeTcpRequest().find(ETX), std::string::npos) << "no request";
    b.script(*this, tcp_);
    if (HasFatalFailure())
        return;
    ExpectEnding(b.status, b.ending, b.exitCode, "");
    EXPECT_EQ(Lines(*program_, "box"), b.refusedBox ? std::vector<std::string>{Refused(tcp_.Port())}
                                                    : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(, TcpBreakdown, testing::ValuesIn(kBreakdowns),
                         [](const testing::TestParamInfo<Breakdown>& info) {
                             return info.param.name;
                         });

// In debug mode the window stays open and every accepted response adds its report, so one
// session carries the response cut at many places, each cut arriving as two chunks.
TEST_F(Faults, ResponseSplitAnywhereIsAcceptedWhole) {
    StartTcp({.debug = true});
    ASSERT_NE(TakeTcpRequest().find(ETX), std::string::npos) << "no request";
    std::string expected;
    int round = 0;
    for (const std::size_t cut : {1, 2, 12, 37, 38, 39, 45, 60, 0, 1}) {
        // Another second each round, so every report shows which response it came from.
        const std::string datetime = "1808161430" + std::to_string(10 + round);
        const std::string response = ResponseFrame(datetime, "000", "00", "12345");
        const std::size_t at = cut == 0 ? response.size() - 1 : cut;
        SCOPED_TRACE("cut after " + std::to_string(at) + " bytes");
        const std::size_t received = Count("log", "Přijmutá data: ");
        ASSERT_TRUE(tcp_.Write(response.substr(0, at)));
        ASSERT_TRUE(WaitForLine("log", "Přijmutá data: ", received + 1));
        ASSERT_TRUE(tcp_.Write(response.substr(at)));
        EXPECT_EQ(tcp_.Read(Clock::now() + kBound, true), ConfirmationOf(response));
        expected += ExpectedReport(ApprovedPurchase(), datetime);
        ++round;
    }
    ASSERT_TRUE(WaitForLine("log", "Konec transakce", static_cast<std::size_t>(round)));
    program_->Signal(SIGTERM);  // debug mode grants a close at any time
    ASSERT_TRUE(
        Pump({program_.get()}, Clock::now() + kBound, [&] { return program_->Finished(); }));
    EXPECT_EQ(program_->ExitCode(), 0);
    EXPECT_EQ(ReadFile(dir_.ResultFile()), expected);
    EXPECT_EQ(SanitizerReport(*program_), "");
}

// Only the first response of a chunk is handed over; what follows it waits in the buffer and
// never produces a second answer or report.
TEST_F(Faults, TwoResponsesAndGarbageInOneChunk) {
    StartTcp();
    ASSERT_NE(TakeTcpRequest().find(ETX), std::string::npos) << "no request";
    const std::string declined = ResponseFrame("180816143006", "061", "00", "12345");
    ASSERT_TRUE(tcp_.Write(kApproved + declined + "garbage\x03\x1C?"));
    EXPECT_EQ(tcp_.Read(Clock::now() + kBound, true), ConfirmationOf(kApproved));
    ExpectEnding("blue Transakce provedena", Ending::ClosesItself, 0, kApprovedReport);
    EXPECT_EQ(tcp_.Read(Clock::now() + 100ms, false, 1), "") << "a second answer";
}

// Bytes that never end a frame are dropped beyond the reassembly's cap with a log line; the
// program neither grows without bound nor stops listening, and takes the response after them.
TEST_F(Faults, FloodWithoutEndOfFrame) {
    StartTcp();
    ASSERT_NE(TakeTcpRequest().find(ETX), std::string::npos) << "no request";
    const auto pid = FindPid(dir_.Program());
    ASSERT_TRUE(pid);
    // Pieces below the TCP read limit, each one taken in before the next is sent.
    constexpr std::size_t kPiece = 4000, kPieces = 256;  // 1 MB, sixteen times the cap
    long rssBefore = 0;
    for (std::size_t i = 0; i < kPieces; ++i) {
        // Each piece carries its number, so the log line that shows it taken in is its own.
        const std::string mark = "<" + std::to_string(i) + ">";
        std::string piece = (i == 0 ? std::string(1, STX) : std::string()) + mark;
        piece.resize(kPiece, 'x');
        ASSERT_TRUE(tcp_.Write(piece));
        ASSERT_TRUE(Pump(
            {program_.get()}, Clock::now() + kBound,
            [&] {
                const auto& err = program_->Err();
                return program_->Finished() ||
                       (!err.empty() && err.back().text.find(mark) != std::string::npos) ||
                       (err.size() > 1 && err[err.size() - 2].text.find(mark) != std::string::npos);
            }))
            << "piece " << i << " not taken in";
        if (i == 16)
            rssBefore = ProcStatusKb(*pid, "VmRSS");
    }
    const long peak = ProcStatusKb(*pid, "VmHWM");
    EXPECT_GE(Count("log", "Nedokončená data zahozena"), 10u);
    EXPECT_EQ(Count("log", "TCP data jsou prilis velka!"), 0u);
    ASSERT_TRUE(tcp_.Write(kApproved));
    EXPECT_EQ(tcp_.Read(Clock::now() + kBound, true), ConfirmationOf(kApproved));
    ExpectEnding("blue Transakce provedena", Ending::ClosesItself, 0, kApprovedReport);
    RecordProperty("rss_kb_after_64k", std::to_string(rssBefore));
    RecordProperty("rss_peak_kb", std::to_string(peak));
    std::printf("RSS after 64 KB: %ld kB, peak after 1 MB: %ld kB\n", rssBefore, peak);
#ifndef VENDILOX_PROGRAM_SANITIZED
    // The discard lines above show the cap at work. The log keeps every byte received (about
    // 4 MB here), so this bound catches only growth far beyond it, such as copies piling up.
    // AddressSanitizer holds freed memory back, so there it is not measured.
    EXPECT_LT(peak - rssBefore, 32 * 1024) << "kB grown while the flood went on";
#endif
}

// The other side of the serial line goes away in the middle of the response: reception stops,
// and the not-connected time-out ends the transaction.
TEST_F(Faults, PtyClosedMidTransaction) {
    ScriptedPtyTerminal pty;
    dir_.WriteSettings({.tcp = false, .serialPort = pty.SlavePath()});
    program_ = dir_.Start(kPurchase);
    ASSERT_NE(pty.Read(Clock::now() + kBound, true).find(ETX), std::string::npos) << "no request";
    ASSERT_TRUE(pty.Write(std::string_view(kApproved).substr(0, 20)));
    ASSERT_TRUE(WaitForLine("log", "Přijmutá data: "));
    pty.Close();
    ExpectEnding("blue Terminál není připojen!", Ending::HeldOpen, 0, "");
}

}  // namespace
}  // namespace vendilox::reliability
