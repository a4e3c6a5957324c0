// The lines of unattended mode, which tools outside the program parse.
#include "platform/unattended.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "protocol/cp1250.hpp"

namespace vendilox::platform {
namespace {

struct LineCase {
    const char* name;
    std::string kind;
    std::string text;      // Windows-1250
    std::string expected;  // UTF-8
};

class UnattendedLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(UnattendedLineTest, FormatsOneLine) {
    const LineCase& c = GetParam();
    EXPECT_EQ(UnattendedLine(c.kind, c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, UnattendedLineTest,
    testing::Values(
        LineCase{"Plain", "log", "Activity confirmation", "log: Activity confirmation"},
        LineCase{"CzechConverted", "status", std::string("blue Terminál není připojen!"_w1250),
                 "status: blue Terminál není připojen!"},
        LineCase{"BoxCaptionAndText", "box", std::string("Chyba: Nelze otevřít port"_w1250),
                 "box: Chyba: Nelze otevřít port"},
        LineCase{"FrameBytesEscaped", "log",
                 "\x02"
                 "12\x1C"
                 "A\x03",
                 "log: \\x0212\\x1CA\\x03"},
        LineCase{"ZeroByteInside", "log", std::string("a\0b", 3), "log: a\\x00b"},
        LineCase{"LineBreaksStayOnOneLine", "box", "x\r\ny", "box: x\\x0D\\x0Ay"},
        LineCase{"DeleteEscaped", "log", "\x7F", "log: \\x7F"},
        LineCase{"BackslashDoubled", "box", "C:\\pos\\", "box: C:\\\\pos\\\\"},
        LineCase{"HighBytesNotEscaped", "log", "\x80\x9A\xA0", "log: \u20AC\u0161\u00A0"},
        LineCase{"EmptyText", "status", "", "status: "}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(UnattendedModeTest, OnlyTheValueOneSwitchesItOn) {
    struct Case {
        const char* value;  // nullptr: unset
        bool expected;
    };
    for (const Case& c : {Case{"1", true}, Case{"0", false}, Case{"", false}, Case{"yes", false},
                          Case{"1 ", false}, Case{nullptr, false}}) {
        if (c.value == nullptr) {
            ::unsetenv(kUnattendedVariable);
        } else {
            ::setenv(kUnattendedVariable, c.value, 1);
        }
        EXPECT_EQ(UnattendedMode(), c.expected) << (c.value ? c.value : "(unset)");
    }
    ::unsetenv(kUnattendedVariable);
}

TEST(UnattendedWriteTest, WritesTheWholeLineToStandardError) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    WriteUnattendedLine("log",
                        "\x02"
                        "Konec transakce");
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    ::close(pipeFds[1]);
    std::string written;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        written.append(buffer, n);
    ::close(pipeFds[0]);
    EXPECT_EQ(written, "log: \\x02Konec transakce\n");
}

TEST(UnattendedWriteTest, ReaderThatWentAwayDoesNotEndTheProgram) {
    // The default action of SIGPIPE ends the process, as in a program started without care.
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    ::close(pipeFds[1]);
    WriteUnattendedLine("status", "blue Transakce provedena");
    WriteUnattendedLine("log", "Konec transakce");
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);

    sigset_t pending;
    sigemptyset(&pending);
    ASSERT_EQ(::sigpending(&pending), 0);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE)) << "a SIGPIPE is left waiting";
    sigset_t mask;
    ASSERT_EQ(::pthread_sigmask(SIG_SETMASK, nullptr, &mask), 0);
    EXPECT_FALSE(sigismember(&mask, SIGPIPE)) << "SIGPIPE stays held back";
    std::signal(SIGPIPE, previous);
}

}  // namespace
}  // namespace vendilox::platform
