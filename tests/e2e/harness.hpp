// A small harness for running the real program and the terminal simulator as child processes:
// their output lines are collected with the moment each one arrived, and every wait is for an
// event (a line, an exit) with an upper bound, never a fixed sleep.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vendilox::e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Line {
    std::string text;
    Clock::time_point at;
};

// One child process with its standard output and standard error on pipes. The child dies with
// the test process, so a test killed by its time limit leaves no program window behind.
class Process {
  public:
    // argv[0] is the executable's path; env entries ("NAME=value") are added to the test's own
    // environment; the child starts in cwd.
    Process(std::vector<std::string> argv, const std::vector<std::string>& env,
            const std::filesystem::path& cwd);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return pid_ > 0; }
    // True once the process has exited and both pipes are drained.
    bool Finished() const { return status_.has_value() && out_ < 0 && err_ < 0; }
    // The exit code, or -(signal number) for a process a signal ended; empty while it runs.
    std::optional<int> ExitCode() const;
    Clock::time_point FinishedAt() const { return finishedAt_; }
    void Signal(int signal) const;
    // Stops reading standard error, as a caller that went away does: the child's further writes
    // to it find a pipe without a reader.
    void CloseErr();
    bool NeedsExitPolling() const { return pidfd_ < 0 && !status_.has_value(); }

    const std::vector<Line>& Out() const { return outLines_; }
    const std::vector<Line>& Err() const { return errLines_; }
    // Everything the process wrote to standard error, for failure messages.
    std::string ErrText() const;

    // Reads what is available on the descriptors that poll reported; used by Pump.
    void AddPollFds(std::vector<pollfd>& fds) const;
    void Handle(const std::vector<pollfd>& fds);

  private:
    void ReadPipe(int& fd, std::string& pending, std::vector<Line>& lines);
    void Reap();

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1, pidfd_ = -1;
    std::string outPending_, errPending_;
    std::vector<Line> outLines_, errLines_;
    std::optional<int> status_;
    Clock::time_point finishedAt_{};
};

// Collects the output of the processes (a null one is left out) until done() holds or the
// deadline passes; returns whether done() held.
bool Pump(std::initializer_list<Process*> processes, Clock::time_point deadline,
          const std::function<bool()>& done);

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    // Keeps the directory for inspection after a failed test.
    void Keep() { keep_ = true; }

  private:
    std::filesystem::path path_;
    bool keep_ = false;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// The simulator's values: %XX stands for the byte XX.
std::string DecodeValue(std::string_view value);
// A line of blank-separated key=value pairs, values decoded.
std::map<std::string, std::string> ParseFields(std::string_view line);
// The program's unattended output: \xHH stands for the byte HH and \\ for a backslash; the rest
// is taken as it is (UTF-8).
std::string Unescape(std::string_view text);

// A TCP port on 127.0.0.1 that nothing listens on: the system picks a free one, and it is given
// back unused.
int UnusedLoopbackPort();

// A TCP port on 127.0.0.1 where a connection attempt never completes: its listener's accept
// queue is kept full and nothing is ever accepted, so the system drops every further SYN, as a
// terminal address that drops packets does.
class UnansweredLoopbackPort {
  public:
    UnansweredLoopbackPort();
    ~UnansweredLoopbackPort();
    UnansweredLoopbackPort(const UnansweredLoopbackPort&) = delete;
    UnansweredLoopbackPort& operator=(const UnansweredLoopbackPort&) = delete;
    int Port() const { return port_; }

  private:
    int listener_ = -1;
    std::vector<int> fillers_;
    int port_ = 0;
};

// Brings the loopback interface up; a new network namespace starts with it down.
bool LoopbackUp();

// The terminal's fixed response content, as the simulator and the scripted terminals send it.
inline constexpr std::string_view kTerminalId = "87654321", kBatch = "0000123",
                                  kCard = "411111******1111", kCardAuth = "12345678";

// The result record as the report shows it; the date and time come from the response header.
struct Report {
    std::string code, status, typeCode, typeName, cardTypeCode, cardNumber, cardName, auth,
        amountDigits, amountText;
};

// The twelve lines the caller reads, Windows-1250, CR LF after each; datetime is the response
// header's "yymmddhhnnss". The flag digit of the terminal's headers is odd.
std::string ExpectedReport(const Report& r, std::string_view datetime);

}  // namespace vendilox::e2e
