// The TCP link: a non-blocking POSIX socket driven by the main loop.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/application.hpp"
#include "platform/links.hpp"

class QSocketNotifier;

namespace vendilox::platform::qt {

// QTcpSocket reports an orderly close by the terminal and a reset alike, as
// RemoteHostClosedError, but the program must ignore the one and fail on the other; so this is a
// plain socket with notifiers on the main loop.
//
// - The address is numeric IPv4 only; no name is ever looked up. An address that is not one is
//   reported through the error event on the next turn of the loop.
// - An attempt still connecting after kConnectTimeoutMs is closed and reported as a failed
//   connect (ETIMEDOUT).
// - An orderly close by the terminal raises no event; reading then stops so that nothing spins.
// - A read event whose handler reads nothing while bytes stay waiting (more than 4096 bytes:
//   the program leaves them unread by design) is the last read event of the connection: the
//   notifier would otherwise fire on every turn of the loop and take the whole processor. The
//   transaction is then ended by its timers.
// - The read notifier is off while the read handler runs, so that a nested loop (a message box)
//   does not hand over the next bytes before the handler has returned.
// - Failures found inside the program's own calls (SendBuf, ReceiveBuf, SetActive) are reported
//   on the next turn of the loop, never from inside the call.
class QtClientSocket final : public QObject, public IClientSocket {
  public:
    explicit QtClientSocket(IApplication& app);
    ~QtClientSocket() override;

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
    // Takes all count bytes: what the kernel does not accept at once is kept and sent, in
    // order, as soon as the connection is writable. Raises ELinkError when not connected.
    int SendBuf(const char* buffer, int count) override;

  private:
    enum class TState { Closed, Connecting, Connected };

    void Connect();
    void Connected();
    void CloseSocket();
    void OnWritable();
    void OnReadable();
    void Flush();
    // Closes the connection and raises the error event now (from the loop) or on the next turn
    // (from inside a call of the program).
    void Fail(TErrorEvent event, int code);
    void FailLater(TErrorEvent event, int code);
    void ReportError(TErrorEvent event, int code);

    IApplication& app_;
    std::string address_;
    std::int32_t port_ = 0;
    std::function<void()> onConnect_;
    std::function<void()> onRead_;
    std::function<void(TErrorEvent, int&)> onError_;

    int fd_ = -1;
    TState state_ = TState::Closed;
    bool active_ = false;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    std::string unsent_;
    std::uint64_t bytesRead_ = 0;
    // Changes whenever a connection starts or ends, so that a queued event of an old
    // connection is dropped.
    std::uint64_t generation_ = 0;
};

}  // namespace vendilox::platform::qt
