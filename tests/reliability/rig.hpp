// What the reliability cases share: runs of the real program in directories of their own, each
// run optionally in a network namespace of its own, a terminal played by the test itself over a
// loopback socket or a pseudo-terminal, and the exact result file a run must leave.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../e2e/harness.hpp"

namespace vendilox::reliability {

using namespace e2e;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr char STX = '\x02', ETX = '\x03', FS = '\x1C';

Report ApprovedPurchase();
Report DeclinedPurchase(std::string code, std::string status);
Report ApprovedRefund();

// A final response as a terminal sends it: header with the body's length and checksum (a wrong
// one when corruptCrc), the body's fields, ETX.
std::string ResponseFrame(std::string_view datetime, std::string_view code,
                          std::string_view typeCode, std::string_view amount,
                          bool corruptCrc = false);
// A header-only frame: the terminal is at work.
std::string ActivityConfirmation(std::string_view datetime);
// The program's confirmation of a response: STX, the header's first 30 bytes, "00A5A5", ETX.
std::string ConfirmationOf(std::string_view response);

// The settings file the program finds beside itself. The host is always the loopback.
struct Settings {
    bool tcp = true;
    std::string serialPort = "COM1";
    int tcpPort = 2050;
    int timeoutS = 120;
    bool crcCheck = false;
    bool debug = false;
    std::optional<std::string> pathToTxt{};  // default: the run's directory
};

// One run's directory with its own copy of the program: it takes its settings file from beside
// its own real path.
class RunDir {
  public:
    RunDir();
    const fs::path& Path() const { return dir_.Path(); }
    fs::path Program() const { return Path() / "vendilox_ecr"; }
    fs::path SettingsFile() const { return Path() / "vendilox_ecr.ini"; }
    fs::path ResultFile() const { return Path() / "vendilox.txt"; }
    void WriteSettings(const Settings& s) const;
    // The program, unattended on the offscreen platform; wrapper (valgrind, say) goes first.
    std::unique_ptr<Process> Start(const std::vector<std::string>& params,
                                   const std::vector<std::string>& wrapper = {}) const;
    void Keep() { dir_.Keep(); }

  private:
    TempDir dir_;
};

// The program's unattended lines of one kind ("status", "box", "log"), without the kind.
std::vector<std::string> Lines(const Process& p, std::string_view kind);
// The last status caption, colour first ("blue Transakce provedena"); empty when none.
std::string LastStatus(const Process& p);
// Lines of a sanitizer's report, which exit code 1 would hide.
std::string SanitizerReport(const Process& p);

// A network namespace of its own with the loopback up. While Enter()ed, processes this thread
// starts are born in it; Leave() returns the thread to where it was.
class NetworkNamespace {
  public:
    NetworkNamespace();
    ~NetworkNamespace();
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;
    bool Valid() const { return mine_ >= 0; }
    void Enter() const;
    void Leave() const;

  private:
    int original_ = -1, mine_ = -1;
};

// A TCP listener on 127.0.0.1 that plays the terminal from the test's own thread.
class ScriptedTcpTerminal {
  public:
    ScriptedTcpTerminal();
    ~ScriptedTcpTerminal();
    int Port() const { return port_; }
    // Takes the program's connection; false when none came before the deadline.
    bool Accept(Clock::time_point deadline);
    // Reads until n bytes or an ETX (untilEtx) arrived, or the deadline passed.
    std::string Read(Clock::time_point deadline, bool untilEtx, std::size_t n = 0);
    bool Write(std::string_view bytes);
    // An orderly close, or a reset (SO_LINGER 0) that the program sees as a failure.
    void Close(bool reset = false);

  private:
    int listener_ = -1, peer_ = -1, port_ = 0;
};

// The master side of a pseudo-terminal; the program opens SlavePath() as its serial port.
class ScriptedPtyTerminal {
  public:
    ScriptedPtyTerminal();
    ~ScriptedPtyTerminal();
    const std::string& SlavePath() const { return slave_; }
    std::string Read(Clock::time_point deadline, bool untilEtx, std::size_t n = 0);
    bool Write(std::string_view bytes);
    void Close();

  private:
    int master_ = -1;
    std::string slave_;
};

// The process id of the program started from exe, found by its executable's path.
std::optional<int> FindPid(const fs::path& exe);
// A value in kB of /proc/<pid>/status ("VmRSS", "VmHWM"), or 0.
long ProcStatusKb(int pid, std::string_view key);

// Ends a run whose window is held open: from the moment its close timer allows it, a close
// request every half second until the program ends; false if it did not end within bound.
bool CloseHeldOpen(Process& p, Clock::time_point allowedFrom, std::chrono::seconds bound,
                   std::initializer_list<Process*> others = {});

}  // namespace vendilox::reliability
