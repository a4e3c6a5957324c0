// The two links to the terminal on the virtual loop: what the program writes is recorded with
// its time, and what the terminal sends is scripted by the test as events at given times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fake/fake_loop.hpp"
#include "platform/links.hpp"

namespace vendilox::platform::fake {

// Bytes handed to a link, with the virtual time of the call.
struct TSentBytes {
    std::uint64_t At;
    std::string Bytes;
    bool operator==(const TSentBytes&) const = default;
};

// The serial port. Its send queue holds kMaxSendQueueSize bytes and drains at the line's speed
// (9600 baud, 10 bits a byte: 960 bytes a second), so a write that does not fit raises as the
// real component does.
class FakeSerialPort : public ISerialPort {
  public:
    static constexpr std::uint64_t kBytesPerSecond = 960;

    explicit FakeSerialPort(FakeLoop& loop) : loop_(loop) {}

    void SetPortName(std::string_view name) override { name_ = name; }
    std::string PortName() const override { return name_; }
    void Open() override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    void Write(const char* data, std::size_t length) override;
    void SetOnDataReceived(std::function<void(const char*, std::size_t)> h) override {
        onData_ = std::move(h);
    }
    void SetOnLineStatusError(std::function<void()> handler) override {
        onLineStatus_ = std::move(handler);
    }

    // The test's side. A chunk (1 to 512 bytes, as the component delivers them) or a
    // line-status error arrives at the given time; nothing arrives while the port is closed.
    void InjectData(std::uint64_t at, std::string chunk);
    void InjectLineStatusError(std::uint64_t at);
    // Bytes waiting in the send queue now.
    std::size_t QueuedBytes() const;

    // When set, Open raises ELinkError with this message and the port stays closed.
    std::optional<std::string> OpenError;
    // When set, every Write raises ELinkError with this message (a port that fails at once).
    std::optional<std::string> WriteError;
    // When set, Close raises ELinkError with this message; the port is closed all the same.
    std::optional<std::string> CloseError;

    // Called with the bytes of every Write as it is handed in, before anything else: a test sees
    // the world as it is at the moment the program sends.
    std::function<void(std::string_view bytes)> OnWrite;

    std::vector<TSentBytes> Writes;  // every Write that was queued, zero-byte ones included
    int OpenCalls = 0;
    int CloseCalls = 0;
    int RefusedWrites = 0;

  private:
    FakeLoop& loop_;
    std::string name_;
    bool open_ = false;
    std::function<void(const char*, std::size_t)> onData_;
    std::function<void()> onLineStatus_;
    mutable std::size_t queued_ = 0;
    mutable std::uint64_t queuedAt_ = 0;
};

// The non-blocking client socket. What happens when it is activated is scripted in Outcome;
// the terminal's data, resets and closes are injected at given times and take effect only on a
// connection that is up by then.
class FakeClientSocket : public IClientSocket {
  public:
    struct TOutcome {
        // Never: the attempt does not complete, and fails after kConnectTimeoutMs.
        enum class TKind { Connect, Refuse, Never };
        TKind Kind = TKind::Connect;
        std::uint64_t AfterMs = 20;
        int ErrorCode = 10061;  // connection refused
    };
    struct TErrorReport {
        std::uint64_t At;
        TErrorEvent Event;
        int CodeIn;
        int CodeAfterHandler;
        bool operator==(const TErrorReport&) const = default;
    };

    explicit FakeClientSocket(FakeLoop& loop) : loop_(loop) {}

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
    int ReceiveLength() override { return static_cast<int>(pending_.size()); }
    int ReceiveBuf(char* buffer, int count) override;
    // Sent on a connection that is down: nothing goes out and a send error is reported.
    int SendBuf(const char* buffer, int count) override;

    // The test's side.
    // The bytes join those waiting to be read and a read event follows.
    void InjectRead(std::uint64_t at, std::string bytes);
    // The connection fails (a reset): it is down and the error event reports it.
    void InjectError(std::uint64_t at, TErrorEvent event = TErrorEvent::Receive,
                     int errorCode = 10054);
    // The terminal closes the connection in order: it is down, and no event says so.
    void InjectPeerClose(std::uint64_t at);
    // From the given time on every SendBuf fails as on a connection the system has found broken:
    // nothing goes out, the call returns -1, and the error event follows on the next turn.
    void FailSendsFrom(std::uint64_t at, int errorCode = 10054) {
        failSendsFrom_ = at;
        failSendCode_ = errorCode;
    }

    bool Connected() const { return connected_; }
    const std::string& Waiting() const { return pending_; }

    TOutcome Outcome;
    std::vector<TSentBytes> Sent;
    std::vector<TErrorReport> Errors;
    int Activations = 0;

  private:
    void ReportError(TErrorEvent event, int code);

    FakeLoop& loop_;
    std::string address_;
    std::int32_t port_ = 0;
    bool active_ = false;
    bool connected_ = false;
    std::uint64_t generation_ = 0;  // one per activation: events of an earlier one are void
    std::string pending_;
    std::optional<std::uint64_t> failSendsFrom_;
    int failSendCode_ = 0;
    std::function<void()> onConnect_;
    std::function<void()> onRead_;
    std::function<void(TErrorEvent, int&)> onError_;
};

}  // namespace vendilox::platform::fake
