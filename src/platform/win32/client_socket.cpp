#include "platform/win32/client_socket.hpp"

#include <ws2tcpip.h>

#include "platform/platform.hpp"

namespace vendilox::platform::win32 {

namespace {

constexpr UINT kSocketMessage = kFirstOwnMessage;         // WSAAsyncSelect
constexpr UINT kLaterMessage = kFirstOwnMessage + 1;      // wParam: generation of a failure
constexpr UINT kConnectedMessage = kFirstOwnMessage + 2;  // wParam: generation
constexpr UINT_PTR kConnectBoundTimer = 1;

void StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        throw ELinkError("Winsock cannot be started");
}

}  // namespace

Win32ClientSocket::Win32ClientSocket(IApplication& app, std::chrono::milliseconds connectBound)
    : app_(app), connectBound_(connectBound) {
    StartWinsock();
}

Win32ClientSocket::~Win32ClientSocket() {
    CloseSocket();
}

void Win32ClientSocket::SetActive(bool active) {
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

void Win32ClientSocket::Connect() {
    in_addr address{};
    // inet_pton reads a C string: an address with a zero byte inside is no address at all.
    if (address_.empty() || address_.find('\0') != std::string::npos ||
        ::inet_pton(AF_INET, address_.c_str(), &address) != 1) {
        FailLater(TErrorEvent::Lookup, WSAEINVAL);
        return;
    }
    if (port_ < 0 || port_ > 65535) {
        FailLater(TErrorEvent::Connect, WSAEINVAL);
        return;
    }
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) {
        const int code = ::WSAGetLastError();
        active_ = false;
        throw ELinkError("TCP socket cannot be created: error " + std::to_string(code));
    }
    // Makes the socket non-blocking and sends its events to this window.
    if (::WSAAsyncSelect(socket_, Handle(), kSocketMessage,
                         FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        FailLater(TErrorEvent::General, ::WSAGetLastError());
        return;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = ::htons(static_cast<u_short>(port_));
    peer.sin_addr = address;
    state_ = TState::Connecting;
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        // Connected at once; the event still comes from the loop.
        ::PostMessageW(Handle(), kConnectedMessage, static_cast<WPARAM>(generation_), 0);
        return;
    }
    const int code = ::WSAGetLastError();
    if (code != WSAEWOULDBLOCK) {
        FailLater(TErrorEvent::Connect, code);
        return;
    }
    connectDeadline_ = ::GetTickCount64() + static_cast<std::uint64_t>(connectBound_.count());
    ::SetTimer(Handle(), kConnectBoundTimer, static_cast<UINT>(connectBound_.count()), nullptr);
}

void Win32ClientSocket::Connected() {
    ::KillTimer(Handle(), kConnectBoundTimer);
    state_ = TState::Connected;
    if (!unsent_.empty())
        Flush();
    if (onConnect_)
        Dispatch(app_, onConnect_);
}

void Win32ClientSocket::CloseSocket() {
    ::KillTimer(Handle(), kConnectBoundTimer);
    if (socket_ != INVALID_SOCKET) {
        // closesocket also cancels the WSAAsyncSelect events; any already queued are dropped by
        // the socket check when they arrive.
        ::closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    unsent_.clear();
    state_ = TState::Closed;
    active_ = false;
    readAgain_ = false;
    ++generation_;
}

LRESULT Win32ClientSocket::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kSocketMessage:
            if (socket_ != INVALID_SOCKET && static_cast<SOCKET>(wParam) == socket_)
                OnSocketEvent(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
            return 0;
        case kLaterMessage:
            if (static_cast<std::uint64_t>(wParam) == generation_)
                ReportError(laterEvent_, laterCode_);
            return 0;
        case kConnectedMessage:
            if (static_cast<std::uint64_t>(wParam) == generation_ && state_ == TState::Connecting)
                Connected();
            return 0;
        case WM_TIMER:
            if (wParam == kConnectBoundTimer) {
                OnConnectBound();
                return 0;
            }
            break;
        default:
            break;
    }
    return ::DefWindowProcW(Handle(), message, wParam, lParam);
}

void Win32ClientSocket::OnConnectBound() {
    if (state_ != TState::Connecting) {
        ::KillTimer(Handle(), kConnectBoundTimer);
        return;
    }
    const std::uint64_t now = ::GetTickCount64();
    if (now < connectDeadline_) {
        // The system's timer may come a clock tick early; the bound is never cut short.
        ::SetTimer(Handle(), kConnectBoundTimer, static_cast<UINT>(connectDeadline_ - now),
                   nullptr);
        return;
    }
    Fail(TErrorEvent::Connect, WSAETIMEDOUT);
}

void Win32ClientSocket::OnSocketEvent(WORD event, WORD error) {
    switch (event) {
        case FD_CONNECT:
            if (state_ != TState::Connecting)
                return;
            if (error != 0) {
                Fail(TErrorEvent::Connect, error);
                return;
            }
            Connected();
            return;
        case FD_WRITE:
            if (state_ == TState::Connected)
                Flush();
            return;
        case FD_READ:
            if (state_ != TState::Connected)
                return;
            if (error != 0) {
                Fail(TErrorEvent::Receive, error);
                return;
            }
            DeliverRead();
            return;
        case FD_CLOSE:
            if (state_ == TState::Closed)
                return;
            if (error != 0) {
                // A reset or an aborted connection: the terminal is gone mid-transaction.
                Fail(state_ == TState::Connecting ? TErrorEvent::Connect : TErrorEvent::Disconnect,
                     error);
                return;
            }
            // The terminal closed the connection in order: what it sent before is still read; no
            // event, and nothing more will come.
            if (state_ == TState::Connected && ReceiveLength() > 0)
                DeliverRead();
            return;
        default:
            return;
    }
}

void Win32ClientSocket::DeliverRead() {
    if (reading_) {
        readAgain_ = true;  // handled once the running handler has returned
        return;
    }
    reading_ = true;
    const std::uint64_t generation = generation_;
    if (onRead_)
        Dispatch(app_, onRead_);
    reading_ = false;
    if (generation != generation_)
        return;  // the handler closed the connection
    if (readAgain_) {
        readAgain_ = false;
        if (ReceiveLength() > 0)
            ::PostMessageW(Handle(), kSocketMessage, static_cast<WPARAM>(socket_),
                           WSAMAKESELECTREPLY(FD_READ, 0));
    }
}

void Win32ClientSocket::Flush() {
    while (!unsent_.empty()) {
        const int sent = ::send(socket_, unsent_.data(), static_cast<int>(unsent_.size()), 0);
        if (sent == SOCKET_ERROR) {
            const int code = ::WSAGetLastError();
            if (code != WSAEWOULDBLOCK)
                Fail(TErrorEvent::Send, code);
            return;  // FD_WRITE comes when the connection takes more
        }
        unsent_.erase(0, static_cast<std::size_t>(sent));
    }
}

int Win32ClientSocket::ReceiveLength() {
    if (socket_ == INVALID_SOCKET)
        return 0;
    u_long waiting = 0;
    if (::ioctlsocket(socket_, FIONREAD, &waiting) != 0)
        return 0;
    return static_cast<int>(waiting);
}

int Win32ClientSocket::ReceiveBuf(char* buffer, int count) {
    if (state_ != TState::Connected || count <= 0)
        return 0;
    const int received = ::recv(socket_, buffer, count, 0);
    if (received != SOCKET_ERROR)
        return received;
    const int code = ::WSAGetLastError();
    if (code != WSAEWOULDBLOCK)
        FailLater(TErrorEvent::Receive, code);
    return 0;
}

int Win32ClientSocket::SendBuf(const char* buffer, int count) {
    if (state_ != TState::Connected) {
        throw ELinkError("TCP connection to " + address_ + ":" + std::to_string(port_) +
                         " is not established");
    }
    if (count <= 0)
        return 0;
    int done = 0;
    if (unsent_.empty()) {
        while (done < count) {
            const int sent = ::send(socket_, buffer + done, count - done, 0);
            if (sent != SOCKET_ERROR) {
                done += sent;
                continue;
            }
            const int code = ::WSAGetLastError();
            if (code == WSAEWOULDBLOCK)
                break;
            FailLater(TErrorEvent::Send, code);
            return -1;
        }
    }
    if (done < count)
        unsent_.append(buffer + done, static_cast<std::size_t>(count - done));
    return count;
}

void Win32ClientSocket::Fail(TErrorEvent event, int code) {
    CloseSocket();
    ReportError(event, code);
}

void Win32ClientSocket::FailLater(TErrorEvent event, int code) {
    CloseSocket();
    laterEvent_ = event;
    laterCode_ = code;
    ::PostMessageW(Handle(), kLaterMessage, static_cast<WPARAM>(generation_), 0);
}

void Win32ClientSocket::ReportError(TErrorEvent event, int code) {
    int errorCode = code;
    if (onError_)
        Dispatch(app_, [&] { onError_(event, errorCode); });
}

}  // namespace vendilox::platform::win32
