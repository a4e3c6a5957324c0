// A window timer on SetTimer and WM_TIMER.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/application.hpp"
#include "platform/timer.hpp"
#include "platform/win32/message_window.hpp"

namespace vendilox::platform::win32 {

// The system's timer may come a few milliseconds before its interval is over (it is rounded to
// the system's clock tick); the program's timers never tick early, so a tick that comes too soon
// waits for the rest of the interval instead. Starting a running timer does not restart its
// countdown, and a running timer with interval 0 never ticks.
class Win32Timer final : public ITimer, private MessageWindow {
  public:
    explicit Win32Timer(IApplication& app, std::uint32_t interval = 1000);
    ~Win32Timer() override;

    void SetInterval(std::uint32_t ms) override;
    std::uint32_t Interval() const override { return interval_; }
    void Start() override;
    void Stop() override;
    bool Running() const override { return running_; }
    void SetOnTimer(std::function<void()> handler) override { handler_ = std::move(handler); }

  private:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Arm();
    void Disarm();
    void ArmSystemTimer(std::uint64_t ms);

    IApplication& app_;
    std::function<void()> handler_;
    std::uint32_t interval_;
    bool running_ = false;
    std::uint64_t due_ = 0;  // in the microseconds of Now()
};

}  // namespace vendilox::platform::win32
