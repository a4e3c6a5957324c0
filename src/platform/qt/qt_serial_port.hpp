// The serial link on QSerialPort.
#pragma once

#include <QObject>
#include <QSerialPort>

#include <functional>
#include <string>
#include <string_view>

#include "platform/application.hpp"
#include "platform/links.hpp"

namespace vendilox::platform::qt {

// 9600 baud, 8N1, no flow control, DTR and RTS off, opened exclusively. QSerialPort does its I/O
// on the main thread; received bytes are handed to the program one chunk at a time, and a chunk
// is only read after the handler of the one before has returned, even when that handler runs a
// nested loop (a message box).
class QtSerialPort final : public QObject, public ISerialPort {
  public:
    static constexpr std::size_t kMaxChunk = 512;

    explicit QtSerialPort(IApplication& app);
    ~QtSerialPort() override;

    void SetPortName(std::string_view name) override { name_ = name; }
    std::string PortName() const override { return name_; }
    void Open() override;
    void Close() override;
    bool IsOpen() const override { return port_.isOpen(); }
    void Write(const char* data, std::size_t length) override;
    void SetOnDataReceived(std::function<void(const char* data, std::size_t length)> h) override {
        onData_ = std::move(h);
    }
    void SetOnLineStatusError(std::function<void()> handler) override {
        onLineStatus_ = std::move(handler);
    }

  private:
    void OnReadyRead();
    void OnError(QSerialPort::SerialPortError error);
    void StartLineStatusCounting();
    void CheckLineStatus();

    IApplication& app_;
    QSerialPort port_;
    std::string name_ = "COM1";
    std::function<void(const char*, std::size_t)> onData_;
    std::function<void()> onLineStatus_;
    bool receiving_ = false;
    bool delivering_ = false;
    bool countLineErrors_ = false;
    long lineErrors_ = 0;
};

}  // namespace vendilox::platform::qt
