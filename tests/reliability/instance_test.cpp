// Twenty starts at once in one network namespace: the single-instance guard lets exactly one
// run, and refuses every other one with its warning and exit code 1 before it touches any file.
#include <gtest/gtest.h>

#include "rig.hpp"

namespace vendilox::reliability {
namespace {

TEST(SingleInstance, TwentyStartsAtOnceRunOnlyOne) {
    constexpr int kStarts = 20;
    // The response comes 2 s after the request, which keeps the winner busy while the others
    // start.
    Process sim({VENDILOX_TERMINAL_SIM, "--count", "1", "--listen", "127.0.0.1:0",
                 "--response-delay", "2000"},
                {}, fs::temp_directory_path());
    ASSERT_TRUE(
        Pump({&sim}, Clock::now() + 10s, [&] { return !sim.Out().empty() || sim.Finished(); }));
    ASSERT_FALSE(sim.Out().empty()) << sim.ErrText();
    const std::string& first = sim.Out()[0].text;
    const int port = std::stoi(first.substr(first.rfind(':') + 1));

    std::vector<std::unique_ptr<RunDir>> dirs;
    std::vector<std::string> settings;
    for (int i = 0; i < kStarts; ++i) {
        dirs.push_back(std::make_unique<RunDir>());
        dirs.back()->WriteSettings({.tcpPort = port});
        settings.push_back(ReadFile(dirs.back()->SettingsFile()));
    }
    std::vector<std::unique_ptr<Process>> runs;
    for (const auto& dir : dirs)
        runs.push_back(dir->Start({"0", "12345", "AB12CD34"}));

    const Clock::time_point deadline = Clock::now() + 60s;
    std::vector<pollfd> fds;
    auto allDone = [&] {
        for (const auto& p : runs) {
            if (!p->Finished())
                return false;
        }
        return sim.Finished();
    };
    while (!allDone() && Clock::now() < deadline) {
        fds.clear();
        sim.AddPollFds(fds);
        for (const auto& p : runs)
            p->AddPollFds(fds);
        ::poll(fds.data(), fds.size(), 20);
        sim.Handle(fds);
        for (const auto& p : runs)
            p->Handle(fds);
    }
    ASSERT_TRUE(allDone()) << "a start did not end";

    int ran = 0;
    for (int i = 0; i < kStarts; ++i) {
        const Process& p = *runs[static_cast<std::size_t>(i)];
        const RunDir& dir = *dirs[static_cast<std::size_t>(i)];
        SCOPED_TRACE("start " + std::to_string(i) + ":\n" + p.ErrText());
        EXPECT_EQ(SanitizerReport(p), "");
        if (!Lines(p, "status").empty()) {
            ++ran;
            EXPECT_EQ(p.ExitCode(), 0);
            EXPECT_EQ(LastStatus(p), "blue Transakce provedena");
            EXPECT_TRUE(Lines(p, "box").empty());
            const std::string reply = sim.Out().size() == 2
                                          ? ParseFields(sim.Out()[1].text)["reply_bytes"]
                                          : std::string();
            ASSERT_EQ(reply.size(), 38u) << "no confirmation";
            EXPECT_EQ(ReadFile(dir.ResultFile()),
                      ExpectedReport(ApprovedPurchase(), reply.substr(13, 12)));
            continue;
        }
        EXPECT_EQ(p.ExitCode(), 1);
        EXPECT_EQ(Lines(p, "box"),
                  std::vector<std::string>{"vendilox_ecr: vendilox_ecr už jednou běží."});
        // Nothing but the program and the settings file as they were written.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
        EXPECT_FALSE(fs::exists(dir.ResultFile()));
        EXPECT_EQ(ReadFile(dir.SettingsFile()), settings[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(ran, 1) << "starts that ran";
    EXPECT_EQ(sim.Out().size(), 2u) << "the terminal saw more than one transaction";
}

}  // namespace
}  // namespace vendilox::reliability
