// The serial link against a real pseudo-terminal pair: the test holds the master side, the port
// opens the slave device.
#include "platform/qt/qt_serial_port.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>

#include <string>
#include <vector>

#include "support.hpp"

namespace vendilox::platform::qt {
namespace {

using test::RunLoopFor;
using test::WaitUntil;

class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            slave_ = ::ptsname(master_);
        }
    }
    ~PseudoTerminal() { CloseMaster(); }
    const std::string& SlavePath() const { return slave_; }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the port wrote so far.
    std::string Received() {
        char buffer[4096];
        for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;) {
            received_.append(buffer, static_cast<std::size_t>(n));
        }
        return received_;
    }
    void CloseMaster() {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

  private:
    int master_ = -1;
    std::string slave_;
    std::string received_;
};

class QtSerialPortTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(pty.SlavePath().empty()) << "no pseudo-terminal";
        port.SetPortName(pty.SlavePath());
        port.SetOnDataReceived(
            [this](const char* data, std::size_t length) { chunks.emplace_back(data, length); });
    }
    std::string AllReceived() const {
        std::string all;
        for (const auto& chunk : chunks)
            all += chunk;
        return all;
    }

    PseudoTerminal pty;
    test::RecordingApplication app;
    QtSerialPort port{app};
    std::vector<std::string> chunks;
};

TEST_F(QtSerialPortTest, OpensAPseudoTerminalThatHasNoModemLines) {
    EXPECT_EQ(port.PortName(), pty.SlavePath());
    port.Open();
    EXPECT_TRUE(port.IsOpen());
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    port.Close();  // closing a closed port does nothing
}

TEST_F(QtSerialPortTest, DeliversEveryByteInOrderInChunksOfAtMost512) {
    port.Open();
    std::string response = std::string(
        "\x02"
        "ABC\0DEF\x1C"
        "\r\n\x03",
        12);
    std::string bulk;
    for (int i = 0; i < 2000; ++i)
        bulk.push_back(static_cast<char>(i % 256));
    pty.Send(response);
    ASSERT_TRUE(WaitUntil([&] { return AllReceived().size() >= response.size(); }));
    EXPECT_EQ(AllReceived(), response) << "zero bytes and line ends pass unchanged";

    pty.Send(bulk);
    ASSERT_TRUE(WaitUntil([&] { return AllReceived().size() >= response.size() + bulk.size(); }));
    EXPECT_EQ(AllReceived(), response + bulk);
    for (const auto& chunk : chunks) {
        EXPECT_GE(chunk.size(), 1u);
        EXPECT_LE(chunk.size(), QtSerialPort::kMaxChunk);
    }
}

TEST_F(QtSerialPortTest, NextChunkWaitsForTheHandlerEvenAcrossANestedLoop) {
    int depth = 0;
    int deepest = 0;
    port.SetOnDataReceived([&](const char* data, std::size_t length) {
        ++depth;
        deepest = std::max(deepest, depth);
        chunks.emplace_back(data, length);
        if (chunks.size() == 1) {
            // A message box in the handler: more bytes arrive while its loop runs.
            pty.Send("second");
            QEventLoop nested;
            QTimer::singleShot(50, &nested, &QEventLoop::quit);
            nested.exec();
        }
        --depth;
    });
    port.Open();
    pty.Send("first");
    ASSERT_TRUE(WaitUntil([&] { return AllReceived() == "firstsecond"; }));
    EXPECT_EQ(deepest, 1);
}

TEST_F(QtSerialPortTest, WritesArriveOnTheLine) {
    port.Open();
    const std::string frame = std::string(
        "\x02"
        "B1\0\x1C"
        "T00\x03",
        9);
    port.Write(frame.data(), frame.size());
    port.Write("", 0);
    EXPECT_TRUE(WaitUntil([&] { return pty.Received().size() >= frame.size(); }));
    EXPECT_EQ(pty.Received(), frame);
}

TEST_F(QtSerialPortTest, SendQueueHoldsAtMost1024Bytes) {
    port.Open();
    const std::string first(1000, 'a');
    const std::string tooMuch(25, 'b');
    const std::string fits(24, 'c');
    port.Write(first.data(), first.size());
    EXPECT_THROW(port.Write(tooMuch.data(), tooMuch.size()), ELinkError);
    port.Write(fits.data(), fits.size());
    EXPECT_THROW(port.Write("d", 1), ELinkError);

    ASSERT_TRUE(WaitUntil([&] { return pty.Received().size() >= 1024; }));
    EXPECT_EQ(pty.Received(), first + fits) << "a refused write leaves nothing in the queue";
    // Sent bytes no longer count against the queue.
    EXPECT_TRUE(WaitUntil([&] {
        try {
            port.Write(first.data(), first.size());
            return true;
        } catch (const ELinkError&) {
            return false;
        }
    }));
}

TEST_F(QtSerialPortTest, WritingToAClosedPortRaises) {
    EXPECT_THROW(port.Write("x", 1), ELinkError);
    port.Open();
    port.Close();
    EXPECT_THROW(port.Write("x", 1), ELinkError);
}

TEST_F(QtSerialPortTest, PortIsOpenedExclusively) {
    port.Open();
    QtSerialPort second(app);
    second.SetPortName(pty.SlavePath());
    EXPECT_THROW(second.Open(), ELinkError);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(QtSerialPortTest, ReceptionStopsWhenTheDeviceGoesAway) {
    port.Open();
    pty.CloseMaster();
    EXPECT_TRUE(WaitUntil([&] { return !port.IsOpen(); }));
    EXPECT_THROW(port.Write("x", 1), ELinkError);
    EXPECT_TRUE(chunks.empty());
}

TEST(QtSerialPortOpenTest, PortThatCannotBeOpenedRaisesAndStaysClosed) {
    test::RecordingApplication app;
    for (const char* name : {"/dev/vendilox-no-such-port", "COM1", ""}) {
        SCOPED_TRACE(name);
        QtSerialPort port(app);
        port.SetPortName(name);
        try {
            port.Open();
            ADD_FAILURE() << "opened";
        } catch (const ELinkError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("\"") + name + "\""),
                      std::string::npos)
                << e.what();
        }
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.PortName(), name);
    }
}

}  // namespace
}  // namespace vendilox::platform::qt
