// The simulator's links to the program: a TCP listener that serves one connection at a time, and
// a serial line, either a pseudo-terminal the simulator creates or a serial device.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vendilox::sim {

using Clock = std::chrono::steady_clock;

// Why a wait on the link ended.
enum class Event {
    Data,        // bytes arrived and were appended to the inbox
    Timeout,     // the deadline passed
    PeerClosed,  // the program closed its end (connection closed, serial port closed)
    Stopped,     // SIGTERM or SIGINT
    NextPeer,    // another program is connecting (TCP, and only when asked to watch)
};

// SIGTERM and SIGINT end the simulator cleanly: the handlers only set a flag and wake every wait.
namespace stop {
// Installs the handlers and ignores SIGPIPE, so that writing to a closed connection is an error
// the simulator reports, not its death. False when the wake-up pipe cannot be made.
bool Install();
bool Requested();
int WakeFd();
}  // namespace stop

class Link {
  public:
    virtual ~Link() = default;
    // "tcp" or "serial", for the output lines.
    virtual const char* Name() const = 0;
    // Waits for bytes from the program until the deadline; appends what arrived to inbox. With
    // watch_next, a TCP connection of another program also ends the wait.
    virtual Event Wait(Clock::time_point deadline, std::string& inbox, bool watch_next) = 0;
    // Writes all bytes; false when the program's end is gone, and nothing more can be written.
    virtual bool Send(std::string_view bytes) = 0;
    // Drops the connection to the program; a serial line cannot be hung up and stays.
    virtual void Disconnect() = 0;
    // Drops the connection with a reset instead of an orderly close; a serial line stays.
    virtual void Reset() = 0;
    // Whether the program's side can be seen to close (TCP, pseudo-terminal), so the simulator
    // can wait for it to go before it ends.
    virtual bool SeesClose() const = 0;
};

class TcpLink final : public Link {
  public:
    TcpLink() = default;
    TcpLink(const TcpLink&) = delete;
    TcpLink& operator=(const TcpLink&) = delete;
    ~TcpLink() override;

    // Binds and listens; an empty text, or what failed.
    std::string Listen(const std::string& address, std::uint16_t port);
    std::uint16_t Port() const { return port_; }
    // Waits for the next connection; false when a stop was requested first.
    bool Accept();

    const char* Name() const override { return "tcp"; }
    Event Wait(Clock::time_point deadline, std::string& inbox, bool watch_next) override;
    bool Send(std::string_view bytes) override;
    void Disconnect() override;
    void Reset() override;
    bool SeesClose() const override { return true; }

  private:
    int listen_fd_ = -1;
    int conn_fd_ = -1;
    std::uint16_t port_ = 0;
};

// A serial line on a file descriptor: a pseudo-terminal's master side, or a serial device. The
// other side may be closed and opened again at any time; while it is closed nothing is written,
// since the bytes would wait in the line for the next program that opens it.
class SerialLink final : public Link {
  public:
    SerialLink() = default;
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;
    ~SerialLink() override;

    // Creates a pseudo-terminal in raw mode; an empty text, or what failed. Path() is then the
    // name the program opens.
    std::string OpenPty();
    // Opens a serial device raw at 9600 baud, 8N1, no flow control; an empty text, or what failed.
    std::string OpenDevice(const std::string& path);
    const std::string& Path() const { return path_; }

    const char* Name() const override { return "serial"; }
    Event Wait(Clock::time_point deadline, std::string& inbox, bool watch_next) override;
    bool Send(std::string_view bytes) override;
    void Disconnect() override {}
    void Reset() override {}
    bool SeesClose() const override { return pty_; }

  private:
    bool PeerHungUp() const;

    int fd_ = -1;
    bool pty_ = false;
    bool present_ = false;  // whether the other side is open
    std::string path_;
};

}  // namespace vendilox::sim
