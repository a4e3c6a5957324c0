#include "control/Settings.hpp"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <ostream>
#include <string>

#include "control/IniFile.hpp"
#include "ini_read_cases.hpp"
#include "temp_dir.hpp"

namespace vendilox {

bool operator==(const TSettings& a, const TSettings& b) {
    return a.LinkType == b.LinkType && a.SerialPortName == b.SerialPortName &&
           a.TcpAddress == b.TcpAddress && a.TcpPort == b.TcpPort && a.TimeoutMs == b.TimeoutMs &&
           a.CrcCheck == b.CrcCheck && a.DebugMode == b.DebugMode && a.OutputPath == b.OutputPath &&
           a.JournalPath == b.JournalPath && a.JournalDays == b.JournalDays;
}

void PrintTo(const TSettings& s, std::ostream* os) {
    *os << "{LinkType " << s.LinkType << ", port '" << s.SerialPortName << "', host '"
        << s.TcpAddress << "', tcp port " << s.TcpPort << ", " << s.TimeoutMs << " ms, crc "
        << s.CrcCheck << ", debug " << s.DebugMode << ", output '" << s.OutputPath << "', journal '"
        << s.JournalPath << "' " << s.JournalDays << " days}";
}

namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

// The values a run takes when the file gives none of its own.
TSettings Defaults(const std::string& exeDirectory) {
    TSettings s;
    s.LinkType = 0;
    s.SerialPortName = "COM1";
    s.TcpAddress = std::string(kDefaultTcpHost);
    s.TcpPort = 2050;
    s.TimeoutMs = 120000;
    s.CrcCheck = false;
    s.DebugMode = false;
    s.OutputPath = exeDirectory + "vendilox.txt";
    return s;
}

TEST(LoadSettings, FirstRunWritesTheDefaultFileAndUsesTheDefaults) {
    TTempDir dir;
    const std::string exeDirectory = dir.Path().string() + "/";
    TSettings settings = LoadSettings(exeDirectory + "vendilox_ecr");

    EXPECT_EQ(settings, Defaults(exeDirectory));
    EXPECT_EQ(ReadBytes(dir.File("vendilox_ecr.ini")),
              "[Settings]\r\n"
              "ConnectionType=Serial\r\n"
              "Port=COM1\r\n"
              "PathToTxt=" +
                  exeDirectory +
                  "\r\n"
                  "Timeout=120\r\n"
                  "CRC_check=0\r\n"
                  "Debug=0\r\n"
                  "[TCP]\r\n"
                  "Host=192.168.1.100\r\n"
                  "Port=2050\r\n");
    // The next run reads the file it wrote and gets the same values.
    EXPECT_EQ(LoadSettings(exeDirectory + "vendilox_ecr"), settings);
}

struct TExistingCase {
    const char* Name;
    std::string Content;
    void (*Adjust)(TSettings&);  // the expected values, from the defaults
};

class LoadSettingsExistingTest : public ::testing::TestWithParam<TExistingCase> {};

TEST_P(LoadSettingsExistingTest, ReadsValuesAndLeavesTheFileAlone) {
    const TExistingCase& c = GetParam();
    TTempDir dir;
    const std::string exeDirectory = dir.Path().string() + "/";
    WriteBytes(dir.File("pos.ini"), c.Content);

    TSettings expected = Defaults(exeDirectory);
    c.Adjust(expected);
    EXPECT_EQ(LoadSettings(exeDirectory + "pos.exe"), expected);
    EXPECT_EQ(ReadBytes(dir.File("pos.ini")), c.Content);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadSettingsExistingTest,
    ::testing::Values(
        TExistingCase{"EmptyFileGivesAllDefaults", "", [](TSettings&) {}},
        TExistingCase{"TcpExactly", "[Settings]\r\nConnectionType=TCP\r\n",
                      [](TSettings& s) { s.LinkType = 1; }},
        TExistingCase{"TcpLowerCaseIsSerial", "[Settings]\r\nConnectionType=tcp\r\n",
                      [](TSettings&) {}},
        TExistingCase{"TcpWithQuotedBlankIsSerial", "[Settings]\r\nConnectionType=\" TCP\"\r\n",
                      [](TSettings&) {}},
        TExistingCase{"TcpHostAndPort", "[TCP]\r\nHost=127.0.0.1\r\nPort=9100\r\n",
                      [](TSettings& s) {
                          s.TcpAddress = "127.0.0.1";
                          s.TcpPort = 9100;
                      }},
        TExistingCase{"EmptyHostIsEmpty", "[TCP]\r\nHost=\r\n",
                      [](TSettings& s) { s.TcpAddress = ""; }},
        TExistingCase{"TcpPortNotANumber", "[TCP]\r\nPort=abc\r\n", [](TSettings&) {}},
        TExistingCase{"SerialPortIsNotTcpPort", "[Settings]\r\nPort=9999\r\n",
                      [](TSettings& s) { s.SerialPortName = "9999"; }},
        TExistingCase{"TimeoutHex", "[Settings]\r\nTimeout=0x3C\r\n",
                      [](TSettings& s) { s.TimeoutMs = 60000; }},
        TExistingCase{"TimeoutZero", "[Settings]\r\nTimeout=0\r\n",
                      [](TSettings& s) { s.TimeoutMs = 0; }},
        TExistingCase{"TimeoutNotANumber", "[Settings]\r\nTimeout=abc\r\n", [](TSettings&) {}},
        TExistingCase{"TimeoutNegative", "[Settings]\r\nTimeout=-5\r\n", [](TSettings&) {}},
        TExistingCase{"TimeoutLargestThatFits", "[Settings]\r\nTimeout=2147483\r\n",
                      [](TSettings& s) { s.TimeoutMs = 2147483000; }},
        TExistingCase{"TimeoutMillisecondsOverflow", "[Settings]\r\nTimeout=2147484\r\n",
                      [](TSettings&) {}},
        TExistingCase{"DebugSeven", "[Settings]\r\nDebug=7\r\n",
                      [](TSettings& s) { s.DebugMode = true; }},
        TExistingCase{"DebugTrueIsNotANumber", "[Settings]\r\nDebug=true\r\n", [](TSettings&) {}},
        TExistingCase{"CrcCheckOn", "[Settings]\r\nCRC_check=1\r\n",
                      [](TSettings& s) { s.CrcCheck = true; }},
        TExistingCase{"PathWithSeparator", "[Settings]\r\nPathToTxt=D:\\Data\\\r\n",
                      [](TSettings& s) { s.OutputPath = "D:\\Data\\vendilox.txt"; }},
        TExistingCase{"PathWithoutSeparator", "[Settings]\r\nPathToTxt=D:\\Data\r\n",
                      [](TSettings& s) { s.OutputPath = "D:\\Datavendilox.txt"; }},
        // Saved by Notepad as UTF-8 or as "Unicode": the first section is read like any other.
        TExistingCase{"Utf8WithMark",
                      "\xEF\xBB\xBF[Settings]\r\nConnectionType=TCP\r\nPort=COM3\r\n",
                      [](TSettings& s) {
                          s.LinkType = 1;
                          s.SerialPortName = "COM3";
                      }},
        TExistingCase{"Utf16WithMark",
                      test::Utf16LeFile(u"[Settings]\r\nConnectionType=TCP\r\n[TCP]\r\n"
                                        u"Host=127.0.0.1\r\n"),
                      [](TSettings& s) {
                          s.LinkType = 1;
                          s.TcpAddress = "127.0.0.1";
                      }},
        TExistingCase{"JournalPathAndDays", "[Journal]\r\nPath=D:\\Journal\\\r\nDays=7\r\n",
                      [](TSettings& s) {
                          s.JournalPath = "D:\\Journal\\";
                          s.JournalDays = 7;
                      }},
        TExistingCase{"JournalDaysZeroKeepsAll", "[Journal]\r\nPath=j/\r\nDays=0\r\n",
                      [](TSettings& s) {
                          s.JournalPath = "j/";
                          s.JournalDays = 0;
                      }},
        TExistingCase{"JournalDaysNegativeOrNotANumber", "[Journal]\r\nPath=j/\r\nDays=-1\r\n",
                      [](TSettings& s) { s.JournalPath = "j/"; }},
        TExistingCase{"JournalDaysWithoutPathIsNoJournal", "[Journal]\r\nDays=5\r\n",
                      [](TSettings& s) { s.JournalDays = 5; }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(LoadSettings, UnwritableDefaultFileRaisesErrorNamingIt) {
    TTempDir dir;
    const std::string exe = dir.File("missing/vendilox_ecr.exe");
    try {
        LoadSettings(exe);
        FAIL() << "no error";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unable to write to " + dir.File("missing/vendilox_ecr.ini"));
    }

    // A directory in the place of the file is no settings file, and cannot become one.
    std::filesystem::create_directory(dir.File("pos.ini"));
    EXPECT_THROW(LoadSettings(dir.File("pos.exe")), EIniFileError);
}

TEST(LoadSettings, PathThatIsNoPlainSettingsFileEndsTheRunAtOnce) {
    TTempDir dir;
    const std::string ini = dir.File("vendilox_ecr.ini");
    auto refused = [&] {
        try {
            LoadSettings(dir.File("vendilox_ecr.exe"));
        } catch (const EIniFileError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini);
            return true;
        }
        return false;
    };

    // The largest file still read is far larger than any settings file.
    WriteBytes(ini, "[Settings]\r\nTimeout=7\r\n" + std::string(TIniFile::kMaxFileBytes - 23, ';'));
    ASSERT_EQ(std::filesystem::file_size(ini), TIniFile::kMaxFileBytes);
    EXPECT_EQ(LoadSettings(dir.File("vendilox_ecr.exe")).TimeoutMs, 7000);
    WriteBytes(ini, std::string(TIniFile::kMaxFileBytes + 1, ';'));
    EXPECT_TRUE(refused()) << "a file over the limit";
    EXPECT_EQ(std::filesystem::file_size(ini), TIniFile::kMaxFileBytes + 1) << "left as it was";

#ifndef _WIN32
    // A FIFO would block the first read for good, a device would give bytes without end.
    std::filesystem::remove(ini);
    ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    EXPECT_TRUE(refused()) << "a FIFO";
    std::filesystem::remove(ini);
    std::filesystem::create_symlink("/dev/zero", ini);
    EXPECT_TRUE(refused()) << "a link to a device";
#endif
}

struct TPathCase {
    const char* Name;
    const char* Path;
    const char* WithIni;
    const char* Directory;
};

class PathHelpersTest : public ::testing::TestWithParam<TPathCase> {};

TEST_P(PathHelpersTest, SplitAtEitherSeparator) {
    const TPathCase& c = GetParam();
    EXPECT_EQ(ChangeFileExt(c.Path, ".ini"), c.WithIni);
    EXPECT_EQ(ExtractFilePath(c.Path), c.Directory);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PathHelpersTest,
    ::testing::Values(
        TPathCase{"Windows", "C:\\POS\\vendilox_ecr.exe", "C:\\POS\\vendilox_ecr.ini", "C:\\POS\\"},
        TPathCase{"Posix", "/opt/pos/vendilox_ecr", "/opt/pos/vendilox_ecr.ini", "/opt/pos/"},
        TPathCase{"DotInPosixDirectory", "/opt/pos.d/prog", "/opt/pos.d/prog.ini", "/opt/pos.d/"},
        TPathCase{"DotInWindowsDirectory", "C:\\a.b\\prog", "C:\\a.b\\prog.ini", "C:\\a.b\\"},
        TPathCase{"MixedSeparators", "x\\y/z.exe", "x\\y/z.ini", "x\\y/"},
        TPathCase{"LastDotOnly", "archive.tar.gz", "archive.tar.ini", ""},
        TPathCase{"NameThatIsAllExtension", "/x/.hidden", "/x/.ini", "/x/"},
        TPathCase{"TrailingDot", "prog.", "prog.ini", ""},
        TPathCase{"DirectoryOnly", "dir/", "dir/.ini", "dir/"}, TPathCase{"Empty", "", ".ini", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace vendilox
