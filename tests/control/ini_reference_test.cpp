// The settings file's reading table against the system's own profile functions: each row that
// TIniFile passes (ini_file_test) must give the same text through GetPrivateProfileStringA, so
// that a difference between the two shows here first. Windows only.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ini_read_cases.hpp"
#include "temp_dir.hpp"

namespace vendilox {
namespace {

using test::TTempDir;
using test::WriteBytes;

// The class library reads with a buffer of 2048 characters, which gives the 2047 at most that
// the table expects.
constexpr DWORD kBufferSize = 2048;

class IniReferenceTest : public ::testing::TestWithParam<test::TIniReadCase> {};

TEST_P(IniReferenceTest, SystemGivesTheSameText) {
    // The rows of Unicode files are converted to Windows-1250 by the system only when that is
    // its ANSI code page; under Wine, LC_ALL=cs_CZ.UTF-8 makes it so.
    ASSERT_EQ(::GetACP(), 1250u) << "the system's ANSI code page must be Windows-1250";
    const test::TIniReadCase& c = GetParam();
    TTempDir dir;
    const std::string path = dir.File("a.ini");
    WriteBytes(path, c.Content);

    char buffer[kBufferSize];
    const DWORD length = ::GetPrivateProfileStringA(c.Section, c.Key, test::kIniDefault, buffer,
                                                    kBufferSize, path.c_str());
    EXPECT_EQ(std::string(buffer, length), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, IniReferenceTest, ::testing::ValuesIn(test::IniReadCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace vendilox
