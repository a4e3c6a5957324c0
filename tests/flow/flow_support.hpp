// What the flow tests share: a directory with the executable's settings file, and the frames a
// terminal sends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../control/temp_dir.hpp"
#include "protocol/frame.hpp"

namespace vendilox::flowtest {

// A fresh directory for one test, holding the (never executed) executable's path.
class TTempDir {
  public:
    TTempDir() : path_(test::MakeTempDir("vendilox_flow.")) {}
    ~TTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    // The directory with its trailing separator, as the settings give directories.
    std::string Dir() const { return path_.string() + "/"; }
    std::string ExePath() const { return Dir() + "vendilox_ecr"; }
    std::string IniPath() const { return Dir() + "vendilox_ecr.ini"; }
    std::string ResultPath() const { return Dir() + "vendilox.txt"; }

  private:
    std::filesystem::path path_;
};

// The settings of one test run. Host is always the loopback address: the fake socket connects
// nowhere, but no run may name the terminal's default address.
struct TIni {
    std::string ConnectionType = "Serial";
    std::string SerialPort = "COM3";
    int Timeout = 120;
    bool CrcCheck = false;
    bool Debug = false;
    std::optional<std::string> PathToTxt;    // unset: the executable's directory
    std::optional<std::string> JournalPath;  // unset: no journal

    std::string Text(const std::string& exeDir) const {
        std::string text =
            "[Settings]\r\nConnectionType=" + ConnectionType + "\r\nPort=" + SerialPort +
            "\r\nPathToTxt=" + PathToTxt.value_or(exeDir) +
            "\r\nTimeout=" + std::to_string(Timeout) + "\r\nCRC_check=" + (CrcCheck ? "1" : "0") +
            "\r\nDebug=" + (Debug ? "1" : "0") + "\r\n[TCP]\r\nHost=127.0.0.1\r\nPort=2050\r\n";
        if (JournalPath)
            text += "[Journal]\r\nPath=" + *JournalPath + "\r\n";
        return text;
    }
};

// A text of the program as the std::string that the fakes record.
inline std::string W(std::string_view text) {
    return std::string(text);
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The file's bytes, or nullopt when there is no file.
inline std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The header a terminal sends; the body length and checksum are those of the body unless the
// test wants a wrong checksum.
struct THeader {
    std::string Terminal = "87654321";
    std::string When = "180816143005";
    std::string Flags = "0001";
    std::optional<std::string> Crc;
};

inline THeader WithCrc(std::string crc) {
    THeader h;
    h.Crc = std::move(crc);
    return h;
}
inline THeader WithFlags(std::string flags) {
    THeader h;
    h.Flags = std::move(flags);
    return h;
}

inline std::string TerminalFrame(const std::vector<std::string>& fields, const THeader& h = {}) {
    std::string body;
    for (const auto& field : fields)
        body += FS + field;
    const std::string crc = h.Crc.value_or(CrcText(Crc16(body)));
    return STX + ("B001" + h.Terminal + h.When + h.Flags + LengthText(body.size()) + crc) + body +
           ETX;
}

// The terminal's sign that it is at work: a header without a body.
inline std::string ActivityConfirmation() {
    THeader h = WithFlags("0000");
    h.Crc = "0000";
    return TerminalFrame({}, h);
}

// The frame the program answers an accepted response with: the response's first 30 header
// characters, "00" and "A5A5".
inline std::string ExpectedConfirmation(const std::string& response) {
    return STX + response.substr(1, 30) + "00A5A5" + ETX;
}

}  // namespace vendilox::flowtest
