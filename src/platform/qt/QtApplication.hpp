// The application object, the message boxes, the clock and the timers on Qt.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/application.hpp"
#include "platform/timer.hpp"
#include "platform/unattended.hpp"

class QWidget;

namespace vendilox::platform::qt {

class QtApplication;

// A box with one OK button. In unattended mode the box is written to the unattended output and
// counts as answered at once.
class QtMessageBox : public IMessageBox {
  public:
    QtMessageBox(QtApplication& app, UnattendedOutput unattended)
        : app_(app), unattended_(unattended) {}
    void Show(std::string_view caption, std::string_view text, TBoxIcon icon,
              TBoxOwner owner) override;

  private:
    QtApplication& app_;
    UnattendedOutput unattended_;
};

// The application on the running QApplication. The end of the application is requested with
// Terminate and takes effect when control returns to the main loop; while a message box is open
// the end waits until it is closed, so that a request from a timer or a signal never takes a
// message away from the user.
class QtApplication : public IApplication {
  public:
    explicit QtApplication(UnattendedOutput unattended);
    ~QtApplication() override;
    QtApplication(const QtApplication&) = delete;
    QtApplication& operator=(const QtApplication&) = delete;

    // The window that Run shows and that owns the boxes shown for the window.
    void SetMainWindow(QWidget* window) { mainWindow_ = window; }
    QWidget* MainWindow() const { return mainWindow_; }
    QtMessageBox& Boxes() { return boxes_; }

    void SetTitle(std::string_view title) override { title_ = title; }
    std::string Title() const override { return title_; }
    void Run() override;
    void Terminate() override;
    bool Terminated() const override { return terminated_; }
    void SetExitCode(int code) override { exitCode_ = code; }
    int ExitCode() const override { return exitCode_; }
    void ShowException(std::string_view message) override;

    // Around the modal loop of a message box.
    void BeginModal() { ++modalDepth_; }
    void EndModal();

  private:
    void PostQuit();

    std::string title_;
    bool terminated_ = false;
    int exitCode_ = 0;
    QWidget* mainWindow_ = nullptr;
    QtMessageBox boxes_;
    int modalDepth_ = 0;
    bool quitDeferred_ = false;
    // The receiver of the queued end request: destroyed with the application, it takes a request
    // that was never handled with it.
    QObject context_;
};

// The local clock; its blocking wait really blocks the main thread.
class QtClock : public IClock {
  public:
    TDateTime LocalNow() override;
    void BlockingWait(std::uint32_t ms) override;
};

// A window timer on QTimer. The interval 0 keeps the timer running without ticks (QTimer would
// tick at every turn of the loop), and intervals beyond what QTimer can hold (24.8 days) are cut
// to that.
class QtTimer : public ITimer {
  public:
    explicit QtTimer(IApplication& app);
    QtTimer(const QtTimer&) = delete;
    QtTimer& operator=(const QtTimer&) = delete;

    void SetInterval(std::uint32_t ms) override;
    std::uint32_t Interval() const override { return interval_; }
    void Start() override;
    void Stop() override;
    bool Running() const override { return running_; }
    void SetOnTimer(std::function<void()> handler) override { handler_ = std::move(handler); }

    // Milliseconds to the next tick, or -1 when no tick is coming.
    int RemainingMs() const { return timer_.isActive() ? timer_.remainingTime() : -1; }

  private:
    void Arm();

    IApplication& app_;
    QTimer timer_;
    std::uint32_t interval_ = 0;
    bool running_ = false;
    std::function<void()> handler_;
};

}  // namespace vendilox::platform::qt
