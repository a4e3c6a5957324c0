#include "link.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace vendilox::sim {

namespace {

volatile std::sig_atomic_t g_stop = 0;
int g_wake[2] = {-1, -1};

void OnStopSignal(int) {
    g_stop = 1;
    const char byte = 1;
    // Nothing can be done about a failed write inside a signal handler; the flag still holds.
    [[maybe_unused]] const ssize_t n = write(g_wake[1], &byte, 1);
}

// Milliseconds for poll until the deadline, rounded up so that a wait never spins; -1 for none.
int PollTimeout(Clock::time_point deadline) {
    if (deadline == Clock::time_point::max())
        return -1;
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, 60'000));
}

std::string Failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Writes all bytes to a non-blocking descriptor; a peer that takes nothing for two seconds
// counts as gone.
bool WriteAll(int fd, std::string_view bytes, bool socket) {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (!bytes.empty()) {
        const ssize_t n = socket ? send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL)
                                 : write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (Clock::now() >= deadline)
                return false;
            poll(&p, 1, PollTimeout(deadline));
            continue;
        }
        return false;
    }
    return true;
}

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// Raw bytes at 9600 baud, 8 data bits, no parity, 1 stop bit, no flow control: the line the
// program opens.
bool MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

namespace stop {

bool Install() {
    if (pipe(g_wake) != 0)
        return false;
    for (int fd : g_wake) {
        if (!SetNonBlocking(fd))
            return false;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool Requested() {
    return g_stop != 0;
}

int WakeFd() {
    return g_wake[0];
}

}  // namespace stop

// ---------------------------------------------------------------------------------------------
// TCP

TcpLink::~TcpLink() {
    Disconnect();
    if (listen_fd_ >= 0)
        close(listen_fd_);
}

std::string TcpLink::Listen(const std::string& address, std::uint16_t port) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_fd_ < 0)
        return Failure("socket");
    const int on = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1)
        return "'" + address + "' is not an IPv4 address";
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        return Failure("cannot listen on " + address + ":" + std::to_string(port));
    }
    if (listen(listen_fd_, 8) != 0)
        return Failure("listen");
    socklen_t len = sizeof addr;
    if (getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return Failure("getsockname");
    port_ = ntohs(addr.sin_port);
    return {};
}

bool TcpLink::Accept() {
    Disconnect();
    for (;;) {
        if (stop::Requested())
            return false;
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop::WakeFd(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return false;
        if (stop::Requested())
            return false;
        if (!(fds[0].revents & POLLIN))
            continue;
        conn_fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (conn_fd_ < 0)
            continue;  // the caller went away before it was taken; wait for the next
        // Each write goes out at once, so that the chunked scenario really arrives in pieces.
        const int on = 1;
        setsockopt(conn_fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return true;
    }
}

Event TcpLink::Wait(Clock::time_point deadline, std::string& inbox, bool watch_next) {
    for (;;) {
        if (stop::Requested())
            return Event::Stopped;
        if (conn_fd_ < 0)
            return Event::PeerClosed;
        pollfd fds[3] = {
            {conn_fd_, POLLIN, 0}, {stop::WakeFd(), POLLIN, 0}, {listen_fd_, POLLIN, 0}};
        const int r = poll(fds, watch_next ? 3 : 2, PollTimeout(deadline));
        if (r < 0 && errno != EINTR)
            return Event::PeerClosed;
        if (stop::Requested())
            return Event::Stopped;
        if (fds[0].revents != 0) {
            char buffer[4096];
            const ssize_t n = recv(conn_fd_, buffer, sizeof buffer, 0);
            if (n > 0) {
                inbox.append(buffer, static_cast<std::size_t>(n));
                return Event::Data;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                Disconnect();
                return Event::PeerClosed;
            }
            continue;
        }
        if (watch_next && (fds[2].revents & POLLIN))
            return Event::NextPeer;
        if (r == 0 && Clock::now() >= deadline)
            return Event::Timeout;
    }
}

bool TcpLink::Send(std::string_view bytes) {
    return conn_fd_ >= 0 && WriteAll(conn_fd_, bytes, true);
}

void TcpLink::Disconnect() {
    if (conn_fd_ >= 0)
        close(conn_fd_);
    conn_fd_ = -1;
}

void TcpLink::Reset() {
    if (conn_fd_ >= 0) {
        // Closing with a zero linger time sends a reset instead of the orderly close.
        const linger abort{1, 0};
        setsockopt(conn_fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    Disconnect();
}

// ---------------------------------------------------------------------------------------------
// Serial line

SerialLink::~SerialLink() {
    if (fd_ >= 0)
        close(fd_);
}

std::string SerialLink::OpenPty() {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0)
        return Failure("posix_openpt");
    if (grantpt(fd_) != 0 || unlockpt(fd_) != 0)
        return Failure("grantpt/unlockpt");
    char name[128];
    if (ptsname_r(fd_, name, sizeof name) != 0)
        return Failure("ptsname");
    path_ = name;
    // The line settings belong to the other side and outlive its closing, so they are made once
    // here: no echo, no line editing, no translation of CR or LF, every byte as it comes.
    const int other = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (other < 0)
        return Failure("open " + path_);
    const bool raw = MakeRaw(other);
    close(other);
    if (!raw)
        return Failure("raw mode for " + path_);
    if (!SetNonBlocking(fd_))
        return Failure("fcntl");
    pty_ = true;
    present_ = false;  // until the program opens the port
    return {};
}

std::string SerialLink::OpenDevice(const std::string& path) {
    path_ = path;
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return Failure("cannot open " + path);
    if (!MakeRaw(fd_))
        return Failure(path + " is not a usable serial line");
    tcflush(fd_, TCIOFLUSH);
    pty_ = false;
    present_ = true;
    return {};
}

bool SerialLink::PeerHungUp() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN);
}

Event SerialLink::Wait(Clock::time_point deadline, std::string& inbox, bool /*watch_next*/) {
    for (;;) {
        if (stop::Requested())
            return Event::Stopped;
        if (!present_) {
            // A line nobody has open reports a hang-up at every poll; look again every 20 ms until
            // the program opens it.
            if (!PeerHungUp()) {
                present_ = true;
                continue;
            }
            pollfd wake{stop::WakeFd(), POLLIN, 0};
            const int timeout = PollTimeout(deadline);
            poll(&wake, 1, timeout < 0 ? 20 : std::min(timeout, 20));
            if (Clock::now() >= deadline)
                return Event::Timeout;
            continue;
        }
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop::WakeFd(), POLLIN, 0}};
        const int r = poll(fds, 2, PollTimeout(deadline));
        if (r < 0 && errno != EINTR)
            return Event::Stopped;
        if (stop::Requested())
            return Event::Stopped;
        if (fds[0].revents & POLLIN) {
            char buffer[4096];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                inbox.append(buffer, static_cast<std::size_t>(n));
                return Event::Data;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            present_ = false;  // EIO: the other side was closed
            return Event::PeerClosed;
        }
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            present_ = false;
            return Event::PeerClosed;
        }
        if (r == 0 && Clock::now() >= deadline)
            return Event::Timeout;
    }
}

bool SerialLink::Send(std::string_view bytes) {
    if (!present_ || PeerHungUp()) {
        present_ = false;
        return false;
    }
    return WriteAll(fd_, bytes, false);
}

}  // namespace vendilox::sim
