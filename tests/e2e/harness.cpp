#include "harness.hpp"

#include "protocol/cp1250.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace vendilox::e2e {

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

}  // namespace

Process::Process(std::vector<std::string> argv, const std::vector<std::string>& env,
                 const std::filesystem::path& cwd) {
    // Everything the child needs is made before the fork: after it, only calls that are safe
    // there run.
    std::vector<std::string> environment(env);
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const std::string_view name = entry.substr(0, entry.find('='));
        const bool overridden = std::any_of(env.begin(), env.end(), [&](const std::string& mine) {
            return std::string_view(mine).substr(0, mine.find('=')) == name;
        });
        if (!overridden)
            environment.emplace_back(entry);
    }
    std::vector<char*> args, envp;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string dir = cwd.string();

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        Fail("pipe");
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        Fail("pipe");
    }
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0 ||
            ::chdir(dir.c_str()) != 0) {
            ::_exit(127);
        }
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (pid_ < 0) {
        ::close(out[0]);
        ::close(err[0]);
        Fail("fork");
    }
    out_ = out[0];
    err_ = err[0];
    ::fcntl(out_, F_SETFL, O_NONBLOCK);
    ::fcntl(err_, F_SETFL, O_NONBLOCK);
    pidfd_ = OpenPidFd(pid_);
}

Process::~Process() {
    if (pid_ > 0 && !status_) {
        // Only a failed test gets here with the child still running.
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_, pidfd_}) {
        if (fd >= 0)
            ::close(fd);
    }
}

std::optional<int> Process::ExitCode() const {
    if (!status_)
        return std::nullopt;
    if (WIFEXITED(*status_))
        return WEXITSTATUS(*status_);
    return -WTERMSIG(*status_);
}

void Process::Signal(int signal) const {
    if (pid_ > 0 && !status_)
        ::kill(pid_, signal);
}

void Process::CloseErr() {
    if (err_ >= 0) {
        ::close(err_);
        err_ = -1;
    }
    errPending_.clear();
}

std::string Process::ErrText() const {
    std::string text;
    for (const Line& line : errLines_)
        text += line.text + "\n";
    return text + errPending_;
}

void Process::AddPollFds(std::vector<pollfd>& fds) const {
    for (int fd : {out_, err_}) {
        if (fd >= 0)
            fds.push_back({fd, POLLIN, 0});
    }
    if (pidfd_ >= 0 && !status_)
        fds.push_back({pidfd_, POLLIN, 0});
}

void Process::Handle(const std::vector<pollfd>& fds) {
    for (const pollfd& p : fds) {
        if (p.revents == 0)
            continue;
        if (p.fd == out_ && out_ >= 0)
            ReadPipe(out_, outPending_, outLines_);
        else if (p.fd == err_ && err_ >= 0)
            ReadPipe(err_, errPending_, errLines_);
    }
    // Without a process descriptor the exit is looked for at every turn.
    Reap();
}

void Process::ReadPipe(int& fd, std::string& pending, std::vector<Line>& lines) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        const Clock::time_point now = Clock::now();
        if (n <= 0) {
            // The end of the output: an unfinished last line counts as a line.
            if (!pending.empty())
                lines.push_back({std::move(pending), now});
            pending.clear();
            ::close(fd);
            fd = -1;
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            lines.push_back({pending.substr(0, nl), now});
            pending.erase(0, nl + 1);
        }
    }
}

void Process::Reap() {
    if (pid_ <= 0 || status_)
        return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
        finishedAt_ = Clock::now();
    }
}

