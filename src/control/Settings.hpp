// The settings file beside the executable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vendilox {

// The default TCP address of the terminal: a private-network address that only a real
// installation reaches. Tests and tools always set Host=127.0.0.1.
inline constexpr std::string_view kDefaultTcpHost = "192.168.1.100";
inline constexpr std::int32_t kDefaultTcpPort = 2050;
inline constexpr std::int32_t kDefaultTimeoutSeconds = 120;
inline constexpr std::int32_t kDefaultJournalDays = 90;

// The values the window holds after the settings were loaded.
struct TSettings {
    std::int32_t LinkType = 0;  // 0 serial, 1 TCP
    std::string SerialPortName = "COM1";
    std::string TcpAddress;
    std::int32_t TcpPort = 0;
    std::int32_t TimeoutMs = 120000;
    bool CrcCheck = false;
    bool DebugMode = false;
    std::string OutputPath;
    // The transaction journal's directory, with its trailing separator; empty: no journal.
    std::string JournalPath;
    // Days of journal files kept; 0 keeps all.
    std::int32_t JournalDays = kDefaultJournalDays;
};

// The text after the last "." of the file name replaced by ext (which brings its own "."); a
// file name without "." gets ext appended. Both "/" and "\" separate directories.
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// The directory part of path with its trailing separator; empty when there is none.
std::string ExtractFilePath(std::string_view path);

// Reads the settings file that belongs to the executable at exePath (Windows-1250), or writes
// the default file when it does not exist. Raises EIniFileError when the default file cannot be
// written, and at once when the path holds something other than a regular file or a file larger
// than TIniFile::kMaxFileBytes; reading never raises.
TSettings LoadSettings(std::string_view exePath);

}  // namespace vendilox
