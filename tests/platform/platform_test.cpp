// The Qt platform as the program's entry uses it: the window's components as designed, the
// close on a termination signal, and what unattended mode reports.
#include "platform/qt/qt_platform.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "protocol/cp1250.hpp"
#include "support.hpp"

namespace vendilox::platform::qt {
namespace {

using test::WaitUntil;

class Events : public IWindowEvents {
  public:
    void FormShow() override {}
    bool FormCloseQuery() override {
        ++Queries;
        return CanClose;
    }
    void FormClose() override { ++Closes; }
    bool CanClose = false;
    int Queries = 0;
    int Closes = 0;
};

class QtPlatformTest : public testing::Test {
  protected:
    std::vector<std::string> lines;
    QtPlatform platform{[this](std::string_view kind, std::string_view text) {
        lines.push_back(std::string(kind) + ": " + std::string(text));
    }};
};

TEST_F(QtPlatformTest, CreatesTheWindowWithItsComponentsAsDesigned) {
    EXPECT_EQ(platform.Form(), nullptr);
    TForm1Components c = platform.CreateForm1();
    ASSERT_NE(platform.Form(), nullptr);
    EXPECT_EQ(platform.Form()->windowTitle(), QStringLiteral("Terminal"));
    EXPECT_EQ(c.Panel2.Caption(), "Nákup"_w1250);
    struct Design {
        ITimer& timer;
        std::uint32_t interval;
    };
    for (const Design& d :
         {Design{c.Timer1, 4000}, Design{c.Timer2, 120000}, Design{c.Timer3, 5000}}) {
        EXPECT_EQ(d.timer.Interval(), d.interval);
        EXPECT_FALSE(d.timer.Running());
    }
    EXPECT_EQ(c.CommPort1.PortName(), "COM1");
    EXPECT_FALSE(c.CommPort1.IsOpen());
    EXPECT_FALSE(c.ClientSocket1.Active());
    EXPECT_EQ(&c.Application, &platform.Application());
    EXPECT_EQ(&c.Boxes, &platform.MessageBoxes());

    TForm1Components again = platform.CreateForm1();
    EXPECT_EQ(&again.Timer1, &c.Timer1);
    EXPECT_EQ(&again.Frame, &c.Frame);
}

TEST_F(QtPlatformTest, TerminationSignalIsACloseRequestThroughTheQuery) {
    TForm1Components c = platform.CreateForm1();
    Events events;
    c.Frame.SetEvents(&events);
    platform.Form()->show();

    for (int signal : {SIGTERM, SIGINT}) {
        const int before = events.Queries;
        ASSERT_EQ(::raise(signal), 0);
        ASSERT_TRUE(WaitUntil([&] { return events.Queries == before + 1; }));
    }
    EXPECT_EQ(events.Closes, 0) << "refused while the program does not allow closing";
    EXPECT_FALSE(c.Application.Terminated());
    EXPECT_TRUE(platform.Form()->isVisible());

    events.CanClose = true;
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(WaitUntil([&] { return events.Closes == 1; }));
    EXPECT_TRUE(c.Application.Terminated());
    EXPECT_FALSE(platform.Form()->isVisible());
}

TEST_F(QtPlatformTest, UnattendedModeReportsBoxesCaptionsAndLogLines) {
    TForm1Components c = platform.CreateForm1();
    c.Panel2.SetCaption("Nákup na terminálu"_w1250);
    c.Memo1.AppendLine("Otevřen port pro komunikaci..."_w1250);
    c.Panel2.SetColor(TColor::Red);
    c.Panel2.SetCaption("Chyba CRC");
    c.Boxes.Show("Chyba", "Nelze navázat spojení"_w1250, TBoxIcon::Error, TBoxOwner::Window);
    platform.MessageBoxes().Show("vendilox_ecr", "vendilox_ecr už jednou běží."_w1250,
                                 TBoxIcon::Warning, TBoxOwner::None);

    EXPECT_EQ(lines, (std::vector<std::string>{
                         "status: blue " + std::string("Nákup na terminálu"_w1250),
                         "log: " + std::string("Otevřen port pro komunikaci..."_w1250),
                         "status: red Chyba CRC",
                         "box: Chyba: " + std::string("Nelze navázat spojení"_w1250),
                         "box: vendilox_ecr: " + std::string("vendilox_ecr už jednou běží."_w1250),
                     }));
}

}  // namespace
}  // namespace vendilox::platform::qt
