// The TCP link: a non-blocking Winsock socket whose events come to a message window of the main
// thread through WSAAsyncSelect.
#pragma once

#include <winsock2.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/application.hpp"
#include "platform/links.hpp"
#include "platform/win32/message_window.hpp"

namespace vendilox::platform::win32 {

// - The address is numeric IPv4 only; no name is ever looked up. An address that is not one is
//   reported through the error event on the next turn of the loop.
// - FD_CLOSE with an error (WSAECONNRESET, WSAECONNABORTED, ...) is a failure; without one it is
//   an orderly close by the terminal and raises no event, after the bytes still waiting have
//   been offered to the read handler.
// - A connection attempt that has not completed within the connect bound fails through the
//   error event like a refused one, so that a terminal that never answers cannot hold the run.
// - A read handler that leaves bytes unread (more than 4096 waiting: the program leaves them by
//   design) gets no further read event, as Winsock posts FD_READ again only after a recv.
// - A read event that comes while the read handler runs (a message box in it runs a nested
//   loop) is held until the handler has returned.
// - Failures found inside the program's own calls (SendBuf, ReceiveBuf, SetActive) are reported
//   on the next turn of the loop, never from inside the call.
class Win32ClientSocket final : public IClientSocket, private MessageWindow {
  public:
    static constexpr std::chrono::milliseconds kDefaultConnectBound{kConnectTimeoutMs};

    explicit Win32ClientSocket(IApplication& app,
                               std::chrono::milliseconds connectBound = kDefaultConnectBound);
    ~Win32ClientSocket() override;

    void SetAddress(std::string_view address) override { address_ = address; }
    std::string Address() const override { return address_; }
    void SetPort(std::int32_t port) override { port_ = port; }
    std::int32_t Port() const override { return port_; }
    void SetActive(bool active) override;
    bool Active() const override { return active_; }
    void SetOnConnect(std::function<void()> handler) override { onConnect_ = std::move(handler); }
    void SetOnRead(std::function<void()> handler) override { onRead_ = std::move(handler); }
    void SetOnError(std::function<void(TErrorEvent event, int& errorCode)> handler) override {
        onError_ = std::move(handler);
    }
    int ReceiveLength() override;
    int ReceiveBuf(char* buffer, int count) override;
    // Takes all count bytes: what Winsock does not accept at once is kept and sent, in order, as
    // soon as the connection is writable. Raises ELinkError when not connected.
    int SendBuf(const char* buffer, int count) override;

  private:
    enum class TState { Closed, Connecting, Connected };

    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnSocketEvent(WORD event, WORD error);
    void OnConnectBound();
    void Connect();
    void Connected();
    void CloseSocket();
    void Flush();
    void DeliverRead();
    void Fail(TErrorEvent event, int code);
    void FailLater(TErrorEvent event, int code);
    void ReportError(TErrorEvent event, int code);

    IApplication& app_;
    std::chrono::milliseconds connectBound_;
    std::string address_;
    std::int32_t port_ = 0;
    std::function<void()> onConnect_;
    std::function<void()> onRead_;
    std::function<void(TErrorEvent, int&)> onError_;

    SOCKET socket_ = INVALID_SOCKET;
    TState state_ = TState::Closed;
    bool active_ = false;
    bool reading_ = false;               // the read handler runs
    bool readAgain_ = false;             // a read event came meanwhile
    std::uint64_t connectDeadline_ = 0;  // GetTickCount64 milliseconds
    std::string unsent_;
    TErrorEvent laterEvent_ = TErrorEvent::General;
    int laterCode_ = 0;
    // Changes whenever a connection starts or ends, so that a queued message of an old
    // connection is dropped.
    std::uint64_t generation_ = 0;
};

}  // namespace vendilox::platform::win32
