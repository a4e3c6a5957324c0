#include "platform/qt/QtClientSocket.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <cerrno>

#include "platform/platform.hpp"

namespace vendilox::platform::qt {

namespace {

// A notifier deleted from inside its own signal would pull the ground from under Qt; a
// disabled one is released when control is back in the loop.
void Discard(QSocketNotifier*& notifier) {
    if (notifier == nullptr)
        return;
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
}

}  // namespace

QtClientSocket::QtClientSocket(IApplication& app) : app_(app) {}

QtClientSocket::~QtClientSocket() {
    if (fd_ >= 0)
        ::close(fd_);
}

void QtClientSocket::SetActive(bool active) {
    if (active == active_)
        return;
    if (active) {
        active_ = true;
        ++attempt_;
        StartConnect();
    } else {
        CloseSocket();
        active_ = false;
        ++attempt_;
    }
}

void QtClientSocket::StartConnect() {
    state_ = TState::Connecting;
    in_addr address{};
    // The whole text must be the address: a zero byte inside it would hide what follows.
    const bool numeric = !address_.empty() && address_.find('\0') == std::string::npos &&
                         ::inet_pton(AF_INET, address_.c_str(), &address) == 1;
    if (!numeric) {
        PostFailure(TErrorEvent::Lookup, EINVAL);
        return;
    }
    if (port_ < 0 || port_ > 65535) {
        PostFailure(TErrorEvent::Connect, EINVAL);
        return;
    }
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        PostFailure(TErrorEvent::Connect, errno);
        return;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port_));
    peer.sin_addr = address;
    int result = 0;
    do {
        result = ::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno != EINPROGRESS) {
        PostFailure(TErrorEvent::Connect, errno);
        return;
    }
    // Whether made at once or still under way, the outcome is seen when the socket becomes
    // writable, so the connect event always comes from the loop.
    writeNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, &context_);
    QObject::connect(writeNotifier_, &QSocketNotifier::activated, [this] { OnWritable(); });
}

void QtClientSocket::OnWritable() {
    if (state_ == TState::Connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error != 0) {
            Fail(TErrorEvent::Connect, error);
            return;
        }
        state_ = TState::Connected;
        writeNotifier_->setEnabled(!unsent_.empty());
        StartReception();
        if (auto handler = onConnect_)
            Dispatch(app_, handler);
        return;
    }
    Flush();
}

void QtClientSocket::StartReception() {
    readNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, &context_);
    QObject::connect(readNotifier_, &QSocketNotifier::activated, [this] { OnReadable(); });
}

void QtClientSocket::StopReception() {
    if (readNotifier_ != nullptr)
        readNotifier_->setEnabled(false);
}

bool QtClientSocket::Receiving() const {
    return state_ == TState::Connected && readNotifier_ != nullptr && readNotifier_->isEnabled();
}

void QtClientSocket::OnReadable() {
    if (state_ != TState::Connected)
        return;
    const std::uint64_t attempt = attempt_;
    if (ReceiveLength() > 0) {
        readDuringEvent_ = 0;
        if (auto handler = onRead_)
            Dispatch(app_, handler);
        // The handler may have closed the socket, or a modal box in it may have seen the end.
        if (attempt != attempt_ || state_ != TState::Connected)
            return;
        if (readDuringEvent_ == 0 && ReceiveLength() > 0)
            StopReception();
        return;
    }
    // Readable with nothing waiting: the peer closed the connection, or reset it.
    char byte = 0;
    const ssize_t peeked = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked == 0) {
        StopReception();
    } else if (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Fail(TErrorEvent::Receive, errno);
    }
}

int QtClientSocket::ReceiveLength() {
    if (state_ != TState::Connected)
        return 0;
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0)
        return 0;
    return waiting;
}

int QtClientSocket::ReceiveBuf(char* buffer, int count) {
    if (state_ != TState::Connected || buffer == nullptr || count <= 0)
        return 0;
    ssize_t received = 0;
    do {
        received = ::recv(fd_, buffer, static_cast<std::size_t>(count), MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received > 0) {
        readDuringEvent_ += static_cast<int>(received);
        return static_cast<int>(received);
    }
    if (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        PostFailure(TErrorEvent::Receive, errno);
    }
    // Nothing read, never a negative count that a caller might use as a length.
    return 0;
}

int QtClientSocket::SendBuf(const char* buffer, int count) {
    if (buffer == nullptr || count <= 0)
        return 0;
    if (state_ != TState::Connected) {
        PostFailure(TErrorEvent::Send, ENOTCONN);
        return -1;
    }
    if (!unsent_.empty()) {
        // Behind the bytes that still wait, to keep the order.
        unsent_.append(buffer, static_cast<std::size_t>(count));
        return count;
    }
    ssize_t sent = 0;
    do {
        sent = ::send(fd_, buffer, static_cast<std::size_t>(count), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            PostFailure(TErrorEvent::Send, errno);
            return -1;
        }
        sent = 0;
    }
    if (sent < count) {
        unsent_.append(buffer + sent, static_cast<std::size_t>(count - sent));
        writeNotifier_->setEnabled(true);
    }
    return count;
}

void QtClientSocket::Flush() {
    while (!unsent_.empty()) {
        const ssize_t sent =
            ::send(fd_, unsent_.data(), unsent_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            Fail(TErrorEvent::Send, errno);
            return;
        }
        unsent_.erase(0, static_cast<std::size_t>(sent));
    }
    writeNotifier_->setEnabled(false);
}

void QtClientSocket::PostFailure(TErrorEvent event, int code) {
    const std::uint64_t attempt = attempt_;
    QMetaObject::invokeMethod(
        &context_,
        [this, attempt, event, code] {
            if (attempt == attempt_ && active_)
                Fail(event, code);
        },
        Qt::QueuedConnection);
}

void QtClientSocket::Fail(TErrorEvent event, int code) {
    CloseSocket();
    active_ = false;
    ++attempt_;
    int errorCode = code;
    if (auto handler = onError_)
        Dispatch(app_, [&] { handler(event, errorCode); });
}

void QtClientSocket::CloseSocket() {
    Discard(readNotifier_);
    Discard(writeNotifier_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    unsent_.clear();
    state_ = TState::Inactive;
}

}  // namespace vendilox::platform::qt
