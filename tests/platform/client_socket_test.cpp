// The TCP link against a real listener on 127.0.0.1.
#include "platform/qt/qt_client_socket.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support.hpp"

namespace vendilox::platform::qt {
namespace {

using test::RunLoopFor;
using test::WaitUntil;

// A listening socket on 127.0.0.1 and the one connection it accepts, both non-blocking so that
// the test can serve while the loop runs.
class Listener {
  public:
    explicit Listener(bool listen = true) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t size = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        // Bound but not listening: the port stays taken and every connection is refused.
        if (listen)
            ::listen(fd_, 1);
    }
    ~Listener() {
        if (peer_ >= 0)
            ::close(peer_);
        ::close(fd_);
    }
    int Port() const { return port_; }
    bool Accept() {
        if (peer_ < 0)
            peer_ = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        return peer_ >= 0;
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Everything received so far; sets closed once the client has closed.
    std::string Received() {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(peer_, buffer, sizeof buffer, 0);
            if (n > 0) {
                received_.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0)
                PeerClosed = true;
            break;
        }
        return received_;
    }
    void Close(bool reset) {
        if (reset) {
            linger hard{1, 0};  // closing then sends a reset instead of an orderly end
            ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        ::close(peer_);
        peer_ = -1;
    }
    bool PeerClosed = false;

  private:
    int fd_ = -1;
    int peer_ = -1;
    int port_ = 0;
    std::string received_;
};

struct TReported {
    TErrorEvent Event;
    int Code;
};

class QtClientSocketTest : public testing::Test {
  protected:
    QtClientSocketTest() {
        socket.SetOnConnect([this] { ++connects; });
        socket.SetOnError([this](TErrorEvent event, int& code) {
            errors.push_back({event, code});
        });
        // The program's read handler: at most 4096 bytes at a time, else nothing.
        socket.SetOnRead([this] {
            const int waiting = socket.ReceiveLength();
            lengths.push_back(waiting);
            if (waiting > 4096)
                return;
            std::string chunk(static_cast<std::size_t>(waiting), '\0');
            chunk.resize(static_cast<std::size_t>(socket.ReceiveBuf(chunk.data(), waiting)));
            chunks.push_back(chunk);
        });
    }
    void Connect(const Listener& listener) {
        socket.SetAddress("127.0.0.1");
        socket.SetPort(listener.Port());
        socket.SetActive(true);
    }
    void ConnectAndAccept(Listener& listener) {
        Connect(listener);
        ASSERT_TRUE(WaitUntil([&] { return connects == 1 && listener.Accept(); }));
    }

