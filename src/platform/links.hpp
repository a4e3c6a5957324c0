// The two links to the terminal, as components of the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vendilox::platform {

// An error raised by a link component (a port that cannot be opened, a write that does not fit).
class ELinkError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The serial port: 9600 baud, 8N1, no flow control, DTR and RTS off, opened exclusively.
class ISerialPort {
  public:
    // The send queue never holds more bytes than this.
    static constexpr std::size_t kMaxSendQueueSize = 1024;

    virtual ~ISerialPort() = default;
    // The name is passed to the system unchanged (COM3, /dev/ttyUSB0).
    virtual void SetPortName(std::string_view name) = 0;
    virtual std::string PortName() const = 0;
    // Opens and starts reception; raises ELinkError on any failure, leaving the port closed.
    virtual void Open() = 0;
    // Nothing when closed; the port counts as closed afterwards even when it raises.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Queues the bytes and returns at once; raises ELinkError when the port is not open or the
    // bytes do not fit into the send queue. Zero bytes are a write of nothing.
    virtual void Write(const char* data, std::size_t length) = 0;
    // Each received chunk (1 to 512 bytes, zero bytes included) on the main thread, in order.
    virtual void SetOnDataReceived(std::function<void(const char* data, std::size_t length)> h) = 0;
    // A framing, overrun or parity error reported by the port.
    virtual void SetOnLineStatusError(std::function<void()> handler) = 0;
};

// The kind of failure a socket error event reports.
enum class TErrorEvent { General, Send, Receive, Connect, Disconnect, Accept, Lookup };

// A non-blocking TCP client socket; its events come on the main thread.
class IClientSocket {
  public:
    // A connection attempt that has not completed this long after it was started fails as a
    // refused one does: the socket closes and the error event reports it (TErrorEvent::Connect,
    // the system's time-out code). A terminal address that drops packets would otherwise hold
    // the run, unclosable, until the system gives up (minutes); 21 s is what a Windows till
    // gives a connect by default. Every backend keeps this bound.
    static constexpr std::uint32_t kConnectTimeoutMs = 21000;

    virtual ~IClientSocket() = default;
    // A numeric IPv4 address; it is never looked up as a name.
    virtual void SetAddress(std::string_view address) = 0;
    virtual std::string Address() const = 0;
    virtual void SetPort(std::int32_t port) = 0;
    virtual std::int32_t Port() const = 0;
    // true starts a connection attempt, false closes; both do nothing in the state they ask for.
    // An address that cannot be used is reported through the error event, and so is an attempt
    // still not connected after kConnectTimeoutMs.
    virtual void SetActive(bool active) = 0;
    virtual bool Active() const = 0;
    virtual void SetOnConnect(std::function<void()> handler) = 0;
    virtual void SetOnRead(std::function<void()> handler) = 0;
    // Reports every failure: refused or failed connect, reset, failed send or receive. An orderly
    // close by the peer is not an error and has no event.
    virtual void SetOnError(std::function<void(TErrorEvent event, int& errorCode)> handler) = 0;
    // Bytes waiting to be read.
    virtual int ReceiveLength() = 0;
    // Reads up to count waiting bytes; returns the number read.
    virtual int ReceiveBuf(char* buffer, int count) = 0;
    // Hands count bytes to the connection in one call. Returns count when the connection took
    // them (what the system does not accept at once is sent later, in order), or a negative
    // number when the send failed; the error event then follows on a later turn of the loop.
    virtual int SendBuf(const char* buffer, int count) = 0;
};

}  // namespace vendilox::platform
