#include "rig.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "protocol/cp1250.hpp"
#include "protocol/frame.hpp"

namespace vendilox::reliability {

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Reads from fd until n bytes or an ETX came, the deadline passed or the other side ended.
std::string ReadFrom(int fd, Clock::time_point deadline, bool untilEtx, std::size_t n) {
    std::string bytes;
    for (;;) {
        if (untilEtx && bytes.find(ETX) != std::string::npos)
            return bytes;
        if (!untilEtx && n > 0 && bytes.size() >= n)
            return bytes;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return bytes;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return bytes;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

Report ApprovedPurchase() {
    return Report{"000",   "Transakce provedena",
                  "00",    "nákup na terminálu",
                  "0",     std::string(kCard),
                  "Visa",  std::string(kCardAuth),
                  "12345", "123,45"};
}

Report DeclinedPurchase(std::string code, std::string status) {
    Report r = ApprovedPurchase();
    r.code = std::move(code);
    r.status = std::move(status);
    r.auth.clear();
    return r;
}

Report ApprovedRefund() {
    Report r = ApprovedPurchase();
    r.status = "Transakce zrušena";
    r.typeCode = "10";
    r.typeName = "návrat transakce";
    r.amountDigits = "250";
    r.amountText = "2,50";
    return r;
}

namespace {

std::string Header(std::string_view datetime, std::string_view body, bool corruptCrc) {
    std::uint16_t crc = Crc16(body);
    if (corruptCrc)
        crc = static_cast<std::uint16_t>(crc ^ 0x5A5A);
    std::string header = "B001";
    header.append(kTerminalId).append(datetime).append("0001");
    header.append(LengthText(body.size())).append(CrcText(crc));
    return header;
}

void AddField(std::string& body, char tag, std::string_view value) {
    body.push_back(FS);
    body.push_back(tag);
    body.append(value);
}

}  // namespace

std::string ResponseFrame(std::string_view datetime, std::string_view code,
                          std::string_view typeCode, std::string_view amount, bool corruptCrc) {
    std::string body;
    AddField(body, 'R', code);
    AddField(body, 'T', typeCode);
    AddField(body, 'B', amount);
    AddField(body, 'P', kCard);
    if (code == "000")
        AddField(body, 'F', kCardAuth);
    AddField(body, 'L', kBatch);
    return std::string(1, STX) + Header(datetime, body, corruptCrc) + body + ETX;
}

std::string ActivityConfirmation(std::string_view datetime) {
    return std::string(1, STX) + Header(datetime, "", false) + ETX;
}

std::string ConfirmationOf(std::string_view response) {
    return std::string(1, STX) + std::string(response.substr(1, 30)) + "00A5A5" + ETX;
}

RunDir::RunDir() {
    fs::copy_file(VENDILOX_ECR, Program(), fs::copy_options::overwrite_existing);
}

void RunDir::WriteSettings(const Settings& s) const {
    const std::string path = s.pathToTxt ? *s.pathToTxt : Path().string() + "/";
    const std::string text =
        "[Settings]\r\nConnectionType=" + std::string(s.tcp ? "TCP" : "Serial") +
        "\r\nPort=" + s.serialPort + "\r\nPathToTxt=" + path +
        "\r\nTimeout=" + std::to_string(s.timeoutS) + "\r\nCRC_check=" + (s.crcCheck ? "1" : "0") +
        "\r\nDebug=" + (s.debug ? "1" : "0") +
        "\r\n[TCP]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(s.tcpPort) + "\r\n";
    WriteFile(SettingsFile(), text);
}

std::unique_ptr<Process> RunDir::Start(const std::vector<std::string>& params,
                                       const std::vector<std::string>& wrapper) const {
    std::vector<std::string> argv = wrapper;
    argv.push_back(Program().string());
    argv.insert(argv.end(), params.begin(), params.end());
    return std::make_unique<Process>(
        argv, std::vector<std::string>{"QT_QPA_PLATFORM=offscreen", "VENDILOX_UNATTENDED=1"},
        Path());
}

std::vector<std::string> Lines(const Process& p, std::string_view kind) {
    std::vector<std::string> lines;
    const std::string prefix = std::string(kind) + ": ";
    for (const Line& line : p.Err()) {
        if (line.text.rfind(prefix, 0) == 0)
            lines.push_back(line.text.substr(prefix.size()));
    }
    return lines;
}

std::string LastStatus(const Process& p) {
    const auto lines = Lines(p, "status");
    return lines.empty() ? std::string() : lines.back();
}

std::string SanitizerReport(const Process& p) {
    std::string report;
    for (const Line& line : p.Err()) {
        if (line.text.find("Sanitizer") != std::string::npos ||
            line.text.find("runtime error:") != std::string::npos)
            report += line.text + "\n";
    }
    return report;
}

NetworkNamespace::NetworkNamespace() {
    original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (original_ < 0)
        return;
    if (::unshare(CLONE_NEWNET) != 0)
        return;
    if (LoopbackUp())
        mine_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    Leave();
}

NetworkNamespace::~NetworkNamespace() {
    for (int fd : {original_, mine_}) {
        if (fd >= 0)
            ::close(fd);
    }
}

void NetworkNamespace::Enter() const {
    if (mine_ < 0 || ::setns(mine_, CLONE_NEWNET) != 0)
        Fail("entering the run's network namespace");
}

void NetworkNamespace::Leave() const {
    if (original_ < 0 || ::setns(original_, CLONE_NEWNET) != 0)
        Fail("leaving the run's network namespace");
}

ScriptedTcpTerminal::ScriptedTcpTerminal() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        Fail("listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
}

ScriptedTcpTerminal::~ScriptedTcpTerminal() {
    Close();
    ::close(listener_);
}

bool ScriptedTcpTerminal::Accept(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, std::max<int>(0, static_cast<int>(left.count()))) <= 0)
        return false;
    peer_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return peer_ >= 0;
}

std::string ScriptedTcpTerminal::Read(Clock::time_point deadline, bool untilEtx, std::size_t n) {
    return peer_ < 0 ? std::string() : ReadFrom(peer_, deadline, untilEtx, n);
}

bool ScriptedTcpTerminal::Write(std::string_view bytes) {
    return peer_ >= 0 && WriteAll(peer_, bytes);
}

void ScriptedTcpTerminal::Close(bool reset) {
    if (peer_ < 0)
        return;
    if (reset) {
        linger off{1, 0};
        ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    }
    ::close(peer_);
    peer_ = -1;
}

ScriptedPtyTerminal::ScriptedPtyTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        Fail("pseudo-terminal");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0)
        Fail("ptsname");
    slave_ = name;
    // The line discipline must pass every byte unchanged in both directions.
    termios raw{};
    if (::tcgetattr(master_, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
    }
}

