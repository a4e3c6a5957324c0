// Measures the real program end to end by playing the terminal itself on a loopback listener.
// Times are CLOCK_MONOTONIC: a frame leaves when its send returns, and arrives when the kernel
// stamped its first segment. Every run of the program gets a fresh directory with its own copy
// of the executable and its settings file.
//
// Figures:
//   startup            fork of the program to the first byte of its request, against two
//                      floors: the fork-to-exit time of a minimal Qt Widgets program that quits
//                      after its first paint, and the fork to the first byte of a minimal Qt
//                      Widgets program that shows a window and writes one byte on a loopback
//                      connection (the first-byte floor, the same road as the program's)
//   response_handling  last byte of the final response sent to the first byte of the
//                      confirmation, less the program's one-second pause before it answers
//   closing            confirmation received to process exit, less the four-second close timer
//   idle_cpu           CPU time per minute while the program waits for a terminal that never
//                      answers (its not-connected and close timers keep ticking meanwhile)
//   peak_memory        peak resident memory of a whole approved purchase, against the floor
//   windows_startup    the Windows program under Wine: start to the first byte of its request,
//                      against the start to the one byte of a minimal Win32 program under Wine
//                      that shows a window and writes one byte on a loopback connection
//   windows_exe_size   the size of the Windows executable
//
// The start-up runs go one at a time, taking turns with the two floors. The full transactions run
// several at a time, each in a network namespace of its own (the program refuses a second
// instance within one namespace), started at a fixed period so that the moments that are timed
// in one run never meet a start-up, a response or a close of another.
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/cp1250.hpp"
#include "protocol/frame.hpp"

extern char** environ;

namespace vendilox::bench {
namespace {

namespace fs = std::filesystem;
using Nanos = std::int64_t;

constexpr Nanos kMs = 1'000'000;
constexpr Nanos kSecond = 1'000'000'000;
// What the program waits on purpose; the figures are the time it takes beyond these.
constexpr double kResponsePauseMs = 1000.0;
constexpr double kCloseTimerMs = 4000.0;
// The start-up target is a factor of the floor; peak memory is held to the same factor.
constexpr double kFloorFactor = 1.5;
// The first-byte floor does what the program must do before its request goes out, so the
// program is held closer to it; so is the Windows program to its Win32 floor.
constexpr double kFirstByteFloorFactor = 1.2;
// The Windows program is one file, well under a MiB.
constexpr double kWindowsExeKiB = 1024.0;

// ---------------------------------------------------------------------------------------------
// Time, descriptors, directories.

Nanos Now() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Nanos>(ts.tv_sec) * kSecond + ts.tv_nsec;
}

void SleepUntil(Nanos when) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(when / kSecond);
    ts.tv_nsec = static_cast<long>(when % kSecond);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

double ToMs(Nanos span) {
    return static_cast<double>(span) / static_cast<double>(kMs);
}

// One failed run: it is reported and left out of the figures; the other runs go on.
struct RunError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string SystemError(std::string_view what) {
    return std::string(what) + ": " + std::strerror(errno);
}

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { Reset(); }
    int Get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

// A directory of its own for one run, removed with everything in it afterwards.
class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                              "/vendilox-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw RunError(SystemError("cannot create a run directory"));
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The last lines of what the program wrote to standard error, to say why a run failed.
std::string Tail(const std::string& path) {
    std::string text = ReadFile(path);
    if (text.size() > 600)
        text = "..." + text.substr(text.size() - 600);
    return text.empty() ? "" : "; its output:\n" + text;
}

// ---------------------------------------------------------------------------------------------
// Network.

// A fresh network namespace has its loopback device down.
void LoopbackUp() {
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0)
        throw std::runtime_error(SystemError("socket for the loopback device"));
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(fd.Get(), SIOCGIFFLAGS, &request) != 0)
        throw std::runtime_error(SystemError("reading the loopback device's flags"));
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    if (::ioctl(fd.Get(), SIOCSIFFLAGS, &request) != 0)
        throw std::runtime_error(SystemError("bringing the loopback device up"));
}

// A network namespace of its own for the calling process, with a working loopback device; false
// when the system does not allow it (not root), and then nothing has changed.
bool Isolate() {
    if (::unshare(CLONE_NEWNET) != 0)
        return false;
    LoopbackUp();
    return true;
}

struct Listener {
    Fd fd;
    int port = 0;
};

