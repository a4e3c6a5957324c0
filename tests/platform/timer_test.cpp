// The window timer on the real loop, with short intervals.
#include "platform/qt/qt_timer.hpp"

#include <gtest/gtest.h>

#include <QTimer>

#include <stdexcept>

#include "support.hpp"

namespace vendilox::platform::qt {
namespace {

using test::RunLoopFor;
using test::WaitUntil;

class QtTimerTest : public testing::Test {
  protected:
    QtTimerTest() {
        timer.SetOnTimer([this] { ++ticks; });
    }
    test::RecordingApplication app;
    QtTimer timer{app, 1000};
    int ticks = 0;
};

TEST_F(QtTimerTest, TicksAgainAfterEveryIntervalUntilStopped) {
    EXPECT_FALSE(timer.Running());
    timer.SetInterval(10);
    timer.Start();
    EXPECT_TRUE(timer.Running());
    ASSERT_TRUE(WaitUntil([&] { return ticks >= 3; }));

    timer.Stop();
    EXPECT_FALSE(timer.Running());
    const int stoppedAt = ticks;
    RunLoopFor(50);
    EXPECT_EQ(ticks, stoppedAt);
}

// A countdown that every Start (or same-interval SetInterval) restarted would never end while
// they keep coming faster than the interval.
TEST_F(QtTimerTest, StartAndTheSameIntervalDoNotRestartTheCountdown) {
    timer.SetInterval(60);
    timer.Start();
    QTimer repeater;
    QObject::connect(&repeater, &QTimer::timeout, [&] {
        timer.Start();
        timer.SetInterval(60);
    });
    repeater.start(5);
    EXPECT_TRUE(WaitUntil([&] { return ticks >= 1; }, 3000));
}

TEST_F(QtTimerTest, IntervalZeroRunsWithoutTicking) {
    timer.SetInterval(0);
    timer.Start();
    EXPECT_TRUE(timer.Running());
    RunLoopFor(50);
    EXPECT_EQ(ticks, 0);

    // A new interval on the running timer takes effect at once.
    timer.SetInterval(10);
    EXPECT_TRUE(WaitUntil([&] { return ticks >= 1; }));
}

TEST_F(QtTimerTest, StoppedInItsOwnHandlerTicksOnce) {
    timer.SetOnTimer([&] {
        ++ticks;
        timer.Stop();
    });
    timer.SetInterval(5);
    timer.Start();
    ASSERT_TRUE(WaitUntil([&] { return ticks == 1; }));
    RunLoopFor(40);
    EXPECT_EQ(ticks, 1);
}

TEST_F(QtTimerTest, HandlerErrorIsShownAndTheTimerGoesOn) {
    timer.SetOnTimer([&] {
        ++ticks;
        throw std::runtime_error("tick failed");
    });
    timer.SetInterval(5);
    timer.Start();
    ASSERT_TRUE(WaitUntil([&] { return ticks >= 2; }));
    EXPECT_EQ(app.Exceptions.front(), "tick failed");
    EXPECT_TRUE(timer.Running());
}

}  // namespace
}  // namespace vendilox::platform::qt