ScriptedPtyTerminal::~ScriptedPtyTerminal() {
    Close();
}

std::string ScriptedPtyTerminal::Read(Clock::time_point deadline, bool untilEtx, std::size_t n) {
    return master_ < 0 ? std::string() : ReadFrom(master_, deadline, untilEtx, n);
}

bool ScriptedPtyTerminal::Write(std::string_view bytes) {
    return master_ >= 0 && WriteAll(master_, bytes);
}

void ScriptedPtyTerminal::Close() {
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

std::optional<int> FindPid(const fs::path& exe) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const fs::path target = fs::read_symlink(entry.path() / "exe", ec);
        if (!ec && target == exe)
            return std::stoi(name);
    }
    return std::nullopt;
}

long ProcStatusKb(int pid, std::string_view key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    const std::string prefix = std::string(key) + ":";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    }
    return 0;
}

bool CloseHeldOpen(Process& p, Clock::time_point allowedFrom, std::chrono::seconds bound,
                   std::initializer_list<Process*> others) {
    std::vector<Process*> all{&p};
    all.insert(all.end(), others.begin(), others.end());
    auto pump = [&](Clock::time_point until) {
        std::vector<pollfd> fds;
        while (!p.Finished() && Clock::now() < until) {
            fds.clear();
            for (Process* q : all)
                q->AddPollFds(fds);
            const auto wait = std::chrono::duration_cast<milliseconds>(until - Clock::now());
            ::poll(fds.data(), fds.size(),
                   static_cast<int>(std::min<long long>(wait.count() + 1, 20)));
            for (Process* q : all)
                q->Handle(fds);
        }
    };
    pump(allowedFrom);
    const Clock::time_point end = Clock::now() + bound;
    while (!p.Finished() && Clock::now() < end) {
        p.Signal(SIGTERM);
        pump(std::min(end, Clock::now() + 500ms));
    }
    return p.Finished();
}

}  // namespace vendilox::reliability
