// The application object's loop and end request, the message boxes and the blocking wait.
#include "platform/qt/qt_application.hpp"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include <string>
#include <vector>

#include "platform/qt/qt_timer.hpp"
#include "protocol/cp1250.hpp"
#include "support.hpp"

namespace vendilox::platform::qt {
namespace {

using test::WaitUntil;

// Records the boxes the application shows, answered at once.
class EchoedBoxes {
  public:
    TEcho Echo() {
        return [this](std::string_view kind, std::string_view text) {
            Lines.push_back(std::string(kind) + ": " + std::string(text));
        };
    }
    std::vector<std::string> Lines;
};

class ShowingWindow : public QWidget {
  public:
    std::function<void()> OnShow;

  protected:
    void showEvent(QShowEvent*) override {
        if (OnShow)
            OnShow();
    }
};

// A safety net: a loop that the test expects to end would otherwise hang the whole run.
struct Watchdog {
    explicit Watchdog(QtApplication& app) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            fired = true;
            app.Terminate();
        });
        timer.start(5000);
    }
    QTimer timer;
    bool fired = false;
};

TEST(QtApplicationTest, EndRequestedDuringTheFirstShowSkipsTheLoop) {
    EchoedBoxes boxes;
    QtMessageBox messageBoxes(boxes.Echo());
    QtApplication app(messageBoxes);
    ShowingWindow window;
    window.OnShow = [&] {
        app.SetExitCode(1);
        app.Terminate();
    };
    app.SetMainWindow(&window);
    Watchdog watchdog(app);

    app.Run();

    EXPECT_FALSE(watchdog.fired) << "Run waited for more than the first show event";
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(app.ExitCode(), 1);
}

TEST(QtApplicationTest, EndTakesEffectWhenTheRequestingHandlerHasFinished) {
    EchoedBoxes boxes;
    QtMessageBox messageBoxes(boxes.Echo());
    QtApplication app(messageBoxes);
    ShowingWindow window;
    app.SetMainWindow(&window);
    std::vector<std::string> steps;
    QtTimer timer(app, 1);
    timer.SetOnTimer([&] {
        steps.push_back("tick");
        timer.Stop();
        app.Terminate();
        steps.push_back("after request");
        // A nested loop (a message box) opened after the request runs to its own end.
        QEventLoop nested;
        QTimer::singleShot(20, &nested, [&] {
            steps.push_back("nested loop ended by its owner");
            nested.quit();
        });
        nested.exec();
        steps.push_back("handler done");
    });
    timer.Start();
    Watchdog watchdog(app);

    app.Run();

    EXPECT_FALSE(watchdog.fired);
    EXPECT_EQ(steps, (std::vector<std::string>{"tick", "after request",
                                               "nested loop ended by its owner", "handler done"}));
}

TEST(QtApplicationTest, ShowExceptionUsesTheTitleAndTheErrorText) {
    EchoedBoxes boxes;
    QtMessageBox messageBoxes(boxes.Echo());
    QtApplication app(messageBoxes);
    app.SetTitle("Vendilox");
    app.ShowException("'1x' is not a valid integer value");
    app.ShowException("Soubor nelze vytvořit."_w1250);
    EXPECT_EQ(boxes.Lines, (std::vector<std::string>{
                               "box: Vendilox: '1x' is not a valid integer value.",
                               "box: Vendilox: " + std::string("Soubor nelze vytvořit."_w1250)}));
}

struct BoxCase {
    const char* name;
    TBoxIcon icon;
    TBoxOwner owner;
    QMessageBox::Icon expectedIcon;
    Qt::WindowModality expectedModality;
    bool expectOwner;
};

class QtMessageBoxTest : public testing::TestWithParam<BoxCase> {};

// A real box on the offscreen display, answered by the test once it is up.
TEST_P(QtMessageBoxTest, ShowsOneOkButtonAndReturnsWhenAnswered) {
    const BoxCase& c = GetParam();
    QWidget owner;
    owner.show();
    QtMessageBox boxes;
    boxes.SetOwnerWindow(&owner);

    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible())
                continue;
            seen = true;
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Chybné údaje"));
            EXPECT_EQ(box->text(), QStringLiteral("Částka musí být číslo!"));
            EXPECT_EQ(box->icon(), c.expectedIcon);
            EXPECT_EQ(box->windowModality(), c.expectedModality);
            EXPECT_EQ(box->parentWidget() == &owner, c.expectOwner);
            EXPECT_EQ(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll.start(5);
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    giveUp.start(5000);

    boxes.Show("Chybné údaje"_w1250, "Částka musí být číslo!"_w1250, c.icon, c.owner);
    EXPECT_TRUE(seen);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, QtMessageBoxTest,
    testing::Values(BoxCase{"InformationTaskModal", TBoxIcon::Information, TBoxOwner::TaskModal,
                            QMessageBox::Information, Qt::ApplicationModal, false},
                    BoxCase{"WarningWithoutOwner", TBoxIcon::Warning, TBoxOwner::None,
                            QMessageBox::Warning, Qt::NonModal, false},
                    BoxCase{"ErrorOwnedByTheWindow", TBoxIcon::Error, TBoxOwner::Window,
                            QMessageBox::Critical, Qt::WindowModal, true}),
    [](const testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

TEST(QtClockTest, BlockingWaitHandlesNothingUntilItIsOver) {
    test::RecordingApplication app;
    QtTimer timer(app, 5);
    int ticks = 0;
    timer.SetOnTimer([&] {
        ++ticks;
        timer.Stop();
    });
    timer.Start();
    QtClock clock;
    QElapsedTimer elapsed;
    elapsed.start();

    clock.BlockingWait(50);

    EXPECT_GE(elapsed.elapsed(), 50);
    EXPECT_EQ(ticks, 0) << "a tick ran inside the wait";
    EXPECT_TRUE(WaitUntil([&] { return ticks == 1; })) << "the tick due meanwhile comes after it";
}

}  // namespace
}  // namespace vendilox::platform::qt
