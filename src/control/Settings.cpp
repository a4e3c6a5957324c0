#include "control/Settings.hpp"

#include <limits>

#include "control/IniFile.hpp"
#include "platform/files.hpp"

namespace vendilox {

namespace {

constexpr std::string_view kSettings = "Settings";
constexpr std::string_view kTcp = "TCP";
constexpr std::string_view kJournal = "Journal";
constexpr std::string_view kDefaultConnectionType = "Serial";
constexpr std::string_view kDefaultSerialPort = "COM1";
constexpr std::string_view kOutputFileName = "vendilox.txt";

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// The position after the last directory separator, 0 when there is none.
std::size_t FileNameStart(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (IsSeparator(path[i - 1]))
            return i;
    }
    return 0;
}

// Whether a settings file is there to be read. Something at the path that is no plain file
// (a FIFO would block the reading for good, a device could give bytes without end), or a file
// far larger than any settings file, is refused at once, as a settings file that cannot be
// written is: the run must not start on settings it cannot read.
bool SettingsFileExists(const std::string& path) {
    const platform::files::TPathInfo info = platform::files::Inspect(path);
    switch (info.Kind) {
        case platform::files::TPathKind::Missing:
            return false;
        case platform::files::TPathKind::RegularFile:
            if (info.Size <= TIniFile::kMaxFileBytes)
                return true;
            break;
        case platform::files::TPathKind::Directory:
        case platform::files::TPathKind::Other:
            break;
    }
    throw EIniFileError("Unable to write to " + path);
}

// The no-response time-out in milliseconds. A negative value, or one whose milliseconds leave
// the 32-bit range, would give a timer interval that means nothing; it takes the default.
std::int32_t TimeoutMsFromSeconds(std::int32_t seconds) {
    if (seconds < 0 || seconds > std::numeric_limits<std::int32_t>::max() / 1000) {
        seconds = kDefaultTimeoutSeconds;
    }
    return seconds * 1000;
}

}  // namespace

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
    std::size_t dot = path.rfind('.');
    std::string result(path);
    if (dot != std::string_view::npos && dot >= FileNameStart(path))
        result.resize(dot);
    result.append(ext);
    return result;
}

std::string ExtractFilePath(std::string_view path) {
    return std::string(path.substr(0, FileNameStart(path)));
}

TSettings LoadSettings(std::string_view exePath) {
    TIniFile ini(ChangeFileExt(exePath, ".ini"));
    const std::string exeDirectory = ExtractFilePath(exePath);
    TSettings settings;

    if (!SettingsFileExists(ini.FileName())) {
        // The order of the writes gives the file its order of sections and keys.
        ini.WriteString(kSettings, "ConnectionType", kDefaultConnectionType);
        ini.WriteString(kSettings, "Port", kDefaultSerialPort);
        ini.WriteString(kTcp, "Host", kDefaultTcpHost);
        ini.WriteInteger(kTcp, "Port", kDefaultTcpPort);
        ini.WriteString(kSettings, "PathToTxt", exeDirectory);
        ini.WriteInteger(kSettings, "Timeout", kDefaultTimeoutSeconds);
        ini.WriteBool(kSettings, "CRC_check", false);
        ini.WriteBool(kSettings, "Debug", false);

        settings.LinkType = 0;
        settings.SerialPortName = kDefaultSerialPort;
        settings.TcpAddress = kDefaultTcpHost;
        settings.TcpPort = kDefaultTcpPort;
        settings.TimeoutMs = TimeoutMsFromSeconds(kDefaultTimeoutSeconds);
        settings.CrcCheck = false;
        settings.DebugMode = false;
        settings.OutputPath = exeDirectory + std::string(kOutputFileName);
        return settings;
    }

    // Only exactly "TCP" selects the TCP link; any other spelling keeps the serial link.
    settings.LinkType =
        ini.ReadString(kSettings, "ConnectionType", kDefaultConnectionType) == "TCP";
    settings.SerialPortName = ini.ReadString(kSettings, "Port", kDefaultSerialPort);
    settings.TcpAddress = ini.ReadString(kTcp, "Host", kDefaultTcpHost);
    settings.TcpPort = ini.ReadInteger(kTcp, "Port", kDefaultTcpPort);
    settings.TimeoutMs =
        TimeoutMsFromSeconds(ini.ReadInteger(kSettings, "Timeout", kDefaultTimeoutSeconds));
    settings.CrcCheck = ini.ReadBool(kSettings, "CRC_check", false);
    settings.DebugMode = ini.ReadBool(kSettings, "Debug", false);
    // The directory is taken as written: it must bring its own trailing separator.
    settings.OutputPath =
        ini.ReadString(kSettings, "PathToTxt", exeDirectory) + std::string(kOutputFileName);
    // The journal is off until a directory is given. Its keys are never written: the default
    // file keeps the content and order that installations know.
    settings.JournalPath = ini.ReadString(kJournal, "Path", "");
    settings.JournalDays = ini.ReadInteger(kJournal, "Days", kDefaultJournalDays);
    if (settings.JournalDays < 0)
        settings.JournalDays = kDefaultJournalDays;
    return settings;
}

}  // namespace vendilox
