#include "control/IniFile.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>

#include "ini_read_cases.hpp"
#include "temp_dir.hpp"

namespace vendilox {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

// --- Integer and boolean reading -------------------------------------------------------------

struct TNumberCase {
    const char* Name;
    std::string Stored;                 // the value text in the file
    std::optional<std::int32_t> Value;  // nullopt: not an integer, the default is returned
};

class IniNumberTest : public ::testing::TestWithParam<TNumberCase> {};

TEST_P(IniNumberTest, ReadsIntegerAndBoolOrFallsBackToDefault) {
    const TNumberCase& c = GetParam();
    TTempDir dir;
    WriteBytes(dir.File("a.ini"), "[S]\r\nK=" + c.Stored + "\r\n");
    TIniFile ini(dir.File("a.ini"));

    EXPECT_EQ(ini.ReadInteger("S", "K", 99), c.Value.value_or(99));
    EXPECT_EQ(ini.ReadBool("S", "K", false), c.Value ? *c.Value != 0 : false);
    EXPECT_EQ(ini.ReadBool("S", "K", true), c.Value ? *c.Value != 0 : true);
}

INSTANTIATE_TEST_SUITE_P(
    Values, IniNumberTest,
    ::testing::Values(
        TNumberCase{"Decimal", "7", 7}, TNumberCase{"Zero", "0", 0}, TNumberCase{"One", "1", 1},
        TNumberCase{"MinusOne", "-1", -1}, TNumberCase{"PlusSign", "+4", 4},
        TNumberCase{"HexZeroX", "0x3C", 60}, TNumberCase{"HexDollar", "$ff", 255},
        TNumberCase{"HexX", "X10", 16}, TNumberCase{"HexAllBits", "0xFFFFFFFF", -1},
        TNumberCase{"HexTooWide", "0x100000000", std::nullopt},
        TNumberCase{"Max", "2147483647", std::numeric_limits<std::int32_t>::max()},
        TNumberCase{"BeyondMax", "2147483648", std::nullopt},
        TNumberCase{"Min", "-2147483648", std::numeric_limits<std::int32_t>::min()},
        TNumberCase{"Letters", "abc", std::nullopt}, TNumberCase{"Empty", "", std::nullopt},
        TNumberCase{"True", "true", std::nullopt}, TNumberCase{"Fraction", "1.5", std::nullopt},
        TNumberCase{"BlankBefore", " 7", 7}, TNumberCase{"BlankAfter", "7 ", 7},
        TNumberCase{"QuotedBlankBefore", "\" 7\"", 7},
        TNumberCase{"QuotedBlankAfter", "\"7 \"", std::nullopt}),
    [](const auto& info) { return std::string(info.param.Name); });

// --- Text reading ----------------------------------------------------------------------------

class IniReadStringTest : public ::testing::TestWithParam<test::TIniReadCase> {};

TEST_P(IniReadStringTest, FindsTheValue) {
    const test::TIniReadCase& c = GetParam();
    TTempDir dir;
    WriteBytes(dir.File("a.ini"), c.Content);
    EXPECT_EQ(TIniFile(dir.File("a.ini")).ReadString(c.Section, c.Key, test::kIniDefault),
              c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, IniReadStringTest, ::testing::ValuesIn(test::IniReadCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(IniReadString, MissingFileGivesDefault) {
    TTempDir dir;
    EXPECT_EQ(TIniFile(dir.File("none.ini")).ReadString("S", "K", "d"), "d");
    EXPECT_EQ(TIniFile(dir.File("none.ini")).ReadInteger("S", "K", 5), 5);
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.ini")));
}

// --- Writing ---------------------------------------------------------------------------------

TEST(IniWrite, FirstWriteCreatesTheFileAndLeavesNothingElse) {
    TTempDir dir;
    TIniFile ini(dir.File("a.ini"));
    ini.WriteString("Settings", "A", "x");
    ini.WriteInteger("Settings", "B", -12);
    ini.WriteBool("Other", "C", true);
    ini.WriteBool("Other", "D", false);

    EXPECT_EQ(ReadBytes(dir.File("a.ini")),
              "[Settings]\r\nA=x\r\nB=-12\r\n[Other]\r\nC=1\r\nD=0\r\n");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        ++files;
    }
    EXPECT_EQ(files, 1) << "a temporary file was left behind";
}

struct TWriteCase {
    const char* Name;
    std::string Before;
    const char* Section;
    const char* Key;
    const char* Value;
    std::string After;
};

class IniWriteTest : public ::testing::TestWithParam<TWriteCase> {};

TEST_P(IniWriteTest, ChangesOnlyWhatItWrites) {
    const TWriteCase& c = GetParam();
    TTempDir dir;
    WriteBytes(dir.File("a.ini"), c.Before);
    TIniFile ini(dir.File("a.ini"));
    ini.WriteString(c.Section, c.Key, c.Value);
    EXPECT_EQ(ReadBytes(dir.File("a.ini")), c.After);
    EXPECT_EQ(ini.ReadString(c.Section, c.Key, "<def>"), c.Value);
}

// The mixed file keeps LF lines, odd blanks, comments and a blank line between sections.
const std::string kMixed = "; settings of the till\n[A]\nx = 1\n; kept\n\n[B]  \r\n  y=2\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWriteTest,
    ::testing::Values(
        TWriteCase{"NewKeyAfterLastEntryOfItsSection", kMixed, "a", "z", "3",
                   "; settings of the till\n[A]\nx = 1\nz=3\r\n; kept\n\n[B]  \r\n  y=2\r\n"},
        TWriteCase{"UpdateInPlaceKeepsKeySpelling", kMixed, "A", "X", "9",
                   "; settings of the till\n[A]\nx=9\n; kept\n\n[B]  \r\n  y=2\r\n"},
        TWriteCase{"NewKeyInLastSection", kMixed, "B", "w", "",
                   "; settings of the till\n[A]\nx = 1\n; kept\n\n[B]  \r\n  y=2\r\nw=\r\n"},
        TWriteCase{"NewSectionAtTheEnd", kMixed, "C", "k", "v", kMixed + "[C]\r\nk=v\r\n"},
        TWriteCase{"SectionWithoutEntries", "[A]\r\n; note\r\n[B]\r\n", "A", "k", "v",
                   "[A]\r\nk=v\r\n; note\r\n[B]\r\n"},
        TWriteCase{"LastLineWithoutLineEnd", "[A]\r\nk=1", "A", "m", "2", "[A]\r\nk=1\r\nm=2\r\n"},
        TWriteCase{"NewSectionAfterUnendedLine", "[A]\r\nk=1", "B", "m", "2",
                   "[A]\r\nk=1\r\n[B]\r\nm=2\r\n"},
        TWriteCase{"UpdateOfUnendedLastLine", "[A]\r\nk=1", "A", "k", "22", "[A]\r\nk=22"},
        TWriteCase{"Windows1250Value", "", "S", "N", "\xC8\xE1stka", "[S]\r\nN=\xC8\xE1stka\r\n"},
        TWriteCase{"CrOnlyFileKeepsItsLineEnds", "[S]\rK=1\r", "S", "L", "2", "[S]\rK=1\rL=2\r\n"},
        TWriteCase{"NewSectionAfterCrOnlyFile", "[S]\rK=1\r", "T", "L", "2",
                   "[S]\rK=1\r[T]\r\nL=2\r\n"},
        TWriteCase{"NewKeyBelowOpenSectionLine", "[A]\r\nk=1\r\n[B\r\nm=2\r\n", "A", "n", "3",
                   "[A]\r\nk=1\r\n[B\r\nm=2\r\nn=3\r\n"},
        TWriteCase{"Utf8FileStaysUtf8", "\xEF\xBB\xBF[S]\r\nK=\xC4\x8D\r\n", "S", "N", "\xE8",
                   "\xEF\xBB\xBF[S]\r\nK=\xC4\x8D\r\nN=\xC4\x8D\r\n"},
        TWriteCase{"Utf16FileStaysUtf16", test::Utf16LeFile(u"[S]\r\nK=\u010D\r\n"), "S", "K",
                   "\xE1", test::Utf16LeFile(u"[S]\r\nK=\u00E1\r\n")}),
    [](const auto& info) { return std::string(info.param.Name); });

// Windows has no permission bits of this kind.
#ifndef _WIN32
TEST(IniWrite, KeepsThePermissionsOfTheFile) {
    TTempDir dir;
    WriteBytes(dir.File("a.ini"), "[S]\r\nK=1\r\n");
    ASSERT_EQ(::chmod(dir.File("a.ini").c_str(), 0640), 0);
    TIniFile(dir.File("a.ini")).WriteString("S", "K", "2");
    struct stat info {};
    ASSERT_EQ(::stat(dir.File("a.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}
#endif

// The name reaches the system as the same text: in UTF-8 on Linux, in UTF-16 on Windows.
TEST(IniWrite, Windows1250PathIsTheSystemsNameOfTheSameText) {
    TTempDir dir;
    TIniFile ini(dir.File("nastaven\xED.ini"));
    ini.WriteString("S", "K", "v");
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / std::filesystem::path(u8"nastavení.ini")));
    EXPECT_EQ(ini.ReadString("S", "K", ""), "v");
}

TEST(IniWrite, FailureRaisesErrorNamingTheFile) {
    TTempDir dir;
    // Permission bits do not stop root, so the failures come from the paths themselves.
    const std::string inMissingDir = dir.File("missing/a.ini");
    try {
        TIniFile(inMissingDir).WriteString("S", "K", "v");
        FAIL() << "no error";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + inMissingDir);
    }

    std::filesystem::create_directory(dir.File("adir.ini"));
    EXPECT_THROW(TIniFile(dir.File("adir.ini")).WriteString("S", "K", "v"), EIniFileError);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("adir.ini")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("adir.ini")));
}

}  // namespace
}  // namespace vendilox
