// The serial link on QSerialPort.
#pragma once

#include <QSerialPort>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/application.hpp"
#include "platform/links.hpp"

namespace vendilox::platform::qt {

// 9600 baud, 8N1, no flow control, DTR and RTS off, opened exclusively. QSerialPort works on
// the main thread, so received chunks are delivered there directly, one at a time: a handler
// that blocks holds back the next chunk, which the system buffers meanwhile.
//
// Line-status errors: QSerialPort no longer reports framing and parity errors. On Linux the
// port's error counters (TIOCGICOUNT) are compared whenever data arrives, and a rise of the
// framing, parity or overrun counts is reported once for that arrival. Devices without the
// counters (pseudo-terminals, some USB adapters) report no line-status errors.
class QtSerialPort : public ISerialPort {
  public:
    explicit QtSerialPort(IApplication& app);
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    void SetPortName(std::string_view name) override { name_ = name; }
    std::string PortName() const override { return name_; }
    void Open() override;
    void Close() override;
    bool IsOpen() const override { return port_.isOpen(); }
    void Write(const char* data, std::size_t length) override;
    void SetOnDataReceived(std::function<void(const char*, std::size_t)> handler) override {
        onData_ = std::move(handler);
    }
    void SetOnLineStatusError(std::function<void()> handler) override {
        onLineStatus_ = std::move(handler);
    }

    // The largest chunk handed to the data handler.
    static constexpr std::size_t kMaxChunk = 512;

  private:
    void OnReadyRead();
    void OnError(QSerialPort::SerialPortError error);
    // The sum of the error counters, or -1 when the device keeps none.
    long long LineErrorCount() const;

    IApplication& app_;
    std::string name_;
    QSerialPort port_;
    std::function<void(const char*, std::size_t)> onData_;
    std::function<void()> onLineStatus_;
    bool delivering_ = false;
    long long lineErrors_ = -1;
};

}  // namespace vendilox::platform::qt
