// Unattended mode: when VENDILOX_UNATTENDED is "1", nothing waits for a user. Every message box,
// every status caption and every log line is written to standard error as one UTF-8 line instead,
// so that a tool driving the program sees what a user would have seen:
//   box: <caption>: <text>
//   status: <blue|red> <caption text>
//   log: <line>
// Tools outside this repository parse these lines, so their form must not change.
#pragma once

#include <string>
#include <string_view>

namespace vendilox::platform {

// The environment variable that switches unattended mode on (value exactly "1").
inline constexpr const char* kUnattendedVariable = "VENDILOX_UNATTENDED";

// True when the process runs in unattended mode.
bool UnattendedMode();

// One output line without its line end: kind, ": ", then the Windows-1250 text in UTF-8, with the
// bytes 0x00 to 0x1F and 0x7F written as \xHH (upper-case digits) and a backslash as \\, so that
// every report stays on one line and can be read back unambiguously.
std::string UnattendedLine(std::string_view kind, std::string_view cp1250Text);

// Writes UnattendedLine(kind, text) and a line feed to file descriptor 2 in one unbuffered write,
// so that the caller has the line even when the process is killed right after. A write that fails
// is dropped and never ends the program, also when the reader of a pipe has gone (no SIGPIPE).
void WriteUnattendedLine(std::string_view kind, std::string_view cp1250Text);

}  // namespace vendilox::platform
