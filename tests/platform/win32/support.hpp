// Helpers of the Win32 backend's tests: an application object that records what reaches it, and
// waiting on the real message loop for a condition.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/application.hpp"

namespace vendilox::platform::win32::test {

class RecordingApplication : public IApplication {
  public:
    void SetTitle(std::string_view title) override { title_ = title; }
    std::string Title() const override { return title_; }
    void Run() override {}
    void Terminate() override { ++TerminateCalls; }
    bool Terminated() const override { return TerminateCalls > 0; }
    void SetExitCode(int code) override { exitCode_ = code; }
    int ExitCode() const override { return exitCode_; }
    void ShowException(std::string_view message) override { Exceptions.emplace_back(message); }

    int TerminateCalls = 0;
    std::vector<std::string> Exceptions;

  private:
    std::string title_;
    int exitCode_ = 0;
};

// Runs the message loop until condition holds; false when it still does not after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000) {
    const ULONGLONG until = ::GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (condition())
            return true;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= until)
            return false;
        // Wakes for the next message, or after a few milliseconds for conditions that no
        // message announces.
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// Runs the message loop for ms, to see that something does not happen meanwhile.
inline void RunLoopFor(DWORD ms) {
    const ULONGLONG until = ::GetTickCount64() + ms;
    WaitUntil([&] { return ::GetTickCount64() >= until; }, ms + 1000);
}

}  // namespace vendilox::platform::win32::test
