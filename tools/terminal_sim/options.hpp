// The simulator's command line.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "frames.hpp"

namespace vendilox::sim {

enum class LinkMode { Tcp, Pty, Serial };

enum class Scenario {
    Approve,
    Decline,
    CrcErrorOnce,
    Silent,
    ConfirmOnly,
    Slow,
    Chunked,
    Garbage,
    Disconnect,
    Together,
    Code,
    Reset,
};

struct Options {
    LinkMode link = LinkMode::Tcp;
    std::string listen_address = "127.0.0.1";
    std::uint16_t listen_port = 2050;
    std::string serial_path;

    Scenario scenario = Scenario::Approve;
    std::string scenario_text = "approve";  // as given, for the output lines
    std::string decline_code = "061";       // three digits
    std::string response_code;              // the code scenario's R field, sent as given
    std::string garbage;                    // the bytes the garbage scenario sends

    long count = 0;          // transactions before the simulator ends; 0: until stopped
    long confirmations = 1;  // activity confirmations before the response; -1: without end
    long confirm_interval_ms = 200;
    long response_delay_ms = 300;
    long reply_timeout_ms = 5000;
    long request_timeout_ms = 10000;
    long chunk_size = 4;
    bool chunk_size_given = false;  // crc-error-once then sends its responses in pieces too
    long chunk_delay_ms = 50;

    TerminalData terminal;
    std::string replay_file;  // a journal file: replay one of its runs instead of a scenario
    std::string replay_run;   // empty: the file's last run
    bool verbose = false;
    bool help = false;
};

// A command line the simulator cannot run with; the message says what is wrong with it.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads the command line; raises UsageError for anything it cannot use.
Options ParseOptions(int argc, char** argv);

// The text of --help.
const char* HelpText();

}  // namespace vendilox::sim
