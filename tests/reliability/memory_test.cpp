// The real program under valgrind's memcheck: an approved transaction and a refused
// connection, with no memory error and no definite leak. Valgrind slows the program down many
// times; its timers still run in real time, so the bounds here leave it room.
#include <gtest/gtest.h>

#include <unistd.h>

#include "rig.hpp"

namespace vendilox::reliability {
namespace {

constexpr auto kBound = 120s;
const std::vector<std::string> kPurchase = {"0", "12345", "AB12CD34"};

class Memcheck : public testing::Test {
  protected:
    void SetUp() override {
#ifdef VENDILOX_PROGRAM_SANITIZED
        GTEST_SKIP() << "the program is built with the sanitizers, which check its memory "
                        "themselves and cannot run under valgrind";
#endif
        if (std::string_view(VENDILOX_VALGRIND).empty() || ::access(VENDILOX_VALGRIND, X_OK) != 0)
            GTEST_SKIP() << "valgrind is not installed (scripts/setup installs it)";
    }

    void TearDown() override {
        if (HasFailure() && program_) {
            dir_.Keep();
            ADD_FAILURE() << "run directory kept: " << dir_.Path() << "\n" << program_->ErrText();
        }
    }

    void Start() {
        program_ = dir_.Start(
            kPurchase, {VENDILOX_VALGRIND, "--error-exitcode=99", "--leak-check=full",
                        "--errors-for-leak-kinds=definite",
                        "--suppressions=" VENDILOX_VALGRIND_SUPPRESSIONS, "--num-callers=30"});
    }

    // Valgrind's summary of the run; its exit code 99 would stand for errors it found.
    void ExpectClean(int exitCode) {
        EXPECT_EQ(program_->ExitCode(), exitCode) << "99 means memcheck found errors";
        bool summary = false;
        for (const Line& line : program_->Err()) {
            if (line.text.find("ERROR SUMMARY:") != std::string::npos) {
                summary = true;
                EXPECT_NE(line.text.find("ERROR SUMMARY: 0 errors"), std::string::npos)
                    << line.text;
            }
            EXPECT_EQ(line.text.find("definitely lost: "), line.text.find("definitely lost: 0 "))
                << line.text;
        }
        EXPECT_TRUE(summary) << "no valgrind summary";
    }

    RunDir dir_;
    std::unique_ptr<Process> program_;
};

TEST_F(Memcheck, ApprovedTransaction) {
    Process sim({VENDILOX_TERMINAL_SIM, "--count", "1", "--listen", "127.0.0.1:0",
                 "--reply-timeout", "60000"},
                {}, dir_.Path());
    ASSERT_TRUE(
        Pump({&sim}, Clock::now() + 10s, [&] { return !sim.Out().empty() || sim.Finished(); }));
    ASSERT_FALSE(sim.Out().empty()) << sim.ErrText();
    const std::string& first = sim.Out()[0].text;
    dir_.WriteSettings({.tcpPort = std::stoi(first.substr(first.rfind(':') + 1))});
    Start();
    ASSERT_TRUE(Pump({program_.get(), &sim}, Clock::now() + kBound, [&] {
        return program_->Finished();
    })) << "the run did not end";
    ExpectClean(0);
    EXPECT_EQ(LastStatus(*program_), "blue Transakce provedena");
    Pump({&sim}, Clock::now() + 10s, [&] { return sim.Finished(); });
    ASSERT_EQ(sim.Out().size(), 2u);
    const std::string reply = ParseFields(sim.Out()[1].text)["reply_bytes"];
    ASSERT_EQ(reply.size(), 38u);
    EXPECT_EQ(ReadFile(dir_.ResultFile()),
              ExpectedReport(ApprovedPurchase(), reply.substr(13, 12)));
}

TEST_F(Memcheck, RefusedConnection) {
    dir_.WriteSettings({.tcpPort = UnusedLoopbackPort()});
    Start();
    ASSERT_TRUE(Pump({program_.get()}, Clock::now() + kBound, [&] { return program_->Finished(); }))
        << "the run did not end";
    ExpectClean(1);
    EXPECT_EQ(LastStatus(*program_), "blue Nelze navázat spojení");
    EXPECT_EQ(ReadFile(dir_.ResultFile()), "");
}

}  // namespace
}  // namespace vendilox::reliability
