#include "platform/win32/serial_port.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>

#include "platform/platform.hpp"
#include "platform/win32/text.hpp"

namespace vendilox::platform::win32 {

namespace {

constexpr UINT kChunkMessage = kFirstOwnMessage;           // wParam: generation
constexpr UINT kLineStatusMessage = kFirstOwnMessage + 1;  // wParam: generation
constexpr UINT kGoneMessage = kFirstOwnMessage + 2;        // wParam: generation

// How long the thread waits for cancelled I/O to come back before it gives up on it; the I/O's
// memory is then kept for good, so that a driver finishing late writes into nothing freed.
constexpr DWORD kCancelWaitMs = 2000;

// The driver's receive buffer; the program's own send queue is bounded separately.
constexpr DWORD kInQueueSize = 4096;

}  // namespace

// What the I/O thread and the main thread share. The thread holds it as long as it runs, so the
// port object may go while the thread is still on its way out.
struct Win32SerialPort::TIo {
    enum class TRead { None, WaitEvent, Data };

    TIo(HANDLE port, HWND window, std::uint64_t generation)
        : Port(port), Window(window), Generation(generation) {
        Stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        Wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        Handled = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ReadIo.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        WriteIo.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~TIo() {
        for (HANDLE event : {Stop, Wake, Handled, ReadIo.hEvent, WriteIo.hEvent}) {
            if (event != nullptr)
                ::CloseHandle(event);
        }
    }
    TIo(const TIo&) = delete;
    TIo& operator=(const TIo&) = delete;

    bool Ready() const {
        return Stop != nullptr && Wake != nullptr && Handled != nullptr &&
               ReadIo.hEvent != nullptr && WriteIo.hEvent != nullptr;
    }

    std::size_t Waiting() {
        std::lock_guard<std::mutex> guard(Lock);
        return Queue.size() + Unwritten.size();
    }

    static void Run(std::shared_ptr<TIo> self) { self->Loop(self); }
    void Loop(const std::shared_ptr<TIo>& self);
    void StartRead();
    void ReadDone();
    void StartWrite();
    void WriteDone();
    void CheckLineStatus();
    void Post(UINT message) { ::PostMessageW(Window, message, static_cast<WPARAM>(Generation), 0); }
    void Cancel(const std::shared_ptr<TIo>& self);

    const HANDLE Port;
    const HWND Window;
    const std::uint64_t Generation;
    HANDLE Stop = nullptr;     // set by Close
    HANDLE Wake = nullptr;     // bytes were queued
    HANDLE Handled = nullptr;  // the main thread is done with Chunk
    OVERLAPPED ReadIo{};
    OVERLAPPED WriteIo{};
    std::atomic<bool> CommEvents{true};

    // Thread only.
    TRead Reading = TRead::None;
    bool Writing = false;
    bool Delivering = false;
    bool Receiving = true;
    DWORD Mask = 0;
    DWORD InQueue = 0;
    char Buffer[kMaxChunk];

    // The main thread reads it between the chunk message and Handled; the thread leaves it alone
    // meanwhile.
    std::string Chunk;

    std::mutex Lock;
    std::string Queue;      // guarded: bytes Write queued, not yet given to WriteFile
    std::string Unwritten;  // guarded: the pending write's bytes, until WriteFile took them
};

void Win32SerialPort::TIo::StartRead() {
    ::ResetEvent(ReadIo.hEvent);
    if (CommEvents && InQueue == 0) {
        Mask = 0;
        if (::WaitCommEvent(Port, &Mask, &ReadIo) || ::GetLastError() == ERROR_IO_PENDING) {
            Reading = TRead::WaitEvent;
            return;
        }
        // A driver that cannot wait for comm events at all is read with timeouts instead.
        CommEvents = false;
        COMMTIMEOUTS timeouts{kReadIntervalMs, 0, 0, 0, 0};
        ::SetCommTimeouts(Port, &timeouts);
        ::ResetEvent(ReadIo.hEvent);
    }
    const DWORD wanted =
        CommEvents ? std::min<DWORD>(InQueue, kMaxChunk) : static_cast<DWORD>(kMaxChunk);
    if (::ReadFile(Port, Buffer, wanted, nullptr, &ReadIo) ||
        ::GetLastError() == ERROR_IO_PENDING) {
        Reading = TRead::Data;
        return;
    }
    // The device is gone (unplugged, the other end closed): reception ends instead of failing
    // over and over; the transaction is then ended by its timers.
    Receiving = false;
    Post(kGoneMessage);
}

void Win32SerialPort::TIo::ReadDone() {
    const TRead done = Reading;
    Reading = TRead::None;
    DWORD length = 0;
    if (!::GetOverlappedResult(Port, &ReadIo, &length, FALSE)) {
        if (done == TRead::WaitEvent) {
            CommEvents = false;
            COMMTIMEOUTS timeouts{kReadIntervalMs, 0, 0, 0, 0};
            ::SetCommTimeouts(Port, &timeouts);
            return;
        }
        Receiving = false;
        Post(kGoneMessage);
        return;
    }
    if (done == TRead::WaitEvent) {
        if (Mask == 0) {
            // The wait came back at once with nothing in it: this driver has no comm events.
            CommEvents = false;
            COMMTIMEOUTS timeouts{kReadIntervalMs, 0, 0, 0, 0};
            ::SetCommTimeouts(Port, &timeouts);
            return;
        }
        CheckLineStatus();
        return;
    }
    CheckLineStatus();
    if (length == 0)
        return;
    Chunk.assign(Buffer, length);
    Delivering = true;
    if (!::PostMessageW(Window, kChunkMessage, static_cast<WPARAM>(Generation), 0))
        Delivering = false;  // the window is gone; nobody would take the chunk
}

void Win32SerialPort::TIo::CheckLineStatus() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(Port, &errors, &status)) {
        InQueue = 0;
        return;
    }
    InQueue = status.cbInQue;
    if ((errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_RXOVER)) != 0)
        Post(kLineStatusMessage);
}

