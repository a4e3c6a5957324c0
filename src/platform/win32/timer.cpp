#include "platform/win32/timer.hpp"

#include "platform/platform.hpp"

namespace vendilox::platform::win32 {

namespace {

constexpr UINT_PTR kTimerId = 1;

// Microseconds of a monotonic clock.
std::uint64_t Now() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER value;
        ::QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    LARGE_INTEGER count;
    ::QueryPerformanceCounter(&count);
    const auto ticks = static_cast<std::uint64_t>(count.QuadPart);
    const auto perSecond = static_cast<std::uint64_t>(frequency);
    return ticks / perSecond * 1000000u + ticks % perSecond * 1000000u / perSecond;
}

}  // namespace

Win32Timer::Win32Timer(IApplication& app, std::uint32_t interval)
    : app_(app), interval_(interval) {}

Win32Timer::~Win32Timer() {
    Disarm();
}

void Win32Timer::ArmSystemTimer(std::uint64_t ms) {
    // SetTimer takes at most USER_TIMER_MAXIMUM (about 24.8 days); a longer wait is taken in
    // parts, each tick before the due time arming the next.
    if (ms > USER_TIMER_MAXIMUM)
        ms = USER_TIMER_MAXIMUM;
    ::SetTimer(Handle(), kTimerId, static_cast<UINT>(ms), nullptr);
}

void Win32Timer::Arm() {
    if (interval_ == 0) {
        Disarm();
        return;
    }
    due_ = Now() + std::uint64_t{interval_} * 1000u;
    ArmSystemTimer(interval_);
}

void Win32Timer::Disarm() {
    ::KillTimer(Handle(), kTimerId);
    // A tick already queued is dropped by the running check when it arrives.
}

void Win32Timer::SetInterval(std::uint32_t ms) {
    if (ms == interval_)
        return;
    interval_ = ms;
    if (running_)
        Arm();  // a new interval restarts the countdown of a running timer
}

void Win32Timer::Start() {
    if (running_)
        return;
    running_ = true;
    Arm();
}

void Win32Timer::Stop() {
    running_ = false;
    Disarm();
}

LRESULT Win32Timer::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_TIMER || wParam != kTimerId)
        return ::DefWindowProcW(Handle(), message, wParam, lParam);
    if (!running_ || interval_ == 0) {
        Disarm();
        return 0;
    }
    const std::uint64_t now = Now();
    if (now < due_) {
        // Early: wait for the rest, rounded up to whole milliseconds.
        ArmSystemTimer((due_ - now + 999u) / 1000u);
        return 0;
    }
    // The next interval counts from this tick, so no tick ever comes sooner than an interval
    // after the one before, however late this one was handled.
    Arm();
    if (handler_)
        Dispatch(app_, handler_);
    return 0;
}

}  // namespace vendilox::platform::win32
