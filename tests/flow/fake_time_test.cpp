// The virtual time that the flow tests rely on: if these orderings were wrong, every timer and
// link test of the window object would prove nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake_platform.hpp"

namespace vendilox::platform::fake {
namespace {

struct FakeTimeTest : ::testing::Test {
    FakeMessageBox boxes;
    FakeApplication app{boxes};
    FakeLoop loop{app};
    std::vector<std::string> seen;

    void Record(const std::string& what) {
        seen.push_back(what + "@" + std::to_string(loop.Now()));
    }
};

TEST_F(FakeTimeTest, EventsRunInTimeOrderThenPostingOrderAtTheirOwnTime) {
    loop.Post(30, [&] { Record("c"); });
    loop.Post(10, [&] { Record("a"); });
    loop.Post(30, [&] { Record("d"); });
    loop.Post(10, [&] {
        Record("b");
        loop.Post(20, [&] { Record("posted-by-b"); });
    });
    loop.AdvanceTo(29);
    EXPECT_EQ(seen, (std::vector<std::string>{"a@10", "b@10", "posted-by-b@20"}));
    EXPECT_EQ(loop.Now(), 29u);
    loop.AdvanceBy(1);
    EXPECT_EQ(seen.back(), "d@30");
}

TEST_F(FakeTimeTest, NothingIsDispatchedOnceTheEndWasRequested) {
    loop.Post(10, [&] {
        Record("ends");
        app.Terminate();
    });
    loop.Post(10, [&] { Record("too late"); });
    loop.AdvanceTo(100);
    EXPECT_EQ(seen, (std::vector<std::string>{"ends@10"}));
}

TEST_F(FakeTimeTest, AnExceptionOfAHandlerIsShownAndTheLoopGoesOn) {
    loop.Post(5, [] { throw std::runtime_error("boom"); });
    loop.Post(6, [&] { Record("next"); });
    loop.AdvanceTo(10);
    EXPECT_EQ(app.Exceptions, (std::vector<std::string>{"boom"}));
    EXPECT_EQ(seen, (std::vector<std::string>{"next@6"}));
}

TEST_F(FakeTimeTest, TimerTicksOnItsGridAndNotBefore) {
    FakeTimer timer(loop);
    timer.SetOnTimer([&] { Record("tick"); });
    timer.SetInterval(100);
    timer.Start();
    loop.AdvanceTo(99);
    EXPECT_EQ(timer.Ticks, 0);
    loop.AdvanceTo(100);
    EXPECT_EQ(timer.Ticks, 1);
    timer.Start();  // already running: the countdown goes on
    loop.AdvanceTo(199);
    EXPECT_EQ(timer.Ticks, 1);
    loop.AdvanceTo(300);
    EXPECT_EQ(seen, (std::vector<std::string>{"tick@100", "tick@200", "tick@300"}));
    timer.Stop();
    loop.AdvanceTo(1000);
    EXPECT_EQ(timer.Ticks, 3);
}

TEST_F(FakeTimeTest, TimerIntervalChanges) {
    FakeTimer timer(loop);
    timer.SetInterval(100);
    timer.Start();
    loop.AdvanceTo(60);
    timer.SetInterval(100);  // the same interval: nothing restarts
    loop.AdvanceTo(100);
    EXPECT_EQ(timer.Ticks, 1);
    loop.AdvanceTo(150);
    timer.SetInterval(40);  // a new one restarts the countdown from now
    loop.AdvanceTo(189);
    EXPECT_EQ(timer.Ticks, 1);
    loop.AdvanceTo(190);
    EXPECT_EQ(timer.Ticks, 2);

    FakeTimer zero(loop);
    zero.Start();
    loop.AdvanceBy(1000000);
    EXPECT_TRUE(zero.Running());
    EXPECT_EQ(zero.Ticks, 0);
}

TEST_F(FakeTimeTest, BlockingWaitDelaysWhatFellDueAndItRunsAfterwardsInOrder) {
    FakeClock clock(loop);
    FakeTimer timer(loop);
    timer.SetInterval(250);
    timer.SetOnTimer([&] { Record("tick"); });
    timer.Start();
    loop.Post(10, [&] {
        Record("blocks");
        clock.BlockingWait(1000);
        Record("blocked");
    });
    loop.Post(600, [&] { Record("chunk"); });
    loop.AdvanceTo(20);
    // The ticks the wait swallowed come once, before the chunk that fell due after them, and
    // the timer keeps its grid.
    EXPECT_EQ(seen,
              (std::vector<std::string>{"blocks@10", "blocked@1010", "tick@1010", "chunk@1010"}));
    loop.AdvanceTo(1250);
    EXPECT_EQ(seen.back(), "tick@1250");
}

TEST_F(FakeTimeTest, ClockIsTheBasePlusVirtualTime) {
    FakeClock clock(loop, {2018, 12, 31, 23, 59, 59});
    loop.AdvanceTo(999);
    EXPECT_EQ(clock.LocalNow().Second, 59);
    loop.AdvanceTo(1000);
    const TDateTime now = clock.LocalNow();
    EXPECT_EQ((std::vector<int>{now.Year, now.Month, now.Day, now.Hour, now.Minute, now.Second}),
              (std::vector<int>{2019, 1, 1, 0, 0, 0}));
}

TEST_F(FakeTimeTest, SerialSendQueueDrainsAtTheLineSpeed) {
    FakeSerialPort port(loop);
    EXPECT_THROW(port.Write("x", 1), ELinkError);  // closed
    port.OpenError = "no such port";
    EXPECT_THROW(port.Open(), ELinkError);
    EXPECT_FALSE(port.IsOpen());
    port.OpenError.reset();
    port.Open();
    port.Write(std::string(1000, 'a').data(), 1000);
    EXPECT_THROW(port.Write(std::string(25, 'b').data(), 25), ELinkError);
    port.Write(std::string(24, 'c').data(), 24);  // exactly full
    loop.AdvanceTo(100);                          // 96 bytes went out on the line
    EXPECT_EQ(port.QueuedBytes(), 1024u - 96u);
    port.Write(std::string(96, 'd').data(), 96);
    ASSERT_EQ(port.Writes.size(), 3u);
    EXPECT_EQ(port.Writes[2].At, 100u);
    EXPECT_EQ(port.RefusedWrites, 2);
}

TEST_F(FakeTimeTest, SocketPlaysItsScript) {
    FakeClientSocket socket(loop);
    socket.SetOnConnect([&] { Record("connect"); });
    socket.SetOnRead([&] { Record("read " + std::to_string(socket.ReceiveLength())); });
    socket.SetOnError([&](TErrorEvent, int& code) { Record("error " + std::to_string(code)); });
    socket.InjectRead(5, "early");  // before the connection: lost
    socket.Outcome.AfterMs = 20;
    socket.SetActive(true);
    socket.InjectRead(30, "abc");
    socket.InjectRead(40, "de");
    socket.InjectError(50);
    socket.InjectRead(60, "after the reset");
    loop.AdvanceTo(100);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"connect@20", "read 3@30", "read 5@40", "error 10054@50"}));

    seen.clear();
    socket.SetActive(false);
    socket.Outcome.Kind = FakeClientSocket::TOutcome::TKind::Refuse;
    socket.SetActive(true);
    EXPECT_EQ(socket.SendBuf("x", 1), -1);  // not connected: a send error follows
    loop.AdvanceTo(200);
    EXPECT_EQ(seen, (std::vector<std::string>{"error 10057@100", "error 10061@120"}));
    EXPECT_TRUE(socket.Sent.empty());
}

