#include "platform/qt/qt_client_socket.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/platform.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox::platform::qt {

namespace {

std::string SystemError(int code) {
    return Utf8ToCp1250(std::strerror(code));
}

bool TryAgain(int code) {
    return code == EAGAIN || code == EWOULDBLOCK || code == EINTR;
}

}  // namespace

QtClientSocket::QtClientSocket(IApplication& app) : app_(app) {}

QtClientSocket::~QtClientSocket() {
    CloseSocket();
}

void QtClientSocket::SetActive(bool active) {
    if (active == active_)
        return;
    if (!active) {
        CloseSocket();
        return;
    }
    active_ = true;
    ++generation_;
    Connect();
}

void QtClientSocket::Connect() {
    in_addr address{};
    // inet_pton reads a C string: an address with a zero byte inside is no address at all.
    if (address_.empty() || address_.find('\0') != std::string::npos ||
        ::inet_pton(AF_INET, address_.c_str(), &address) != 1) {
        FailLater(TErrorEvent::Lookup, EINVAL);
        return;
    }
    if (port_ < 0 || port_ > 65535) {
        FailLater(TErrorEvent::Connect, EINVAL);
        return;
    }
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        const int code = errno;
        active_ = false;
        throw ELinkError("TCP socket cannot be created: " + SystemError(code));
    }
    readNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    readNotifier_->setEnabled(false);
    QObject::connect(readNotifier_, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    writeNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    QObject::connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { OnWritable(); });

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port_));
    peer.sin_addr = address;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        // Connected at once (possible on the loopback); the event still comes from the loop.
        state_ = TState::Connecting;
        const std::uint64_t generation = generation_;
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == generation_ && state_ == TState::Connecting)
                    Connected();
            },
            Qt::QueuedConnection);
        return;
    }
    if (errno != EINPROGRESS) {
        FailLater(TErrorEvent::Connect, errno);
        return;
    }
    state_ = TState::Connecting;
    writeNotifier_->setEnabled(true);
    // The system would retry an unanswered attempt for minutes; the link gives up at its bound.
    const std::uint64_t generation = generation_;
    QTimer::singleShot(std::chrono::milliseconds(kConnectTimeoutMs), Qt::PreciseTimer, this,
                       [this, generation] {
                           if (generation == generation_ && state_ == TState::Connecting)
                               Fail(TErrorEvent::Connect, ETIMEDOUT);
                       });
}

void QtClientSocket::Connected() {
    state_ = TState::Connected;
    writeNotifier_->setEnabled(!unsent_.empty());
    readNotifier_->setEnabled(true);
    if (onConnect_)
        Dispatch(app_, onConnect_);
}

void QtClientSocket::CloseSocket() {
    if (fd_ >= 0) {
        // The notifiers may be the very objects whose signal is running now.
        for (QSocketNotifier* notifier : {readNotifier_, writeNotifier_}) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        readNotifier_ = nullptr;
        writeNotifier_ = nullptr;
        ::close(fd_);
        fd_ = -1;
    }
    unsent_.clear();
    state_ = TState::Closed;
    active_ = false;
    ++generation_;
}

void QtClientSocket::OnWritable() {
    if (state_ == TState::Connecting) {
        int code = 0;
        socklen_t size = sizeof code;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &code, &size) != 0)
            code = errno;
        if (code == EINPROGRESS || code == EALREADY)
            return;
        if (code != 0) {
            Fail(TErrorEvent::Connect, code);
            return;
        }
        Connected();
        return;
    }
    if (state_ == TState::Connected)
        Flush();
}

void QtClientSocket::Flush() {
    while (!unsent_.empty()) {
        const ssize_t sent = ::send(fd_, unsent_.data(), unsent_.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (TryAgain(errno))
                break;
            Fail(TErrorEvent::Send, errno);
            return;
        }
        unsent_.erase(0, static_cast<std::size_t>(sent));
    }
    writeNotifier_->setEnabled(!unsent_.empty());
}

void QtClientSocket::OnReadable() {
    if (state_ != TState::Connected)
        return;
    if (ReceiveLength() <= 0) {
        char probe = 0;
        const ssize_t peeked = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (peeked == 0) {
            // The terminal closed the connection in order: no event; nothing more will come.
            readNotifier_->setEnabled(false);
            return;
        }
        if (peeked < 0) {
            if (!TryAgain(errno))
                Fail(TErrorEvent::Receive, errno);
            return;
        }
    }
    readNotifier_->setEnabled(false);
    const std::uint64_t generation = generation_;
    const std::uint64_t readBefore = bytesRead_;
    if (onRead_)
        Dispatch(app_, onRead_);
    if (generation != generation_)
        return;  // the handler closed the connection
    if (bytesRead_ == readBefore && ReceiveLength() > 0)
        return;  // left unread: stop here
    readNotifier_->setEnabled(true);
}

int QtClientSocket::ReceiveLength() {
    if (fd_ < 0)
        return 0;
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

int QtClientSocket::ReceiveBuf(char* buffer, int count) {
    if (state_ != TState::Connected || count <= 0)
        return 0;
    for (;;) {
        const ssize_t received = ::recv(fd_, buffer, static_cast<std::size_t>(count), MSG_DONTWAIT);
        if (received >= 0) {
            bytesRead_ += static_cast<std::uint64_t>(received);
            return static_cast<int>(received);
        }
        if (errno == EINTR)
            continue;
        if (!TryAgain(errno))
            FailLater(TErrorEvent::Receive, errno);
        return 0;
    }
}

int QtClientSocket::SendBuf(const char* buffer, int count) {
    if (state_ != TState::Connected) {
        throw ELinkError("TCP connection to " + address_ + ":" + std::to_string(port_) +
                         " is not established");
    }
    if (count <= 0)
        return 0;
    std::size_t done = 0;
    const auto total = static_cast<std::size_t>(count);
    if (unsent_.empty()) {
        while (done < total) {
            const ssize_t sent = ::send(fd_, buffer + done, total - done, MSG_NOSIGNAL);
            if (sent >= 0) {
                done += static_cast<std::size_t>(sent);
                continue;
            }
            if (errno == EINTR)
                continue;
            if (TryAgain(errno))
                break;
            FailLater(TErrorEvent::Send, errno);
            return -1;
        }
    }
    if (done < total) {
        unsent_.append(buffer + done, total - done);
        writeNotifier_->setEnabled(true);
    }
    return count;
}

void QtClientSocket::Fail(TErrorEvent event, int code) {
    CloseSocket();
    ReportError(event, code);
}

void QtClientSocket::FailLater(TErrorEvent event, int code) {
    CloseSocket();
    const std::uint64_t generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation, event, code] {
            if (generation == generation_)
                ReportError(event, code);
        },
        Qt::QueuedConnection);
}

void QtClientSocket::ReportError(TErrorEvent event, int code) {
    int errorCode = code;
    if (onError_)
        Dispatch(app_, [&] { onError_(event, errorCode); });
}

}  // namespace vendilox::platform::qt