void Win32SerialPort::TIo::StartWrite() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Unwritten.empty())
            Unwritten.swap(Queue);
        if (Unwritten.empty())
            return;
    }
    // Only this thread changes Unwritten once it is not empty, so its bytes stay put while the
    // write is pending.
    ::ResetEvent(WriteIo.hEvent);
    if (::WriteFile(Port, Unwritten.data(), static_cast<DWORD>(Unwritten.size()), nullptr,
                    &WriteIo) ||
        ::GetLastError() == ERROR_IO_PENDING) {
        Writing = true;
        return;
    }
    // The bytes cannot go out; they are dropped rather than tried again forever.
    std::lock_guard<std::mutex> guard(Lock);
    Unwritten.clear();
}

void Win32SerialPort::TIo::WriteDone() {
    Writing = false;
    DWORD written = 0;
    const bool ok = ::GetOverlappedResult(Port, &WriteIo, &written, FALSE);
    std::lock_guard<std::mutex> guard(Lock);
    if (!ok) {
        Unwritten.clear();
        return;
    }
    Unwritten.erase(0, std::min<std::size_t>(written, Unwritten.size()));
}

void Win32SerialPort::TIo::Cancel(const std::shared_ptr<TIo>& self) {
    if (Reading == TRead::None && !Writing)
        return;
    ::CancelIoEx(Port, nullptr);
    bool settled = true;
    if (Reading != TRead::None)
        settled = ::WaitForSingleObject(ReadIo.hEvent, kCancelWaitMs) == WAIT_OBJECT_0;
    if (Writing)
        settled = ::WaitForSingleObject(WriteIo.hEvent, kCancelWaitMs) == WAIT_OBJECT_0 && settled;
    if (!settled)
        new std::shared_ptr<TIo>(self);  // kept for good: the driver may still write into it
}

void Win32SerialPort::TIo::Loop(const std::shared_ptr<TIo>& self) {
    for (;;) {
        if (Receiving && !Delivering && Reading == TRead::None)
            StartRead();
        if (!Writing)
            StartWrite();

        HANDLE handles[5];
        DWORD count = 0;
        handles[count++] = Stop;
        handles[count++] = Wake;
        const DWORD handledIndex = Delivering ? count : MAXDWORD;
        if (Delivering)
            handles[count++] = Handled;
        const DWORD readIndex = Reading != TRead::None ? count : MAXDWORD;
        if (Reading != TRead::None)
            handles[count++] = ReadIo.hEvent;
        const DWORD writeIndex = Writing ? count : MAXDWORD;
        if (Writing)
            handles[count++] = WriteIo.hEvent;

        const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        if (result >= WAIT_OBJECT_0 + count) {
            Cancel(self);  // the wait itself failed: nothing can be done but to end
            return;
        }
        const DWORD index = result - WAIT_OBJECT_0;
        if (index == 0) {
            Cancel(self);
            return;
        }
        if (index == handledIndex)
            Delivering = false;
        else if (index == readIndex)
            ReadDone();
        else if (index == writeIndex)
            WriteDone();
    }
}

Win32SerialPort::Win32SerialPort(IApplication& app) : app_(app) {}

Win32SerialPort::~Win32SerialPort() {
    Close();
}

