// The small facilities of the Win32 backend: the instance guard, the serial port's name and
// failures, the timers, the unattended output, the code page at the system's edge.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/instance_guard.hpp"
#include "platform/win32/serial_port.hpp"
#include "platform/win32/text.hpp"
#include "platform/win32/timer.hpp"
#include "platform/win32/unattended_writer.hpp"
#include "support.hpp"

namespace vendilox::platform::win32 {
namespace {

using test::RunLoopFor;
using test::WaitUntil;

TEST(Win32InstanceGuardTest, NameIsHeldUntilReleased) {
    Win32InstanceGuard first, second;
    const std::string name = "vendilox_test_" + std::to_string(::GetCurrentProcessId());
    ASSERT_EQ(first.Create(name), ISingleInstanceGuard::TState::Owned);
    EXPECT_EQ(second.Create(name), ISingleInstanceGuard::TState::AlreadyExists);
    first.Release();
    EXPECT_EQ(second.Create(name), ISingleInstanceGuard::TState::Owned);
    // A zero byte would cut the name short and guard another one.
    EXPECT_EQ(first.Create(std::string("vendilox\0x", 10)),
              ISingleInstanceGuard::TState::Unavailable);
}

TEST(Win32SerialPortTest, NamesBeyondCom9GetTheDevicePrefix) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"COM1", "COM1"},          {"COM9", "COM9"},
        {"COM10", "\\\\.\\COM10"}, {"com255", "\\\\.\\com255"},
        {"COM012", "COM012"},      {"\\\\.\\COM12", "\\\\.\\COM12"},
        {"COMX1", "COMX1"},        {"LPT12", "LPT12"},
    };
    for (const auto& [name, system] : rows)
        EXPECT_EQ(Win32SerialPort::SystemName(name), system) << name;
}

TEST(Win32SerialPortTest, PortThatCannotBeOpenedRaisesAndStaysClosed) {
    test::RecordingApplication app;
    Win32SerialPort port(app);
    for (const char* name : {"COM231", "", "NUL"}) {
        port.SetPortName(name);
        EXPECT_THROW(port.Open(), ELinkError) << name;
        EXPECT_FALSE(port.IsOpen()) << name;
    }
    EXPECT_THROW(port.Write("x", 1), ELinkError);
    port.Close();  // harmless when closed
}

TEST(Win32TimerTest, NeverTicksBeforeItsIntervalAndStopsWhenStopped) {
    test::RecordingApplication app;
    Win32Timer timer(app, 40);
    std::vector<ULONGLONG> ticks;
    LARGE_INTEGER frequency, start, now;
    ::QueryPerformanceFrequency(&frequency);
    timer.SetOnTimer([&] {
        ::QueryPerformanceCounter(&now);
        ticks.push_back(
            static_cast<ULONGLONG>((now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart));
        if (ticks.size() == 3)
            timer.Stop();
    });
    ::QueryPerformanceCounter(&start);
    timer.Start();
    ASSERT_TRUE(WaitUntil([&] { return ticks.size() == 3; }));
    RunLoopFor(120);
    ASSERT_EQ(ticks.size(), 3u);
    // Each countdown starts when the tick before it is handled, never before that tick fell
    // due, so the k-th tick comes k intervals after the start at the earliest.
    for (std::size_t i = 0; i < ticks.size(); ++i)
        EXPECT_GE(ticks[i], (i + 1) * 40000u) << "tick " << i;
}

TEST(Win32TimerTest, IntervalZeroRunsWithoutTicking) {
    test::RecordingApplication app;
    Win32Timer timer(app, 0);
    int ticks = 0;
    timer.SetOnTimer([&] { ++ticks; });
    timer.Start();
    RunLoopFor(100);
    EXPECT_TRUE(timer.Running());
    EXPECT_EQ(ticks, 0);
}

// The unattended lines reach standard error byte for byte: a line feed and no CR before it.
TEST(Win32UnattendedTest, WritesTheLineToStandardErrorWithoutACarriageReturn) {
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(::CreatePipe(&read, &write, nullptr, 0));
    HANDLE saved = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetStdHandle(STD_ERROR_HANDLE, write);
    WriteUnattendedLine("log", "\x02N\xE1kup\x03\\");
    ::SetStdHandle(STD_ERROR_HANDLE, saved);
    ::CloseHandle(write);
    char buffer[256];
    DWORD length = 0;
    ASSERT_TRUE(::ReadFile(read, buffer, sizeof buffer, &length, nullptr));
    ::CloseHandle(read);
    EXPECT_EQ(std::string(buffer, length), "log: \\x02N\xC3\xA1kup\\x03\\\\\n");
}

TEST(Win32TextTest, EveryWindows1250ByteSurvivesTheWayThroughUtf16) {
    std::string bytes;
    for (int b = 1; b < 256; ++b)
        bytes.push_back(static_cast<char>(b));
    const std::wstring wide = Wide(bytes);
    EXPECT_EQ(wide.size(), bytes.size());
    EXPECT_EQ(Narrow(wide), bytes);
    EXPECT_EQ(Wide("\x8A\xE8"), L"\u0160\u010D");  // Š č
    // A character the code page lacks is a question mark, never a look-alike.
    EXPECT_EQ(Narrow(L"\u00E5\u4E2D"), "??");
}

}  // namespace
}  // namespace vendilox::platform::win32
