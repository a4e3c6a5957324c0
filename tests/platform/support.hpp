// Helpers of the platform tests: an application object that records what reaches it, and
// waiting on the real event loop for a condition.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "platform/application.hpp"

namespace vendilox::platform::test {

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

// Runs the event loop until condition holds; false when it still does not after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QTimer wake;  // wakes the loop for conditions that no Qt event announces
    wake.start(2);
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return condition();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop for ms, to see that something does not happen meanwhile.
inline void RunLoopFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    WaitUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
}

}  // namespace vendilox::platform::test