std::string Win32SerialPort::SystemName(std::string_view name) {
    if (name.size() < 5)
        return std::string(name);
    auto upper = [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    };
    if (upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M')
        return std::string(name);
    const std::string_view digits = name.substr(3);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        digits.front() == '0') {
        return std::string(name);
    }
    return "\\\\.\\" + std::string(name);
}

bool Win32SerialPort::UsesCommEvents() const {
    return io_ != nullptr && io_->CommEvents;
}

void Win32SerialPort::FailOpen(HANDLE port, const std::string& what, DWORD code) {
    if (port != INVALID_HANDLE_VALUE)
        ::CloseHandle(port);
    throw ELinkError("Serial port \"" + name_ + "\" " + what + ": " + SystemErrorText(code));
}

void Win32SerialPort::Open() {
    if (IsOpen())
        return;
    if (name_.empty() || name_.find('\0') != std::string::npos)
        throw ELinkError("Serial port \"" + name_ + "\" cannot be opened: no such name");
    // Share mode 0: nobody else may open the port while the program has it.
    HANDLE port = ::CreateFileW(Wide(SystemName(name_)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        FailOpen(port, "cannot be opened", ::GetLastError());
    if (::GetFileType(port) != FILE_TYPE_CHAR)
        FailOpen(port, "is no serial port", ERROR_INVALID_HANDLE);

    ::SetupComm(port, kInQueueSize, static_cast<DWORD>(kMaxSendQueueSize));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb))
        FailOpen(port, "cannot be set up", ::GetLastError());
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    // A line error must not stop reading and writing until it is cleared: it is reported and
    // the transaction goes on.
    dcb.fAbortOnError = FALSE;
    if (!::SetCommState(port, &dcb))
        FailOpen(port, "cannot be set up", ::GetLastError());
    // Comm events where the driver has them; the I/O thread finds out at its first wait.
    const bool events = ::SetCommMask(port, EV_RXCHAR | EV_ERR) != 0;
    COMMTIMEOUTS timeouts =
        events ? COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0} : COMMTIMEOUTS{kReadIntervalMs, 0, 0, 0, 0};
    if (!::SetCommTimeouts(port, &timeouts))
        FailOpen(port, "cannot be set up", ::GetLastError());
    DWORD errors = 0;
    ::ClearCommError(port, &errors, nullptr);

    auto io = std::make_shared<TIo>(port, Handle(), ++generation_);
    if (!io->Ready())
        FailOpen(port, "cannot be set up", ::GetLastError());
    io->CommEvents = events;
    try {
        thread_ = std::thread(&TIo::Run, io);
    } catch (const std::system_error& e) {
        FailOpen(port, "cannot start its reception", ERROR_NOT_ENOUGH_MEMORY);
    }
    port_ = port;
    io_ = std::move(io);
}

void Win32SerialPort::Close() {
    if (!IsOpen())
        return;
    ++generation_;  // chunks and reports still queued belong to the closed port
    if (io_)
        ::SetEvent(io_->Stop);
    if (thread_.joinable())
        thread_.join();
    io_.reset();
    ::CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
}

void Win32SerialPort::Write(const char* data, std::size_t length) {
    if (!IsOpen())
        throw ELinkError("Serial port \"" + name_ + "\" is not open");
    if (length == 0)
        return;
    {
        std::lock_guard<std::mutex> guard(io_->Lock);
        const std::size_t waiting = io_->Queue.size() + io_->Unwritten.size();
        if (waiting > kMaxSendQueueSize || length > kMaxSendQueueSize - waiting) {
            throw ELinkError("Send queue of serial port \"" + name_ + "\" is full: " +
                             std::to_string(waiting) + " bytes waiting, " + std::to_string(length) +
                             " more do not fit into " + std::to_string(kMaxSendQueueSize));
        }
        io_->Queue.append(data, length);
    }
    ::SetEvent(io_->Wake);
}

LRESULT Win32SerialPort::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const bool current = io_ != nullptr && static_cast<std::uint64_t>(wParam) == generation_;
    switch (message) {
        case kChunkMessage: {
            if (!current)
                return 0;
            // The handler may close the port; the shared part stays until the chunk is done.
            const std::shared_ptr<TIo> io = io_;
            if (onData_)
                Dispatch(app_, [&] { onData_(io->Chunk.data(), io->Chunk.size()); });
            ::SetEvent(io->Handled);
            return 0;
        }
        case kLineStatusMessage:
            if (current && onLineStatus_)
                Dispatch(app_, onLineStatus_);
            return 0;
        case kGoneMessage:
            if (current)
                Close();
            return 0;
        default:
            return ::DefWindowProcW(Handle(), message, wParam, lParam);
    }
}

}  // namespace vendilox::platform::win32