Listener Listen() {
    Listener listener;
    listener.fd = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener.fd.Get() < 0)
        throw RunError(SystemError("socket"));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // any free port; the settings file names it
    // The kernel stamps every segment with its arrival; the accepted connection inherits this.
    const int on = 1;
    if (::setsockopt(listener.fd.Get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
        throw RunError(SystemError("SO_TIMESTAMPNS"));
    if (::bind(listener.fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0 ||
        ::listen(listener.fd.Get(), 1) != 0) {
        throw RunError(SystemError("listening on 127.0.0.1"));
    }
    socklen_t size = sizeof address;
    if (::getsockname(listener.fd.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw RunError(SystemError("getsockname"));
    listener.port = ntohs(address.sin_port);
    return listener;
}

// ---------------------------------------------------------------------------------------------
// The program's process.

class Child {
  public:
    Child() = default;
    Child(pid_t pid, Fd pidfd) : pid_(pid), pidfd_(std::move(pidfd)) {}
    Child(Child&& other) noexcept
        : pid_(std::exchange(other.pid_, -1)), pidfd_(std::move(other.pidfd_)) {}
    Child& operator=(Child&&) = delete;
    // A child that is still there when its run ends, for whatever reason, is killed and reaped.
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    int PidFd() const { return pidfd_.Get(); }
    pid_t Pid() const { return pid_; }

    // Reaps the child, which must have ended (its pidfd was readable) or been killed.
    std::pair<int, rusage> Reap() {
        int status = 0;
        rusage usage{};
        while (::wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return {status, usage};
    }

    void Kill() {
        if (pid_ > 0)
            ::kill(pid_, SIGKILL);
    }

  private:
    pid_t pid_ = -1;
    Fd pidfd_;
};

// The environment of every run: the driver's own, with the program drawing off-screen and
// reporting on standard error instead of waiting in message boxes.
std::vector<std::string> RunEnvironment() {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view text = *entry;
        if (text.starts_with("QT_QPA_PLATFORM=") || text.starts_with("VENDILOX_UNATTENDED="))
            continue;
        env.emplace_back(text);
    }
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    env.emplace_back("VENDILOX_UNATTENDED=1");
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts exe in dir; forkedAt is the moment right before the fork, the start of every figure
// that counts from the process start.
// With a Wine prefix, exe is a Windows program, started by wine in that prefix.
struct Wine {
    std::string loader;  // wine64
    std::string prefix;  // a prefix whose server runs already
};

Child Spawn(const std::string& exe, std::vector<std::string> args, const std::string& dir,
            Nanos& forkedAt, const Wine* wine = nullptr) {
    std::vector<std::string> argvText;
    if (wine != nullptr)
        argvText.push_back(wine->loader);
    argvText.push_back(exe);
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<std::string> envText = RunEnvironment();
    if (wine != nullptr) {
        envText.push_back("WINEPREFIX=" + wine->prefix);
        envText.push_back("WINEDEBUG=-all");
    }
    std::vector<char*> argv = Pointers(argvText);
    std::vector<char*> envp = Pointers(envText);
    const std::string errPath = dir + "/stderr.txt";
    Fd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    Fd errFile(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (devNull.Get() < 0 || errFile.Get() < 0)
        throw RunError(SystemError("opening the run's output files"));
    const pid_t parent = ::getpid();

    forkedAt = Now();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw RunError(SystemError("fork"));
    if (pid == 0) {
        // Only async-signal-safe calls from here to the exec. A program whose driver is gone
        // would wait for its terminal forever, so it goes with the driver.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(devNull.Get(), STDIN_FILENO);
        ::dup2(devNull.Get(), STDOUT_FILENO);
        ::dup2(errFile.Get(), STDERR_FILENO);
        if (::chdir(dir.c_str()) != 0)
            ::_exit(127);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (pidfd.Get() < 0) {
        const std::string failure = SystemError("pidfd_open");
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        throw RunError(failure);
    }
    return Child(pid, std::move(pidfd));
}

// Copies exe into dir under its own name and returns the copy's path.
std::string CopyInto(const std::string& exe, const std::string& dir) {
    const fs::path target = fs::path(dir) / fs::path(exe).filename();
    std::error_code error;
    fs::copy_file(exe, target, error);
    if (error)
        throw RunError("cannot copy " + exe + ": " + error.message());
    return target.string();
}

// The program's copy and, beside it, its settings file: TCP to the driver's listener, checksums
// not enforced, no debug mode, the result file in the run's directory.
std::string StageProgram(const std::string& exe, const std::string& dir, int port) {
    const std::string copy = CopyInto(exe, dir);
    const std::string ini = fs::path(copy).replace_extension(".ini").string();
    std::ofstream out(ini, std::ios::binary);
    out << "[Settings]\n"
        << "ConnectionType=TCP\n"
        << "Timeout=120\n"
        << "CRC_check=0\n"
        << "Debug=0\n"
        << "PathToTxt=" << dir << "/\n"
        << "[TCP]\n"
        << "Host=127.0.0.1\n"
        << "Port=" << port << "\n";
    if (!out.flush())
        throw RunError("cannot write " + ini);
    return copy;
}

// A purchase of 123,45 with an authorization code.
const std::vector<std::string> kPurchase = {"0", "12345", "12345678"};

enum class Ready { Fd, Exited };

// Waits until fd is readable or the child has ended, whichever comes first.
Ready WaitReadable(int fd, const Child& child, Nanos deadline, std::string_view what) {
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {child.PidFd(), POLLIN, 0}};
        const Nanos left = deadline - Now();
        if (left <= 0)
            throw RunError("timed out waiting for " + std::string(what));
        const int timeout = static_cast<int>(std::min<Nanos>(left / kMs + 1, 60'000));
        const int ready = ::poll(fds, fd >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno != EINTR)
            throw RunError(SystemError("poll"));
        if (ready <= 0)
            continue;
        if (fds[0].revents != 0)
            return Ready::Fd;
        if (fds[1].revents != 0)
            return Ready::Exited;
    }
}

// Waits for the child to end; the moment it is seen ending.
Nanos WaitExit(const Child& child, Nanos deadline, std::string_view what) {
    for (;;) {
        pollfd fd{child.PidFd(), POLLIN, 0};
        const Nanos left = deadline - Now();
        if (left <= 0)
            throw RunError("timed out waiting for " + std::string(what));
        const int ready = ::poll(&fd, 1, static_cast<int>(std::min<Nanos>(left / kMs + 1, 60'000)));
        if (ready > 0)
            return Now();
        if (ready < 0 && errno != EINTR)
            throw RunError(SystemError("poll"));
    }
}

Fd Accept(const Listener& listener, const Child& child, Nanos deadline, const std::string& err) {
    if (WaitReadable(listener.fd.Get(), child, deadline, "the program to connect") ==
        Ready::Exited) {
        throw RunError("the program ended without connecting" + Tail(err));
    }
    Fd connection(::accept4(listener.fd.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.Get() < 0)
        throw RunError(SystemError("accept"));
    return connection;
}

// The moment the segment of what recvmsg just read arrived, taken from the kernel's stamp and
// turned from the real-time clock into CLOCK_MONOTONIC; nullopt without a stamp.
std::optional<Nanos> ArrivalOf(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        timespec real{};
        const Nanos mono = Now();
        ::clock_gettime(CLOCK_REALTIME, &real);
        const Nanos realNow = static_cast<Nanos>(real.tv_sec) * kSecond + real.tv_nsec;
        const Nanos arrived = static_cast<Nanos>(stamp.tv_sec) * kSecond + stamp.tv_nsec;
        return mono - (realNow - arrived);
    }
    return std::nullopt;
}

// Reads what has arrived into `into`, waiting for it first. When `into` is empty, only its first
// byte is read, and firstByteAt is when it arrived: the kernel's stamp of the segment that held
// it, so that the figure does not include the time the driver took to wake up. That time can be
// a millisecond when the program, still busy after sending, holds the CPU the driver was woken
// on.
void ReadMore(int fd, const Child& child, Nanos deadline, std::string& into, Nanos& firstByteAt,
              std::string_view what, const std::string& err) {
    for (;;) {
        if (WaitReadable(fd, child, deadline, what) == Ready::Exited)
            throw RunError("the program ended before " + std::string(what) + Tail(err));
        const Nanos seen = Now();
        char buffer[512];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        iovec io{buffer, into.empty() ? 1 : sizeof buffer};  // the first byte alone: its stamp
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(fd, &message, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            throw RunError("the connection ended before " + std::string(what) + Tail(err));
        if (into.empty())
            firstByteAt = ArrivalOf(message).value_or(seen);
        into.append(buffer, static_cast<std::size_t>(got));
        return;
    }
}

// Reads one frame (up to its ETX); firstByteAt is when its first byte arrived.
std::string ReadFrame(int fd, const Child& child, Nanos deadline, Nanos& firstByteAt,
                      std::string_view what, const std::string& err) {
    std::string frame;
    while (frame.empty() || frame.back() != ETX) {
        ReadMore(fd, child, deadline, frame, firstByteAt, what, err);
        if (frame.size() > 4096)
            throw RunError("no end of frame in " + std::string(what));
    }
    return frame;
}

// Reads at least count bytes; firstByteAt is when the first one arrived.
std::string ReadBytes(int fd, const Child& child, Nanos deadline, Nanos& firstByteAt,
                      std::size_t count, std::string_view what, const std::string& err) {
    std::string bytes;
    while (bytes.size() < count)
        ReadMore(fd, child, deadline, bytes, firstByteAt, what, err);
    return bytes;
}

void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            throw RunError(SystemError("send"));
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

// ---------------------------------------------------------------------------------------------
// The terminal's frames.

std::string Frame(std::string_view headerStart, std::string_view body) {
    std::string frame(1, STX);
    frame.append(headerStart);
    frame.append(LengthText(body.size()));
    frame.append(CrcText(Crc16(body)));
    frame.append(body);
    frame.push_back(ETX);
    return frame;
}

// Header positions 1 to 28 of the terminal's frames, with the date and time of the request.
std::string TerminalHeaderStart(const std::string& request) {
    const std::string_view dateTime =
        std::string_view(request).substr(header::kDateTimePos, header::kDateTimeWidth);
    return "B001" + std::string("87654321") + std::string(dateTime) + "0001";
}

std::string ActivityConfirmation(const std::string& request) {
    return Frame(TerminalHeaderStart(request), "");
}

// An approving answer to the purchase, with the fields a real terminal sends.
std::string ApprovingResponse(const std::string& request) {
    std::string body;
    for (std::string_view field :
         {"R000", "T00", "B12345", "P4111111111111111", "F12345678", "JVISA", "L0000123"}) {
        body.push_back(FS);
        body.append(field);
    }
    return Frame(TerminalHeaderStart(request), body);
}

// The program's confirmation: the response's first 30 header positions, "00A5A5", no body.
std::string ExpectedConfirmation(const std::string& response) {
    std::string frame(1, STX);
    frame.append(response.substr(1, 30));
    frame.append("00A5A5");
    frame.push_back(ETX);
    return frame;
}

void CheckRequest(const std::string& request, const std::string& err) {
    const std::string body = std::string(1, FS) + "T00" + std::string(1, FS) + "B12345";
    if (request.size() != 1 + header::kLength + body.size() + 1 || request.front() != STX ||
        request.compare(1 + header::kLength, body.size(), body) != 0) {
        throw RunError("unexpected request " + HexDump(request) + Tail(err));
    }
}

// ---------------------------------------------------------------------------------------------
// The runs.

// What the scheduler counted for every thread of pid, in nanoseconds: the CPU time (not rounded
// to clock ticks the way utime and stime are) and the time spent runnable but waiting for a CPU,
// which on a busy machine is most of what a figure has above the program's own work.
struct SchedulerTime {
    Nanos cpu = 0;
    Nanos queued = 0;
    int threads = 0;
};

SchedulerTime ReadTasks(const std::string& tasks) {
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr)
        throw RunError(SystemError("reading " + tasks));
    SchedulerTime total;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
        long long cpu = 0, queued = 0;
        if (in >> cpu >> queued) {
            total.cpu += cpu;
            total.queued += queued;
            ++total.threads;
        }
    }
    ::closedir(dir);
    return total;
}

SchedulerTime ReadSchedulerTime(pid_t pid) {
    return ReadTasks("/proc/" + std::to_string(pid) + "/task");
}

double CpuMs(const rusage& usage) {
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct StartupSample {
    double ms = 0;
    double cpuMs = 0;     // CPU the program had used when its request arrived
    double queuedMs = 0;  // time it had waited for a CPU by then
};

// Fork of the program to the first byte of its request; under Wine with a prefix.
StartupSample StartupRun(const std::string& program, const Wine* wine = nullptr) {
    TempDir dir;
    Listener listener = Listen();
    const std::string copy = StageProgram(program, dir.Path(), listener.port);
    const std::string err = dir.Path() + "/stderr.txt";
    Nanos forkedAt = 0;
    Child child = Spawn(copy, kPurchase, dir.Path(), forkedAt, wine);
    const Nanos deadline = forkedAt + 20 * kSecond;
    Fd connection = Accept(listener, child, deadline, err);
    Nanos firstByte = 0;
    const std::string request =
        ReadFrame(connection.Get(), child, deadline, firstByte, "the request", err);
    const SchedulerTime used = ReadSchedulerTime(child.Pid());
    CheckRequest(request, err);
    child.Kill();
    child.Reap();
    return {ToMs(firstByte - forkedAt), ToMs(used.cpu), ToMs(used.queued)};
}

struct FloorSample {
    double ms = 0;
    double cpuMs = 0;
    long maxRssKiB = 0;
};

// Fork of the first-byte floor to the arrival of its one byte; under Wine with a prefix.
StartupSample FirstByteFloorRun(const std::string& floor, const Wine* wine = nullptr) {
    TempDir dir;
    Listener listener = Listen();
    const std::string copy = CopyInto(floor, dir.Path());
    const std::string err = dir.Path() + "/stderr.txt";
    Nanos forkedAt = 0;
    Child child = Spawn(copy, {std::to_string(listener.port)}, dir.Path(), forkedAt, wine);
    const Nanos deadline = forkedAt + 20 * kSecond;
    Fd connection = Accept(listener, child, deadline, err);
    Nanos firstByte = 0;
    ReadBytes(connection.Get(), child, deadline, firstByte, 1, "the floor's byte", err);
    const SchedulerTime used = ReadSchedulerTime(child.Pid());
    child.Kill();
    child.Reap();
    return {ToMs(firstByte - forkedAt), ToMs(used.cpu), ToMs(used.queued)};
}

// Fork to exit of the minimal Qt program, and its peak memory.
FloorSample FloorRun(const std::string& floor) {
    TempDir dir;
    const std::string copy = CopyInto(floor, dir.Path());
    Nanos forkedAt = 0;
    Child child = Spawn(copy, {}, dir.Path(), forkedAt);
    const Nanos exitedAt = WaitExit(child, forkedAt + 20 * kSecond, "the minimal Qt program");
    const auto [status, usage] = child.Reap();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw RunError("the minimal Qt program failed" + Tail(dir.Path() + "/stderr.txt"));
    return {ToMs(exitedAt - forkedAt), CpuMs(usage), usage.ru_maxrss};
}

struct TransactionSample {
    double responseMs = 0;
    // CPU the program used from the response until its answer arrived; an upper bound, since
    // the program goes on with its caption and report while the driver reads this.
    double responseCpuMs = 0;
    double responseQueuedMs = 0;  // time it waited for a CPU meanwhile
    double closingMs = 0;
    long maxRssKiB = 0;
};

// One approved purchase, started at startAt; the final response goes out respondAfter after the
// fork, long after the request, so that it arrives in a chunk of its own.
TransactionSample TransactionRun(const std::string& program, Nanos startAt, Nanos respondAfter) {
    TempDir dir;
    Listener listener = Listen();
    const std::string copy = StageProgram(program, dir.Path(), listener.port);
    const std::string err = dir.Path() + "/stderr.txt";
    SleepUntil(startAt);
    Nanos forkedAt = 0;
    Child child = Spawn(copy, kPurchase, dir.Path(), forkedAt);
    const Nanos deadline = forkedAt + 30 * kSecond;
    Fd connection = Accept(listener, child, deadline, err);
    Nanos requestAt = 0;
    const std::string request =
        ReadFrame(connection.Get(), child, deadline, requestAt, "the request", err);
    CheckRequest(request, err);

    SendAll(connection.Get(), ActivityConfirmation(request));
    const std::string response = ApprovingResponse(request);
    SleepUntil(std::max(forkedAt + respondAfter, Now()));
    const SchedulerTime beforeResponse = ReadSchedulerTime(child.Pid());
    SendAll(connection.Get(), response);
    const Nanos sentAt = Now();

    Nanos confirmedAt = 0;
    const std::string confirmation =
        ReadFrame(connection.Get(), child, deadline, confirmedAt, "the confirmation", err);
    const SchedulerTime afterResponse = ReadSchedulerTime(child.Pid());
    if (confirmation != ExpectedConfirmation(response))
        throw RunError("unexpected confirmation " + HexDump(confirmation) + Tail(err));
    const Nanos exitedAt = WaitExit(child, deadline, "the program to close");
    const auto [status, usage] = child.Reap();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw RunError("the approved purchase did not end with exit code 0" + Tail(err));
    const std::string result = ReadFile(dir.Path() + "/vendilox.txt");
    if (result.find("Transakce provedena"_w1250) == std::string::npos)
        throw RunError("the result file holds no approved report" + Tail(err));

    return {ToMs(confirmedAt - sentAt) - kResponsePauseMs,
            ToMs(afterResponse.cpu - beforeResponse.cpu),
            ToMs(afterResponse.queued - beforeResponse.queued),
            ToMs(exitedAt - confirmedAt) - kCloseTimerMs, usage.ru_maxrss};
}

// CPU per minute while the terminal stays silent after the request, over the window of
// idleSeconds that starts a second after the request (the start-up's own work is then done).
double IdleRun(const std::string& program, Nanos startAt, int idleSeconds) {
    TempDir dir;
    Listener listener = Listen();
    const std::string copy = StageProgram(program, dir.Path(), listener.port);
    const std::string err = dir.Path() + "/stderr.txt";
    SleepUntil(startAt);
    Nanos forkedAt = 0;
    Child child = Spawn(copy, kPurchase, dir.Path(), forkedAt);
    const Nanos deadline = forkedAt + 20 * kSecond;
    Fd connection = Accept(listener, child, deadline, err);
    Nanos requestAt = 0;
    const std::string request =
        ReadFrame(connection.Get(), child, deadline, requestAt, "the request", err);
    CheckRequest(request, err);

    const Nanos from = requestAt + kSecond;
    const Nanos to = from + idleSeconds * kSecond;
    SleepUntil(from);
    const SchedulerTime before = ReadSchedulerTime(child.Pid());
    SleepUntil(to);
    const SchedulerTime after = ReadSchedulerTime(child.Pid());
    pollfd ended{child.PidFd(), POLLIN, 0};
    if (::poll(&ended, 1, 0) != 0)
        throw RunError("the program ended while it waited for the terminal" + Tail(err));
    if (after.threads < before.threads)
        throw RunError("a thread ended during the idle window; its time would be lost");
    child.Kill();
    child.Reap();
    return ToMs(after.cpu - before.cpu) * 60.0 / idleSeconds;
}

// ---------------------------------------------------------------------------------------------
// Running many at once.

enum class Kind { Transaction, Idle };

struct Job {
    Kind kind;
    Nanos startAt;
};

struct Options {
    std::string program;
    std::string floor;
    std::string firstByteFloor;
    // The Windows program and its Win32 floor, run by wine in a prefix; all empty: not measured.
    std::string windowsProgram;
    std::string windowsFloor;
    std::string wine;
    std::string winePrefix;
    std::string results = "build/bench/results.tsv";
    std::string samples = "build/bench/samples.tsv";
    int startupRuns = 30;
    int transactionRuns = 20;
    int idleRuns = 3;
    int idleSeconds = 15;
    int slots = 5;
    int periodMs = 1500;
    int respondAfterMs = 250;
};

// Every sample of every figure, in the order taken.
using Samples = std::map<std::string, std::vector<double>>;

void WriteLine(int fd, const std::string& line) {
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t put = ::write(fd, rest.data(), rest.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        rest.remove_prefix(static_cast<std::size_t>(put));
    }
}

// One worker process: its own network namespace when the driver has one, then its jobs in order,
// each answered with one line on out: "transaction <response> <closing> <rss>", "idle <cpu>"
// or "error <message>".
[[noreturn]] void Worker(const Options& options, const std::vector<Job>& jobs, bool isolate,
                         int out) {
    try {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (isolate && !Isolate())
            throw std::runtime_error(SystemError("a network namespace for a worker"));
    } catch (const std::exception& e) {
        WriteLine(out, std::string("error ") + e.what() + "\n");
        ::_exit(1);
    }
    for (const Job& job : jobs) {
        std::ostringstream line;
        try {
            if (job.kind == Kind::Transaction) {
                const TransactionSample sample =
                    TransactionRun(options.program, job.startAt, options.respondAfterMs * kMs);
                line << "transaction " << sample.responseMs << ' ' << sample.responseCpuMs << ' '
                     << sample.responseQueuedMs << ' ' << sample.closingMs << ' '
                     << sample.maxRssKiB;
            } else {
                line << "idle " << IdleRun(options.program, job.startAt, options.idleSeconds);
            }
        } catch (const std::exception& e) {
            std::string message = e.what();
            std::replace(message.begin(), message.end(), '\n', ' ');
            line.str("");
            line << "error " << message;
        }
        line << '\n';
        WriteLine(out, line.str());
    }
    ::_exit(0);
}

// Runs the jobs on `slots` worker processes and collects their samples; failures go to errors.
void RunParallel(const Options& options, const std::vector<std::vector<Job>>& perWorker,
                 bool isolate, Samples& samples, std::vector<std::string>& errors) {
    struct Running {
        pid_t pid;
        Fd out;
        std::string pending;
    };
    std::vector<Running> workers;
    for (const std::vector<Job>& jobs : perWorker) {
        if (jobs.empty())
            continue;
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            throw std::runtime_error(SystemError("pipe"));
        const pid_t pid = ::fork();
        if (pid < 0)
            throw std::runtime_error(SystemError("fork"));
        if (pid == 0) {
            ::close(pipeFds[0]);
            Worker(options, jobs, isolate, pipeFds[1]);
        }
        ::close(pipeFds[1]);
        workers.push_back({pid, Fd(pipeFds[0]), {}});
    }

    auto take = [&](const std::string& line) {
        std::istringstream in(line);
        std::string kind;
        in >> kind;
        if (kind == "transaction") {
            double response = 0, cpu = 0, queued = 0, closing = 0, rss = 0;
            in >> response >> cpu >> queued >> closing >> rss;
            samples["response_handling"].push_back(response);
            samples["response_handling_cpu"].push_back(cpu);
            samples["response_handling_queued"].push_back(queued);
            samples["closing"].push_back(closing);
            samples["peak_memory"].push_back(rss);
        } else if (kind == "idle") {
            double cpu = 0;
            in >> cpu;
            samples["idle_cpu"].push_back(cpu);
        } else {
            errors.push_back(line.substr(std::min<std::size_t>(line.size(), 6)));
        }
    };

    std::size_t open = workers.size();
    while (open > 0) {
        std::vector<pollfd> fds;
        for (Running& worker : workers)
            fds.push_back({worker.out.Get(), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(SystemError("poll"));
        }
        for (std::size_t i = 0; i < workers.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[1024];
            const ssize_t got = ::read(workers[i].out.Get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                workers[i].out.Reset();
                --open;
                continue;
            }
            workers[i].pending.append(buffer, static_cast<std::size_t>(got));
            std::size_t end;
            while ((end = workers[i].pending.find('\n')) != std::string::npos) {
                take(workers[i].pending.substr(0, end));
                workers[i].pending.erase(0, end + 1);
            }
        }
        // A finished worker's descriptor is -1 and poll ignores it.
    }
    for (Running& worker : workers)
        ::waitpid(worker.pid, nullptr, 0);
}

// ---------------------------------------------------------------------------------------------
// Figures.

struct Summary {
    double median = 0, min = 0, max = 0;
    std::size_t runs = 0;
};

std::optional<Summary> Summarise(std::vector<double> values) {
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    return Summary{median, values.front(), values.back(), n};
}

struct Figure {
    std::string name;
    std::string unit;
    std::optional<Summary> summary;
    std::optional<double> target;
    std::optional<double> reference;  // ratio = median / reference
    // The median must stay under the target ("under 5 ms"), not merely reach it ("at most 1.5x").
    bool under = false;
};

std::string Number(std::optional<double> value, int decimals) {
    if (!value)
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, *value);
    return text;
}

struct Row {
    std::vector<std::string> cells;
};

Row MakeRow(const Figure& f) {
    const int d = f.unit == "KiB" ? 0 : 2;
    std::optional<double> median, min, max, ratio;
    std::string runs = "0", met = "-";
    if (f.summary) {
        median = f.summary->median;
        min = f.summary->min;
        max = f.summary->max;
        runs = std::to_string(f.summary->runs);
        if (f.reference && *f.reference > 0)
            ratio = f.summary->median / *f.reference;
        if (f.target)
            met = (f.under ? f.summary->median < *f.target : f.summary->median <= *f.target) ? "yes"
                                                                                             : "no";
    } else if (f.target) {
        met = "no";
    }
    return {{f.name, f.unit, Number(median, d), Number(min, d), Number(max, d), runs,
             Number(f.target, d), Number(ratio, 2), met}};
}

const std::vector<std::string> kColumns = {"name", "unit",   "median", "min", "max",
                                           "runs", "target", "ratio",  "met"};

void PrintTable(const std::vector<Row>& rows) {
    std::vector<std::size_t> widths;
    for (const std::string& column : kColumns)
        widths.push_back(column.size());
    for (const Row& row : rows) {
        for (std::size_t i = 0; i < row.cells.size(); ++i)
            widths[i] = std::max(widths[i], row.cells[i].size());
    }
    auto print = [&](const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const std::size_t pad = widths[i] - cells[i].size();
            // Names and units to the left, numbers to the right.
            if (i < 2)
                std::cout << cells[i] << std::string(pad, ' ');
            else
                std::cout << std::string(pad, ' ') << cells[i];
            std::cout << (i + 1 < cells.size() ? "  " : "\n");
        }
    };
    print(kColumns);
    for (const Row& row : rows)
        print(row.cells);
}

void WriteTsv(const std::string& path, const std::vector<std::string>& header,
              const std::vector<std::vector<std::string>>& lines) {
    std::error_code ignored;
    if (fs::path(path).has_parent_path())
        fs::create_directories(fs::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary);
    auto put = [&out](const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i)
            out << cells[i] << (i + 1 < cells.size() ? '\t' : '\n');
    };
    put(header);
    for (const auto& line : lines)
        put(line);
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

// ---------------------------------------------------------------------------------------------

int Usage() {
    std::cerr << "usage: e2e_driver --program PATH --floor PATH --first-byte-floor PATH "
                 "[option VALUE]...\n"
                 "  --results PATH         figures, one row each (build/bench/results.tsv)\n"
                 "  --samples PATH         every sample of every figure (build/bench/samples.tsv)\n"
                 "  --startup-runs N       start-up runs of the program and of each floor (30)\n"
                 "  --transaction-runs N   approved purchases (20)\n"
                 "  --idle-runs N          runs that wait for a silent terminal (3)\n"
                 "  --idle-seconds N       seconds of waiting measured in each (15)\n"
                 "  --slots N              workers the purchases are spread over (5)\n"
                 "  --period-ms N          time between two purchase starts (1500)\n"
                 "  --windows-program PATH the Windows program, its start-up measured under Wine\n"
                 "  --windows-floor PATH   the Win32 floor of that start-up\n"
                 "  --wine PATH            wine64, to run both\n"
                 "  --wine-prefix PATH     the Wine prefix they run in, its server running\n";
    return 2;
}

std::optional<Options> ParseOptions(int argc, char* argv[]) {
    Options o;
    const std::map<std::string, int*> numbers = {
        {"--startup-runs", &o.startupRuns},
        {"--transaction-runs", &o.transactionRuns},
        {"--idle-runs", &o.idleRuns},
        {"--idle-seconds", &o.idleSeconds},
        {"--slots", &o.slots},
        {"--period-ms", &o.periodMs},
    };
    const std::map<std::string, std::string*> texts = {
        {"--program", &o.program},
        {"--floor", &o.floor},
        {"--first-byte-floor", &o.firstByteFloor},
        {"--windows-program", &o.windowsProgram},
        {"--windows-floor", &o.windowsFloor},
        {"--wine", &o.wine},
        {"--wine-prefix", &o.winePrefix},
        {"--results", &o.results},
        {"--samples", &o.samples},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string value = argv[++i];
        if (auto t = texts.find(name); t != texts.end()) {
            *t->second = value;
        } else if (auto n = numbers.find(name); n != numbers.end()) {
            char* end = nullptr;
            const long parsed = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || parsed < 0 || parsed > 100000)
                return std::nullopt;
            *n->second = static_cast<int>(parsed);
        } else {
            return std::nullopt;
        }
    }
    if (o.program.empty() || o.floor.empty() || o.firstByteFloor.empty() || o.slots < 1 ||
        o.idleSeconds < 1) {
        return std::nullopt;
    }
    const bool windows = !o.windowsProgram.empty();
    if (windows != !o.windowsFloor.empty() || windows != !o.wine.empty() ||
        windows != !o.winePrefix.empty()) {
        return std::nullopt;
    }
    if (windows) {
        o.windowsProgram = fs::absolute(o.windowsProgram).string();
        o.windowsFloor = fs::absolute(o.windowsFloor).string();
        o.winePrefix = fs::absolute(o.winePrefix).string();
    }
    // The executables are copied into the run directories and started from there.
    o.program = fs::absolute(o.program).string();
    o.floor = fs::absolute(o.floor).string();
    o.firstByteFloor = fs::absolute(o.firstByteFloor).string();
    return o;
}

int Main(int argc, char* argv[]) {
    const std::optional<Options> parsed = ParseOptions(argc, argv);
    if (!parsed)
        return Usage();
    Options options = *parsed;
    for (const std::string* exe : {&options.program, &options.floor, &options.firstByteFloor}) {
        if (::access(exe->c_str(), X_OK) != 0) {
            std::cerr << "e2e_driver: " << *exe << " is not an executable\n";
            return 2;
        }
    }

    Samples samples;
    std::vector<std::string> errors;
    std::vector<double> floorRss;
    const Nanos began = Now();

    // The Windows program's start-up under Wine, taking turns with its Win32 floor; the first
    // round warms the caches and the prefix's services. These runs go before the driver takes a
    // network namespace of its own: Wine makes its sockets in the prefix's server, which stays
    // in the namespace it was started in, so the driver's listener must be there too.
    std::optional<double> windowsExeKiB;
    if (!options.windowsProgram.empty()) {
        const Wine wine{options.wine, options.winePrefix};
        std::cerr << "windows start-up: " << options.startupRuns
                  << " runs of the program and of its floor under Wine...\n";
        for (int i = -1; i < options.startupRuns; ++i) {
            const bool counted = i >= 0;
            for (int turn = 0; turn < 2; ++turn) {
                try {
                    if ((turn + i + 2) % 2 == 0) {
                        const StartupSample startup = StartupRun(options.windowsProgram, &wine);
                        if (counted)
                            samples["windows_startup"].push_back(startup.ms);
                    } else {
                        const StartupSample floor = FirstByteFloorRun(options.windowsFloor, &wine);
                        if (counted)
                            samples["windows_startup_floor"].push_back(floor.ms);
                    }
                } catch (const RunError& e) {
                    errors.push_back(std::string("windows start-up: ") + e.what());
                }
            }
        }
        std::error_code failed;
        const auto bytes = fs::file_size(options.windowsProgram, failed);
        if (!failed)
            windowsExeKiB = static_cast<double>(bytes) / 1024.0;
    }

    // A namespace of the driver's own keeps other instances of the program on this machine from
    // refusing ours; workers take one more each, so that several runs can go at once.
    const bool isolated = Isolate();
    if (!isolated) {
        std::cerr << "e2e_driver: no network namespace of its own (needs root); every run goes "
                     "one at a time, and another instance of the program on this machine "
                     "would make runs fail\n";
        options.slots = 1;
    }

    // Start-up, taking turns with the two floors so that all three see the same machine; the
    // order rotates from round to round, and the first round only warms the caches.
    std::cerr << "start-up: " << options.startupRuns
              << " runs of the program and of each floor...\n";
    for (int i = -1; i < options.startupRuns; ++i) {
        const bool counted = i >= 0;
        for (int turn = 0; turn < 3; ++turn) {
            try {
                switch ((turn + i + 3) % 3) {
                    case 0: {
                        const StartupSample startup = StartupRun(options.program);
                        if (counted) {
                            samples["startup"].push_back(startup.ms);
                            samples["startup_cpu"].push_back(startup.cpuMs);
                            samples["startup_queued"].push_back(startup.queuedMs);
                        }
                        break;
                    }
                    case 1: {
                        const FloorSample floor = FloorRun(options.floor);
                        if (counted) {
                            samples["startup_floor"].push_back(floor.ms);
                            samples["startup_floor_cpu"].push_back(floor.cpuMs);
                            floorRss.push_back(static_cast<double>(floor.maxRssKiB));
                        }
                        break;
                    }
                    default: {
                        const StartupSample floor = FirstByteFloorRun(options.firstByteFloor);
                        if (counted) {
                            samples["startup_first_byte_floor"].push_back(floor.ms);
                            samples["startup_first_byte_floor_cpu"].push_back(floor.cpuMs);
                        }
                        break;
                    }
                }
            } catch (const RunError& e) {
                errors.push_back(std::string("start-up: ") + e.what());
            }
        }
    }

    // Full transactions at a fixed period, spread over the workers; the idle runs beside them
    // on workers of their own, started between two transaction starts.
    std::cerr << "transactions: " << options.transactionRuns << " approved purchases, "
              << options.idleRuns << " idle runs of " << options.idleSeconds << " s...\n";
    const Nanos period = options.periodMs * kMs;
    const Nanos first = Now() + 200 * kMs;
    std::vector<std::vector<Job>> perWorker(
        static_cast<std::size_t>(options.slots + (isolated ? options.idleRuns : 0)));
    for (int k = 0; k < options.transactionRuns; ++k) {
        const Nanos startAt = isolated ? first + k * period : 0;
        perWorker[static_cast<std::size_t>(k % options.slots)].push_back(
            {Kind::Transaction, startAt});
    }
    for (int k = 0; k < options.idleRuns; ++k) {
        const std::size_t worker = isolated ? static_cast<std::size_t>(options.slots + k) : 0;
        const Nanos startAt = isolated ? first + k * period + period / 4 : 0;
        perWorker[worker].push_back({Kind::Idle, startAt});
    }
    RunParallel(options, perWorker, isolated, samples, errors);

    // Figures.
    const std::optional<Summary> floorStartup = Summarise(samples["startup_floor"]);
    const std::optional<Summary> floorMemory = Summarise(floorRss);
    std::optional<double> startupBound, memoryBound, floorMs, floorKiB;
    if (floorStartup) {
        floorMs = floorStartup->median;
        startupBound = kFloorFactor * floorStartup->median;
    }
    if (floorMemory) {
        floorKiB = floorMemory->median;
        memoryBound = kFloorFactor * floorMemory->median;
    }
    const std::optional<Summary> floorCpu = Summarise(samples["startup_floor_cpu"]);
    std::optional<double> floorCpuMs;
    if (floorCpu)
        floorCpuMs = floorCpu->median;
    const std::optional<Summary> firstByteFloor = Summarise(samples["startup_first_byte_floor"]);
    std::optional<double> firstByteBound, firstByteMs;
    if (firstByteFloor) {
        firstByteMs = firstByteFloor->median;
        firstByteBound = kFirstByteFloorFactor * firstByteFloor->median;
    }
    const std::optional<Summary> firstByteCpu = Summarise(samples["startup_first_byte_floor_cpu"]);
    std::optional<double> firstByteCpuMs;
    if (firstByteCpu)
        firstByteCpuMs = firstByteCpu->median;
    const std::optional<double> none;
    const std::optional<Summary> windowsFloor = Summarise(samples["windows_startup_floor"]);
    std::optional<double> windowsBound, windowsFloorMs;
    if (windowsFloor) {
        windowsFloorMs = windowsFloor->median;
        windowsBound = kFirstByteFloorFactor * windowsFloor->median;
    }
    std::optional<Summary> windowsSize;
    if (windowsExeKiB)
        windowsSize = Summary{*windowsExeKiB, *windowsExeKiB, *windowsExeKiB, 1};
    // The rows without a target break a figure down: how much of it was the program's own CPU
    // work, and how long it waited for a CPU that others held.
    std::vector<Figure> figures = {
        {"startup_floor", "ms", floorStartup, none, none},
        {"startup", "ms", Summarise(samples["startup"]), startupBound, floorMs},
        {"startup_first_byte_floor", "ms", firstByteFloor, none, none},
        // The same runs of the program as startup, held against the first-byte floor.
        {"startup_first_byte", "ms", Summarise(samples["startup"]), firstByteBound, firstByteMs},
        {"startup_floor_cpu", "ms", floorCpu, none, none},
        {"startup_cpu", "ms", Summarise(samples["startup_cpu"]), none, floorCpuMs},
        {"startup_first_byte_floor_cpu", "ms", firstByteCpu, none, none},
        {"startup_first_byte_cpu", "ms", Summarise(samples["startup_cpu"]), none, firstByteCpuMs},
        {"startup_queued", "ms", Summarise(samples["startup_queued"]), none, none},
        {"response_handling", "ms", Summarise(samples["response_handling"]), 5.0, 5.0, true},
        {"response_handling_cpu", "ms", Summarise(samples["response_handling_cpu"]), none, none},
        {"response_handling_queued", "ms", Summarise(samples["response_handling_queued"]), none,
         none},
        {"closing", "ms", Summarise(samples["closing"]), 50.0, 50.0, true},
        {"idle_cpu", "ms/min", Summarise(samples["idle_cpu"]), 50.0, 50.0, true},
        {"peak_memory_floor", "KiB", floorMemory, none, none},
        {"peak_memory", "KiB", Summarise(samples["peak_memory"]), memoryBound, floorKiB},
    };
    if (!options.windowsProgram.empty()) {
        figures.push_back({"windows_startup_floor", "ms", windowsFloor, none, none});
        figures.push_back({"windows_startup", "ms", Summarise(samples["windows_startup"]),
                           windowsBound, windowsFloorMs});
        figures.push_back(
            {"windows_exe_size", "KiB", windowsSize, kWindowsExeKiB, kWindowsExeKiB, true});
    }

    std::vector<Row> rows;
    std::vector<std::vector<std::string>> lines;
    for (const Figure& figure : figures) {
        rows.push_back(MakeRow(figure));
        lines.push_back(rows.back().cells);
    }
    std::cout << '\n';
    PrintTable(rows);
    std::cout << "\nratio: median over the floor's median (startup and startup_cpu over "
                 "startup_floor, startup_first_byte and startup_first_byte_cpu over "
                 "startup_first_byte_floor, peak_memory over peak_memory_floor) or over the "
                 "target (the others); target of startup and peak_memory: "
              << kFloorFactor
              << " x the floor's median, of startup_first_byte: " << kFirstByteFloorFactor
              << " x the first-byte floor's median, of windows_startup: " << kFirstByteFloorFactor
              << " x windows_startup_floor's median.\n";

    std::vector<std::vector<std::string>> raw;
    samples["peak_memory_floor"] = floorRss;
    for (const auto& [name, values] : samples) {
        for (std::size_t i = 0; i < values.size(); ++i)
            raw.push_back({name, std::to_string(i + 1), Number(values[i], 3)});
    }
    WriteTsv(options.results, kColumns, lines);
    WriteTsv(options.samples, {"name", "run", "value"}, raw);
    std::cout << "figures: " << options.results << ", every sample: " << options.samples << ", "
              << Number(ToMs(Now() - began) / 1000.0, 1) << " s\n";

    for (const std::string& error : errors)
        std::cerr << "failed run: " << error << '\n';
    bool complete = true;
    for (const Figure& figure : figures)
        complete = complete && figure.summary.has_value();
    return complete && errors.empty() ? 0 : 1;
}

}  // namespace
}  // namespace vendilox::bench

int main(int argc, char* argv[]) {
    try {
        return vendilox::bench::Main(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "e2e_driver: " << e.what() << '\n';
        return 1;
    }
}
