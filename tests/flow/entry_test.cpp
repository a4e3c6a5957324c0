// The process entry on the fake platform: one instance at a time, the application's title, the
// loop, and the exit code that reaches the system.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/Entry.hpp"
#include "flow_support.hpp"
#include "platform/fake/fake_platform.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox {
namespace {

using namespace flowtest;
using platform::TBoxIcon;
using platform::TBoxOwner;
using platform::fake::FakeNamedMutexes;
using platform::fake::FakePlatform;
using platform::fake::TShownBox;

const std::vector<std::string> kPurchase = {"0", "100", "00000000"};

struct EntryTest : ::testing::Test {
    void WriteSettings() { WriteFile(dir.IniPath(), TIni{}.Text(dir.Dir())); }
    int Run(FakePlatform& platform, std::vector<std::string> params = kPurchase) {
        return RunVendilox(platform, std::move(params), dir.ExePath());
    }

    TTempDir dir;
    FakeNamedMutexes system;
};

TEST_F(EntryTest, SecondInstanceIsRefusedAndTouchesNothing) {
    FakePlatform first(&system);
    FakePlatform second(&system);
    int secondExit = -1;
    bool firstStillHolds = false;
    // While the first instance runs its loop, a second one is started.
    first.App.OnRun = [&] {
        secondExit = Run(second);
        firstStillHolds = first.Guard.Holds();
    };
    Run(first);

    EXPECT_EQ(secondExit, 1);
    EXPECT_EQ(second.Boxes.Shown,
              (std::vector<TShownBox>{{"vendilox_ecr", W("vendilox_ecr už jednou běží."_w1250),
                                       TBoxIcon::Warning, TBoxOwner::None}}));
    EXPECT_EQ(second.FormsCreated, 0);
    EXPECT_EQ(second.App.Title(), "");
    EXPECT_FALSE(second.App.Terminated());
    EXPECT_FALSE(std::filesystem::exists(dir.IniPath()));
    EXPECT_FALSE(std::filesystem::exists(dir.ResultPath()));
    EXPECT_TRUE(firstStillHolds);
}

TEST_F(EntryTest, RunEndsWithTheFlowsExitCodeAndReleasesTheGuard) {
    WriteSettings();
    FakePlatform platform(&system);
    platform.CommPort1.InjectData(1000,
                                  TerminalFrame({"R000", "T00", "B100", "P4111111111111111"}));
    EXPECT_EQ(Run(platform), 0);
    EXPECT_EQ(platform.App.Title(), "Vendilox");
    EXPECT_TRUE(platform.Window.Closed);
    EXPECT_TRUE(system.Held.empty());

    // The name is free again: the next run goes ahead, and a failed check gives 1.
    FakePlatform next(&system);
    EXPECT_EQ(Run(next, {"0"}), 1);
    EXPECT_EQ(next.FormsCreated, 1);
    EXPECT_TRUE(system.Held.empty());
}

TEST_F(EntryTest, UnavailableGuardRunsWithoutIt) {
    WriteSettings();
    FakePlatform platform(&system);
    platform.Guard.Unavailable = true;
    EXPECT_EQ(Run(platform, {"0"}), 1);
    EXPECT_EQ(platform.FormsCreated, 1);
    EXPECT_EQ(platform.Boxes.Shown.size(), 1u);  // the parameter check's, nothing else
}

struct TEscapeCase {
    const char* Name;
    std::function<void()> Throw;
    std::string Shown;
};

class EntryEscapeTest : public EntryTest, public ::testing::WithParamInterface<TEscapeCase> {};

TEST_P(EntryEscapeTest, ErrorLeavingTheLoopIsShownAndGivesExitCodeOne) {
    FakePlatform platform(&system);
    platform.App.OnRun = GetParam().Throw;
    EXPECT_EQ(Run(platform), 1);
    EXPECT_EQ(platform.Boxes.Shown, (std::vector<TShownBox>{{"Vendilox", GetParam().Shown,
                                                             TBoxIcon::Error, TBoxOwner::Window}}));
    EXPECT_TRUE(system.Held.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, EntryEscapeTest,
    ::testing::Values(TEscapeCase{"Exception", [] { throw std::runtime_error("loop failed"); },
                                  "loop failed."},
                      TEscapeCase{"ValueThatIsNoException", [] { throw 42; }, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace vendilox