TEST_F(FakeTimeTest, ConnectThatNeverCompletesFailsAfterTheBound) {
    FakeClientSocket socket(loop);
    socket.SetOnConnect([&] { Record("connect"); });
    socket.SetOnError([&](TErrorEvent event, int& code) {
        Record(std::string(event == TErrorEvent::Connect ? "connect error " : "error ") +
               std::to_string(code));
    });
    socket.Outcome.Kind = FakeClientSocket::TOutcome::TKind::Never;
    loop.AdvanceTo(1000);
    socket.SetActive(true);
    loop.AdvanceTo(1000 + IClientSocket::kConnectTimeoutMs - 1);
    EXPECT_TRUE(seen.empty());
    loop.AdvanceTo(1000 + IClientSocket::kConnectTimeoutMs);
    EXPECT_EQ(seen, std::vector<std::string>{"connect error 10060@22000"});

    // An attempt given up before the bound reports nothing.
    seen.clear();
    socket.SetActive(false);
    socket.SetActive(true);
    loop.AdvanceBy(100);
    socket.SetActive(false);
    loop.AdvanceBy(IClientSocket::kConnectTimeoutMs);
    EXPECT_TRUE(seen.empty());
}

TEST_F(FakeTimeTest, WindowClosesOnlyWhenTheQueryGrantsIt) {
    struct Events : IWindowEvents {
        bool grant = false;
        int shows = 0, closes = 0;
        void FormShow() override { ++shows; }
        bool FormCloseQuery() override { return grant; }
        void FormClose() override { ++closes; }
    } events;
    FakeWindow window(app);
    window.SetEvents(&events);
    window.Close();
    EXPECT_FALSE(app.Terminated());
    window.AddSystemMenuIcon();
    window.AddSystemMenuIcon();
    EXPECT_EQ(events.shows, 1);  // rebuilt once
    events.grant = true;
    window.UserClose();
    EXPECT_EQ(events.closes, 1);
    EXPECT_TRUE(app.Terminated());
}

}  // namespace
}  // namespace vendilox::platform::fake
