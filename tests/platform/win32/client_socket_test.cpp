// The TCP link against real listeners on 127.0.0.1.
#include "platform/win32/client_socket.hpp"

#include <gtest/gtest.h>
#include <ws2tcpip.h>

#include <string>
#include <vector>

#include "support.hpp"

namespace vendilox::platform::win32 {
namespace {

using namespace std::chrono_literals;
using test::RunLoopFor;
using test::WaitUntil;

// A listening socket on 127.0.0.1 and the one connection it accepts, non-blocking, so that the
// test serves while the loop runs.
class Listener {
  public:
    // backlog < 0: bound but not listening, so that every connection is refused.
    explicit Listener(int backlog = 1) {
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        u_long nonBlocking = 1;
        ::ioctlsocket(socket_, FIONBIO, &nonBlocking);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int size = sizeof address;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ::ntohs(address.sin_port);
        if (backlog >= 0)
            ::listen(socket_, backlog);
    }
    ~Listener() {
        if (peer_ != INVALID_SOCKET)
            ::closesocket(peer_);
        ::closesocket(socket_);
    }
    int Port() const { return port_; }
    bool Accept() {
        if (peer_ == INVALID_SOCKET)
            peer_ = ::accept(socket_, nullptr, nullptr);
        return peer_ != INVALID_SOCKET;
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(::send(peer_, bytes.data(), static_cast<int>(bytes.size()), 0),
                  static_cast<int>(bytes.size()));
    }
    std::string Received() {
        char buffer[65536];
        for (;;) {
            const int n = ::recv(peer_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return received_;
            received_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    // An orderly close by the terminal.
    void Close() {
        ::shutdown(peer_, SD_BOTH);
        ::closesocket(peer_);
        peer_ = INVALID_SOCKET;
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    int port_ = 0;
    std::string received_;
};

struct TError {
    TErrorEvent event;
    int code;
};

class Win32ClientSocketTest : public testing::Test {
  protected:
    void SetUp() override { Watch(socket_); }

    void Watch(Win32ClientSocket& socket) {
        socket.SetOnConnect([this] { ++connects_; });
        socket.SetOnError([this](TErrorEvent event, int& code) {
            errors_.push_back({event, code});
        });
        socket.SetOnRead([this, &socket] {
            char buffer[4097];
            const int length = socket.ReceiveLength();
            if (length > 4096)
                return;  // left unread, as the program does
            const int n = socket.ReceiveBuf(buffer, length);
            if (n > 0)
                read_.append(buffer, static_cast<std::size_t>(n));
            ++reads_;
        });
    }

    void Connect(Win32ClientSocket& socket, int port) {
        socket.SetAddress("127.0.0.1");
        socket.SetPort(port);
        socket.SetActive(true);
    }

    test::RecordingApplication app_;
    Win32ClientSocket socket_{app_};
    int connects_ = 0;
    int reads_ = 0;
    std::string read_;
    std::vector<TError> errors_;
};

TEST_F(Win32ClientSocketTest, ConnectsSendsAndReadsWhatArrives) {
    Listener listener;
    Connect(socket_, listener.Port());
    ASSERT_TRUE(WaitUntil([&] { return connects_ == 1 && listener.Accept(); }));
    const std::string request = "\x02request\x1C\x03";
    EXPECT_EQ(socket_.SendBuf(request.data(), static_cast<int>(request.size())),
              static_cast<int>(request.size()));
    EXPECT_TRUE(WaitUntil([&] { return listener.Received() == request; }));
    listener.Send("\x02response\x03");
    EXPECT_TRUE(WaitUntil([&] { return read_ == "\x02response\x03"; }));
    EXPECT_TRUE(errors_.empty());
}

TEST_F(Win32ClientSocketTest, BytesLeftUnreadEndTheReadEvents) {
    Listener listener;
    Connect(socket_, listener.Port());
    ASSERT_TRUE(WaitUntil([&] { return connects_ == 1 && listener.Accept(); }));
    listener.Send(std::string(5000, 'x'));
    ASSERT_TRUE(WaitUntil([&] { return socket_.ReceiveLength() == 5000; }));
    RunLoopFor(200);
    // One event found them too many; no event keeps coming for bytes nobody reads.
    EXPECT_LE(reads_, 1);
    EXPECT_TRUE(read_.empty());
}

TEST_F(Win32ClientSocketTest, RefusedConnectionIsAConnectError) {
    Listener notListening(-1);
    Connect(socket_, notListening.Port());
    ASSERT_TRUE(WaitUntil([&] { return !errors_.empty(); }));
    EXPECT_EQ(errors_[0].event, TErrorEvent::Connect);
    EXPECT_EQ(errors_[0].code, WSAECONNREFUSED);
    EXPECT_EQ(connects_, 0);
    EXPECT_FALSE(socket_.Active());
}

TEST_F(Win32ClientSocketTest, OrderlyCloseByTheTerminalRaisesNothing) {
    Listener listener;
    Connect(socket_, listener.Port());
    ASSERT_TRUE(WaitUntil([&] { return connects_ == 1 && listener.Accept(); }));
    listener.Send("last words");
    listener.Close();
    // What came before the close is still read; the close itself is no failure.
    EXPECT_TRUE(WaitUntil([&] { return read_ == "last words"; }));
    RunLoopFor(200);
    EXPECT_TRUE(errors_.empty());
}

TEST_F(Win32ClientSocketTest, AddressThatIsNoNumericIPv4IsAnErrorOfTheLoop) {
    for (const char* address : {"", "localhost", "127.0.0.1.5", "127.0.0.1 "}) {
        errors_.clear();
        socket_.SetAddress(address);
        socket_.SetPort(2050);
        socket_.SetActive(true);
        // Never from inside the call: the handler that activated it runs on first.
        EXPECT_TRUE(errors_.empty()) << address;
        ASSERT_TRUE(WaitUntil([&] { return !errors_.empty(); })) << address;
        EXPECT_EQ(errors_[0].event, TErrorEvent::Lookup) << address;
        EXPECT_FALSE(socket_.Active());
    }
}

TEST_F(Win32ClientSocketTest, SendingWithoutAConnectionRaises) {
    EXPECT_THROW(socket_.SendBuf("x", 1), ELinkError);
}

// A terminal that never completes the connection: the listener's queue is full, so the system
// drops the attempt's packets and the connect stays pending until the bound fails it.
TEST_F(Win32ClientSocketTest, ConnectionAttemptFailsAtTheBoundAndNotBefore) {
    Listener full(0);
    Win32ClientSocket filler(app_);
    filler.SetAddress("127.0.0.1");
    filler.SetPort(full.Port());
    filler.SetActive(true);
    RunLoopFor(100);

    Win32ClientSocket bounded(app_, 400ms);
    std::vector<TError> errors;
    bool connected = false;
    bounded.SetOnConnect([&] { connected = true; });
    bounded.SetOnError([&](TErrorEvent event, int& code) { errors.push_back({event, code}); });
    const ULONGLONG started = ::GetTickCount64();
    Connect(bounded, full.Port());
    ASSERT_TRUE(WaitUntil([&] { return !errors.empty() || connected; }, 5000));
    if (connected)
        GTEST_SKIP() << "this system completed the connection despite the full queue";
    EXPECT_GE(::GetTickCount64() - started, 400u);
    EXPECT_EQ(errors[0].event, TErrorEvent::Connect);
    EXPECT_EQ(errors[0].code, WSAETIMEDOUT);
    EXPECT_FALSE(bounded.Active());
}

TEST_F(Win32ClientSocketTest, DeactivatingClosesTheConnection) {
    Listener listener;
    Connect(socket_, listener.Port());
    ASSERT_TRUE(WaitUntil([&] { return connects_ == 1 && listener.Accept(); }));
    socket_.SetActive(false);
    EXPECT_FALSE(socket_.Active());
    listener.Send("too late");
    RunLoopFor(100);
    EXPECT_TRUE(read_.empty());
    EXPECT_TRUE(errors_.empty());
}

}  // namespace
}  // namespace vendilox::platform::win32
