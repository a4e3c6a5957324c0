// Many transactions of the real program against the terminal simulator, over TCP and over a
// pseudo-terminal, several at a time, each in a network namespace of its own so that their
// single-instance guards never meet. Every run must end with its exit code and exactly its
// result file, within a deadline; a run that hangs is killed and fails.
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <memory>

#include "rig.hpp"

namespace vendilox::reliability {
namespace {

enum class Link { Tcp, Pty };

const std::vector<std::string> kBuy = {"0", "12345", "AB12CD34"};

// One kind of transaction: what the simulator does, and what the caller must get.
struct Kind {
    const char* name;
    Link link;
    std::vector<std::string> scenario;
    std::vector<std::string> params;
    int timeoutS = 120;
    bool crcCheck = false;
    std::string status;  // the last status caption, colour first
    bool heldOpen = false;
    std::optional<Report> report{};
};

const std::vector<Kind>& Kinds(Link link) {
    static const std::vector<Kind> tcp = {
        {"approve",
         Link::Tcp,
         {},
         kBuy,
         120,
         false,
         "blue Transakce provedena",
         false,
         ApprovedPurchase()},
        {"decline",
         Link::Tcp,
         {"--scenario", "decline"},
         kBuy,
         120,
         false,
         "red Zrušeno zákazníkem",
         true,
         DeclinedPurchase("061", "Zrušeno zákazníkem")},
        {"chunked",
         Link::Tcp,
         {"--scenario", "chunked", "--chunk-delay", "20"},
         kBuy,
         120,
         false,
         "blue Transakce provedena",
         false,
         ApprovedPurchase()},
        {"crc-error-once",
         Link::Tcp,
         {"--scenario", "crc-error-once"},
         kBuy,
         120,
         true,
         "blue Transakce provedena",
         false,
         ApprovedPurchase()},
        {"refund",
         Link::Tcp,
         {},
         {"10", "250", "AB12CD34"},
         120,
         false,
         "blue Transakce zrušena",
         false,
         ApprovedRefund()},
        {"slow",
         Link::Tcp,
         {"--confirmations", "3", "--confirm-interval", "300"},
         kBuy,
         120,
         false,
         "blue Transakce provedena",
         false,
         ApprovedPurchase()},
        {"silent",
         Link::Tcp,
         {"--scenario", "silent"},
         kBuy,
         120,
         false,
         "blue Terminál není připojen!",
         true},
        {"confirm-only",
         Link::Tcp,
         {"--scenario", "confirm-only"},
         kBuy,
         1,
         false,
         "blue Terminál neodpovídá!",
         true},
    };
    static const std::vector<Kind> pty = {
        {"approve",
         Link::Pty,
         {},
         kBuy,
         120,
         false,
         "blue Transakce provedena",
         false,
         ApprovedPurchase()},
        {"decline",
         Link::Pty,
         {"--scenario", "decline"},
         kBuy,
         120,
         false,
         "red Zrušeno zákazníkem",
         true,
         DeclinedPurchase("061", "Zrušeno zákazníkem")},
        {"chunked",
         Link::Pty,
         {"--scenario", "chunked", "--chunk-delay", "20"},
         kBuy,
         120,
         false,
         "blue Transakce provedena",
         false,
         ApprovedPurchase()},
        {"silent",
         Link::Pty,
         {"--scenario", "silent"},
         kBuy,
         120,
         false,
         "blue Terminál není připojen!",
         true},
    };
    return link == Link::Tcp ? tcp : pty;
}

// A run from start to end; the deadline kills it.
constexpr auto kDeadline = 45s;
// A window held open gets its close permission 4 s after its outcome.
constexpr auto kCloseAllowedAfter = 4200ms;

struct Run {
    const Kind* kind = nullptr;
    std::string label;
    std::vector<std::string> scenario;  // the kind's, with the varied chunk size
    std::unique_ptr<NetworkNamespace> ns;
    std::unique_ptr<RunDir> dir;
    std::unique_ptr<Process> sim, program;
    Clock::time_point startedAt{}, outcomeAt{}, nextClose{};
    bool outcome = false, programDone = false;
    std::string failure;
};

std::string Describe(const Run& r) {
    std::string out;
    if (r.sim) {
        for (const Line& line : r.sim->Out())
            out += line.text + "\n";
    }
    return r.label + ": " + r.failure + "\n  program's standard error:\n" +
           (r.program ? r.program->ErrText() : "") + "  simulator:\n" + out +
           (r.sim ? r.sim->ErrText() : "");
}

// Checks a run that has ended; returns what is wrong, or nothing.
std::string Verify(Run& r) {
    const Kind& k = *r.kind;
    std::string wrong;
    if (r.program->ExitCode() != 0)
        wrong += "exit code " + std::to_string(r.program->ExitCode().value_or(-999)) + "; ";
    if (LastStatus(*r.program) != k.status)
        wrong += "last status \"" + LastStatus(*r.program) + "\"; ";
    if (const std::string s = SanitizerReport(*r.program); !s.empty())
        wrong += "sanitizer: " + s;
    if (!Lines(*r.program, "box").empty())
        wrong += "a message box; ";
    if (r.sim->ExitCode() != 0 || r.sim->Out().size() != 2)
        return wrong + "the simulator did not see exactly one transaction; ";
    const auto seen = ParseFields(r.sim->Out()[1].text);
    if (seen.at("request") != "ok")
        wrong += "request " + seen.at("request") + "; ";
    const std::string file = ReadFile(r.dir->ResultFile());
    if (!k.report) {
        if (!file.empty())
            wrong += "a result file where none belongs; ";
        return wrong;
    }
    if (seen.at("reply") != "confirm")
        wrong += "reply " + seen.at("reply") + "; ";
    const std::string& reply = seen.at("reply_bytes");
    if (reply.size() != 38)
        return wrong + "no confirmation; ";
    if (file != ExpectedReport(*k.report, reply.substr(13, 12)))
        wrong += "result file differs: [" + file + "]; ";
    return wrong;
}

// Drives runs of the kinds given, at most parallel at a time, all from this one thread: every
// process's output is pumped together, and each run moves on when its own event has come.
std::vector<std::string> Soak(const std::vector<const Kind*>& kinds, std::size_t parallel) {
    std::vector<std::string> failures;
    std::vector<std::unique_ptr<Run>> active;
    std::size_t next = 0;
    auto start = [&](std::size_t index) {
        auto r = std::make_unique<Run>();
        r->kind = kinds[index];
        r->label = "run " + std::to_string(index) + " (" +
                   (r->kind->link == Link::Tcp ? "tcp " : "pty ") + r->kind->name + ")";
        r->scenario = r->kind->scenario;
        if (!r->scenario.empty() && r->scenario[1] == "chunked") {
            // The response is cut at other places from run to run.
            r->scenario.insert(r->scenario.end(), {"--chunk-size", std::to_string(1 + index % 13)});
        }
        r->startedAt = Clock::now();
        r->ns = std::make_unique<NetworkNamespace>();
        if (!r->ns->Valid()) {
            r->failure = "no network namespace";
            return r;
        }
        r->dir = std::make_unique<RunDir>();
        std::vector<std::string> argv = {VENDILOX_TERMINAL_SIM, "--count", "1"};
        if (r->kind->link == Link::Tcp)
            argv.insert(argv.end(), {"--listen", "127.0.0.1:0"});
        else
            argv.emplace_back("--pty");
        argv.insert(argv.end(), r->scenario.begin(), r->scenario.end());
        r->ns->Enter();
        r->sim = std::make_unique<Process>(argv, std::vector<std::string>{}, r->dir->Path());
        r->ns->Leave();
        return r;
    };

    std::vector<pollfd> fds;
    while (next < kinds.size() || !active.empty()) {
        while (active.size() < parallel && next < kinds.size())
            active.push_back(start(next++));
        fds.clear();
        for (const auto& r : active) {
            for (Process* p : {r->sim.get(), r->program.get()}) {
                if (p != nullptr)
                    p->AddPollFds(fds);
            }
        }
        ::poll(fds.data(), fds.size(), 20);
        const Clock::time_point now = Clock::now();
        for (auto it = active.begin(); it != active.end();) {
            Run& r = **it;
            for (Process* p : {r.sim.get(), r.program.get()}) {
                if (p != nullptr)
                    p->Handle(fds);
            }
            bool finished = !r.failure.empty();
            if (!finished && !r.program) {
                // The simulator's first line names the port or the pseudo-terminal.
                if (!r.sim->Out().empty()) {
                    const std::string& first = r.sim->Out()[0].text;
                    Settings s{.timeoutS = r.kind->timeoutS, .crcCheck = r.kind->crcCheck};
                    if (r.kind->link == Link::Tcp) {
                        s.tcpPort = std::stoi(first.substr(first.rfind(':') + 1));
                    } else {
                        s.tcp = false;
                        s.serialPort = first.substr(first.find(' ') + 1);
                    }
                    r.dir->WriteSettings(s);
                    r.ns->Enter();
                    r.program = r.dir->Start(r.kind->params);
                    r.ns->Leave();
                } else if (r.sim->Finished()) {
                    r.failure = "the simulator did not start: " + r.sim->ErrText();
                }
            } else if (!finished) {
                if (!r.outcome && LastStatus(*r.program) == r.kind->status) {
                    r.outcome = true;
                    r.outcomeAt = now;
                    r.nextClose = now + kCloseAllowedAfter;
                }
                if (r.outcome && r.kind->heldOpen && !r.program->Finished() && now >= r.nextClose) {
                    r.program->Signal(SIGTERM);
                    r.nextClose = now + 500ms;
                }
                if (r.program->Finished() && r.sim->Finished()) {
                    r.failure = Verify(r);
                    finished = true;
                } else if (r.program->Finished() && !r.programDone) {
                    r.programDone = true;
                }
            }
            if (!finished && now - r.startedAt > kDeadline) {
                r.failure = std::string("did not end within the deadline") +
                            (r.program && !r.program->Finished() ? " (program hangs)"
                                                                 : " (simulator hangs)");
                finished = true;
            }
            if (finished) {
                if (!r.failure.empty()) {
                    failures.push_back(Describe(r));
                    if (r.dir)
                        r.dir->Keep();
                }
                // The process objects kill what still runs.
                it = active.erase(it);
            } else {
                ++it;
            }
        }
    }
    return failures;
}

// A batch of the mix: every kind in turn, over TCP and over the pseudo-terminal.
struct Batch {
    int tcpRuns, ptyRuns, offset;
};

void PrintTo(const Batch& b, std::ostream* os) {
    *os << b.tcpRuns << " over TCP, " << b.ptyRuns << " over a pseudo-terminal";
}

class SoakBatch : public testing::TestWithParam<Batch> {};

TEST_P(SoakBatch, EveryRunEndsRight) {
    const Batch& b = GetParam();
    std::vector<const Kind*> kinds;
    for (int i = 0; i < b.tcpRuns + b.ptyRuns; ++i) {
        // The pseudo-terminal runs are spread among the TCP ones.
        const bool pty = i % 5 == 4 && i / 5 < b.ptyRuns;
        const auto& list = Kinds(pty ? Link::Pty : Link::Tcp);
        kinds.push_back(&list[static_cast<std::size_t>(b.offset + i) % list.size()]);
    }
    const auto failures = Soak(kinds, 12);
    for (const std::string& f : failures)
        ADD_FAILURE() << f;
    EXPECT_EQ(failures.size(), 0u) << "of " << kinds.size() << " runs";
}

// 200 runs over TCP and 50 over a pseudo-terminal, in five tests that ctest can overlap.
INSTANTIATE_TEST_SUITE_P(, SoakBatch,
                         testing::Values(Batch{40, 10, 0}, Batch{40, 10, 1}, Batch{40, 10, 2},
                                         Batch{40, 10, 3}, Batch{40, 10, 5}),
                         [](const testing::TestParamInfo<Batch>& info) {
                             return "Batch" + std::to_string(info.index + 1);
                         });

}  // namespace
}  // namespace vendilox::reliability