bool Pump(std::initializer_list<Process*> processes, Clock::time_point deadline,
          const std::function<bool()>& done) {
    std::vector<pollfd> fds;
    for (;;) {
        if (done())
            return true;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return false;
        fds.clear();
        for (Process* p : processes) {
            if (p != nullptr)
                p->AddPollFds(fds);
        }
        auto wait = std::chrono::duration_cast<milliseconds>(deadline - now).count() + 1;
        // Without a process descriptor the exit of a process shows only to waitpid, which is
        // asked again after a short turn.
        for (Process* p : processes) {
            if (p != nullptr && p->NeedsExitPolling())
                wait = std::min<long long>(wait, 20);
        }
        ::poll(fds.data(), fds.size(), static_cast<int>(wait));
        for (Process* p : processes) {
            if (p != nullptr)
                p->Handle(fds);
        }
    }
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vendilox-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        Fail("mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    if (keep_)
        return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The byte of the two hexadecimal digits at text[at], or -1.
int HexByte(std::string_view text, std::size_t at) {
    if (at + 1 >= text.size())
        return -1;
    const int high = HexDigit(text[at]), low = HexDigit(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

}  // namespace

std::string DecodeValue(std::string_view value) {
    std::string bytes;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const int byte = value[i] == '%' ? HexByte(value, i + 1) : -1;
        if (byte >= 0) {
            bytes.push_back(static_cast<char>(byte));
            i += 2;
        } else {
            bytes.push_back(value[i]);
        }
    }
    return bytes;
}

std::map<std::string, std::string> ParseFields(std::string_view line) {
    std::map<std::string, std::string> fields;
    std::istringstream in{std::string(line)};
    for (std::string pair; in >> pair;) {
        const std::size_t eq = pair.find('=');
        if (eq == std::string::npos)
            continue;
        fields[pair.substr(0, eq)] = DecodeValue(std::string_view(pair).substr(eq + 1));
    }
    return fields;
}

std::string Unescape(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            bytes.push_back('\\');
            ++i;
            continue;
        }
        const int byte = text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'x'
                             ? HexByte(text, i + 2)
                             : -1;
        if (byte >= 0) {
            bytes.push_back(static_cast<char>(byte));
            i += 3;
        } else {
            bytes.push_back(text[i]);
        }
    }
    return bytes;
}

int UnusedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        Fail("bind 127.0.0.1:0");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

UnansweredLoopbackPort::UnansweredLoopbackPort() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    // A backlog of 0 lets one connection wait in the queue; with it there, the queue is full.
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::listen(listener_, 0) != 0) {
        Fail("listen on 127.0.0.1:0");
    }
    port_ = ntohs(address.sin_port);
    for (int i = 0; i < 2; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            Fail("socket");
        fillers_.push_back(fd);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS) {
            Fail("connect to 127.0.0.1:" + std::to_string(port_));
        }
        if (i == 0) {
            // The first one completes and fills the queue; the next ones stay unanswered.
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, 5000) != 1)
                Fail("the queue of 127.0.0.1:" + std::to_string(port_) + " did not fill");
        }
    }
}

UnansweredLoopbackPort::~UnansweredLoopbackPort() {
    for (int fd : fillers_)
        ::close(fd);
    if (listener_ >= 0)
        ::close(listener_);
}

bool LoopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

std::string ExpectedReport(const Report& r, std::string_view datetime) {
    const std::string yy(datetime.substr(0, 2)), mm(datetime.substr(2, 2)),
        dd(datetime.substr(4, 2));
    const std::string date = mm + "/" + dd + "/20" + yy;
    const std::string time = std::string(datetime.substr(6, 2)) + ":" +
                             std::string(datetime.substr(8, 2)) + ":" +
                             std::string(datetime.substr(10, 2));
    std::string summary;
    for (std::string_view column :
         {std::string_view(r.code), kTerminalId, kBatch, std::string_view(r.typeCode),
          std::string_view(r.cardTypeCode), std::string_view(r.cardNumber),
          std::string_view(r.auth), std::string_view(date), std::string_view(time),
          std::string_view(r.amountDigits), std::string_view("1")}) {
        summary.append(column).push_back('|');
    }
    const std::vector<std::string> lines = {
        summary,
        std::string(35, '-'),
        "Stav po zpracování: " + r.status,
        "Číslo terminálu POS: " + std::string(kTerminalId),
        "Číslo dávky: " + std::string(kBatch),
        "Typ transakce: " + r.typeName,
        "Typ karty: " + r.cardName,
        "Číslo karty: " + r.cardNumber,
        "Autorizační kód: " + r.auth,
        "Datum transakce: " + date,
        "Čas transakce: " + time,
        "Částka transakce: " + r.amountText + " Kč",
    };
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return Utf8ToCp1250(text);
}

}  // namespace vendilox::e2e