    test::RecordingApplication app;
    QtClientSocket socket{app};
    int connects = 0;
    std::vector<TReported> errors;
    std::vector<int> lengths;
    std::vector<std::string> chunks;
};

TEST_F(QtClientSocketTest, ConnectsAndReadsWhatArrives) {
    Listener listener;
    Connect(listener);
    EXPECT_TRUE(socket.Active());
    EXPECT_EQ(connects, 0) << "the connect event comes from the loop";
    ASSERT_TRUE(WaitUntil([&] { return connects == 1 && listener.Accept(); }));

    listener.Send(
        std::string("\x02"
                    "A\0B\x03",
                    5));
    ASSERT_TRUE(WaitUntil([&] { return !chunks.empty(); }));
    EXPECT_EQ(chunks, std::vector<std::string>{std::string("\x02"
                                                           "A\0B\x03",
                                                           5)});
    EXPECT_TRUE(errors.empty());
}

TEST_F(QtClientSocketTest, ExactlyTheLargestChunkIsReadInOnePiece) {
    Listener listener;
    ConnectAndAccept(listener);
    const std::string data(4096, 'x');
    listener.Send(data);
    ASSERT_TRUE(WaitUntil([&] { return !chunks.empty(); }));
    EXPECT_EQ(lengths.front(), 4096);
    EXPECT_EQ(chunks, std::vector<std::string>{data});
}

// The program leaves more than 4096 waiting bytes unread; the socket must then not raise a read
// event on every turn of the loop.
TEST_F(QtClientSocketTest, BytesLeftUnreadEndTheReadEvents) {
    Listener listener;
    ConnectAndAccept(listener);
    listener.Send(std::string(4097, 'x'));
    ASSERT_TRUE(WaitUntil([&] { return !lengths.empty(); }));
    EXPECT_EQ(lengths.front(), 4097);
    RunLoopFor(50);
    EXPECT_EQ(lengths.size(), 1u);
    EXPECT_TRUE(chunks.empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(QtClientSocketTest, RefusedConnectionIsAnError) {
    Listener notListening(false);
    Connect(notListening);
    ASSERT_TRUE(WaitUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors.front().Event, TErrorEvent::Connect);
    EXPECT_EQ(errors.front().Code, ECONNREFUSED);
    EXPECT_EQ(connects, 0);
    EXPECT_FALSE(socket.Active());
}

TEST_F(QtClientSocketTest, OrderlyCloseByTheTerminalRaisesNothing) {
    Listener listener;
    ConnectAndAccept(listener);
    listener.Send("ab");
    ASSERT_TRUE(WaitUntil([&] { return !chunks.empty(); }));
    listener.Close(false);
    RunLoopFor(50);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(lengths.size(), 1u) << "no read event after the close";
    EXPECT_TRUE(socket.Active());
}

TEST_F(QtClientSocketTest, ResetByTheTerminalIsAnError) {
    Listener listener;
    ConnectAndAccept(listener);
    listener.Close(true);
    ASSERT_TRUE(WaitUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors.front().Code, ECONNRESET);
    EXPECT_FALSE(socket.Active());
    EXPECT_TRUE(chunks.empty());
}

TEST_F(QtClientSocketTest, AddressThatIsNoNumericIPv4IsAnErrorOfTheLoop) {
    for (const std::string& address :
         {std::string(""), std::string("localhost"), std::string("1.2.3"),
          std::string("127.0.0.1 "), std::string("256.0.0.1"), std::string("127.0.0.1\0x", 11)}) {
        SCOPED_TRACE(address);
        errors.clear();
        socket.SetAddress(address);
        socket.SetPort(1);
        socket.SetActive(true);
        EXPECT_TRUE(errors.empty()) << "reported from inside SetActive";
        ASSERT_TRUE(WaitUntil([&] { return !errors.empty(); }));
        EXPECT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors.front().Event, TErrorEvent::Lookup);
        EXPECT_FALSE(socket.Active());
        EXPECT_EQ(socket.Address(), address);
    }
    EXPECT_EQ(connects, 0);
}

TEST_F(QtClientSocketTest, SendBufHandsOverEveryByteInOrder) {
    Listener listener;
    ConnectAndAccept(listener);
    // Far more than the kernel takes at once: the rest goes out as the terminal reads.
    std::string data(8 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 % 251);
    EXPECT_EQ(socket.SendBuf(data.data(), static_cast<int>(data.size())),
              static_cast<int>(data.size()));
    EXPECT_EQ(socket.SendBuf("!", 1), 1);
    ASSERT_TRUE(WaitUntil([&] { return listener.Received().size() >= data.size() + 1; }, 20000));
    EXPECT_TRUE(listener.Received() == data + "!");
    EXPECT_TRUE(errors.empty());
}

TEST_F(QtClientSocketTest, SendingWithoutAConnectionRaises) {
    EXPECT_THROW(socket.SendBuf("x", 1), ELinkError);
    Listener listener;
    Connect(listener);
    EXPECT_THROW(socket.SendBuf("x", 1), ELinkError) << "still connecting";
}

TEST_F(QtClientSocketTest, DeactivatingClosesTheConnection) {
    Listener listener;
    ConnectAndAccept(listener);
    socket.SetActive(false);
    EXPECT_FALSE(socket.Active());
    socket.SetActive(false);
    EXPECT_TRUE(WaitUntil([&] {
        listener.Received();
        return listener.PeerClosed;
    }));
    EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace vendilox::platform::qt
