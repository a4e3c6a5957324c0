// The TCP link: a non-blocking POSIX socket driven by the main loop.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/application.hpp"
#include "platform/links.hpp"

namespace vendilox::platform::qt {

// A TCP client on a plain socket rather than QTcpSocket, because the program must tell the two
// ways a terminal can end a connection apart, and QTcpSocket reports both as
// RemoteHostClosedError: an orderly close has no event, a reset is an error event.
//
// - The address must be a numeric IPv4 address (inet_pton); no name is ever looked up. An
//   address that cannot be used is reported through the error event at the next turn of the
//   loop after connecting starts.
// - Read events come while bytes wait. A handler that reads nothing while bytes stay waiting
//   (the program leaves more than 4096 waiting bytes unread on purpose) stops further read
//   events of the connection, since the waiting bytes would otherwise wake the loop at once
//   again and again; the transaction is then ended by its timers.
// - An orderly close by the peer stops the read events without any event; a reset or any other
//   failure is one error event, after which the socket is closed and inactive.
// - SendBuf hands the bytes to the system at once; what the system does not take at once is
//   kept and sent, in order, as soon as the connection can take it.
class QtClientSocket : public IClientSocket {
  public:
    explicit QtClientSocket(IApplication& app);
    ~QtClientSocket() override;
    QtClientSocket(const QtClientSocket&) = delete;
    QtClientSocket& operator=(const QtClientSocket&) = delete;

    void SetAddress(std::string_view address) override { address_ = address; }
    std::string Address() const override { return address_; }
    void SetPort(std::int32_t port) override { port_ = port; }
    std::int32_t Port() const override { return port_; }
    void SetActive(bool active) override;
    bool Active() const override { return active_; }
    void SetOnConnect(std::function<void()> handler) override { onConnect_ = std::move(handler); }
    void SetOnRead(std::function<void()> handler) override { onRead_ = std::move(handler); }
    void SetOnError(std::function<void(TErrorEvent, int&)> handler) override {
        onError_ = std::move(handler);
    }
    int ReceiveLength() override;
    int ReceiveBuf(char* buffer, int count) override;
    int SendBuf(const char* buffer, int count) override;

    // Whether read events can still come: false before the connection is made and after
    // reception stopped (orderly close, bytes left unread, failure).
    bool Receiving() const;
    bool Connected() const { return state_ == TState::Connected; }

  private:
    enum class TState { Inactive, Connecting, Connected };

    void StartConnect();
    void OnWritable();
    void OnReadable();
    void StartReception();
    void StopReception();
    void Flush();
    // Closes the socket and raises the error event once for this connection.
    void Fail(TErrorEvent event, int code);
    // The same, from the loop: for failures found while the program's own call runs.
    void PostFailure(TErrorEvent event, int code);
    void CloseSocket();

    IApplication& app_;
    std::string address_;
    std::int32_t port_ = 0;
    bool active_ = false;
    TState state_ = TState::Inactive;
    int fd_ = -1;
    // Every connection attempt has its own number, so that an event queued for an earlier one
    // is dropped.
    std::uint64_t attempt_ = 0;
    // Children of context_, which deletes them with the socket.
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    std::string unsent_;
    int readDuringEvent_ = 0;
    std::function<void()> onConnect_;
    std::function<void()> onRead_;
    std::function<void(TErrorEvent, int&)> onError_;
    QObject context_;
};

}  // namespace vendilox::platform::qt
