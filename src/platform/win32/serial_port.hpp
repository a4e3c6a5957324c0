// The serial link on the Windows communications API.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "platform/application.hpp"
#include "platform/links.hpp"
#include "platform/win32/message_window.hpp"

namespace vendilox::platform::win32 {

// 9600 baud, 8N1, no flow control, DTR and RTS off, opened exclusively, a send queue of at most
// 1024 bytes. Reading and writing happen on an I/O thread of the port's own, with overlapped
// I/O only, so that the thread always waits on its I/O and a stop event at once and closing the
// port never hangs. Each received chunk goes to the main thread by a posted message, and the
// thread reads on only when the handler of that chunk has returned, even when that handler runs
// a nested loop (a message box).
//
// Reception waits for comm events (EV_RXCHAR) where the driver delivers them, then reads what
// the driver holds at once (timeouts {MAXDWORD, 0, 0}). A driver that ends the wait at once with
// an empty mask or an error (Wine's does) has none; the thread then reads with an interval
// timeout only ({10 ms, 0, 0}): the read waits for the first byte without limit and ends 10 ms
// after the last one or when 512 bytes are in. No read ever ends empty, so nothing spins either
// way. (A total timeout is no help: Wine ends such a read only when the buffer is full or the
// time is over, and an empty read every 50 ms would be a slow spin.) Line-status errors
// (framing, overrun, parity) are taken from ClearCommError after every read.
class Win32SerialPort final : public ISerialPort, private MessageWindow {
  public:
    static constexpr std::size_t kMaxChunk = 512;
    // The gap after which a read without comm events hands over what it has.
    static constexpr DWORD kReadIntervalMs = 10;

    explicit Win32SerialPort(IApplication& app);
    ~Win32SerialPort() override;

    void SetPortName(std::string_view name) override { name_ = name; }
    std::string PortName() const override { return name_; }
    void Open() override;
    void Close() override;
    bool IsOpen() const override { return port_ != INVALID_HANDLE_VALUE; }
    void Write(const char* data, std::size_t length) override;
    void SetOnDataReceived(std::function<void(const char* data, std::size_t length)> h) override {
        onData_ = std::move(h);
    }
    void SetOnLineStatusError(std::function<void()> handler) override {
        onLineStatus_ = std::move(handler);
    }

    // The name as CreateFileW takes it: COM10 and beyond are only reachable as \\.\COM10.
    static std::string SystemName(std::string_view name);

    // Whether reception waits for comm events (false: the timed reads); for the tests.
    bool UsesCommEvents() const;

  private:
    struct TIo;

    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    [[noreturn]] void FailOpen(HANDLE port, const std::string& what, DWORD code);

    IApplication& app_;
    std::string name_ = "COM1";
    std::function<void(const char*, std::size_t)> onData_;
    std::function<void()> onLineStatus_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    std::shared_ptr<TIo> io_;
    std::thread thread_;
    std::uint64_t generation_ = 0;
};

}  // namespace vendilox::platform::win32
