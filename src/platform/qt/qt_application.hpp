// The application object, the message boxes and the clock of the Qt backend.
#pragma once

#include <QPointer>
#include <QWidget>

#include <string>
#include <string_view>

#include "platform/application.hpp"
#include "platform/qt/qt_form1.hpp"

class QEventLoop;

namespace vendilox::platform::qt {

// Message boxes with one OK button. With an echo (unattended mode) no box is shown: the box is
// reported as "box: <caption>: <text>" and counts as answered at once.
class QtMessageBox final : public IMessageBox {
  public:
    explicit QtMessageBox(TEcho echo = {}) : echo_(std::move(echo)) {}
    // The window that boxes owned by the program's window are modal to.
    void SetOwnerWindow(QWidget* owner) { owner_ = owner; }
    void Show(std::string_view caption, std::string_view text, TBoxIcon icon,
              TBoxOwner owner) override;

  private:
    TEcho echo_;
    QPointer<QWidget> owner_;
};

// The application object. Run shows the main window and runs the message loop; Terminate ends
// the loop once control returns to it, also when asked before the loop has started.
class QtApplication final : public IApplication {
  public:
    explicit QtApplication(IMessageBox& boxes) : boxes_(boxes) {}
    void SetMainWindow(QWidget* window) { mainWindow_ = window; }

    void SetTitle(std::string_view title) override { title_ = title; }
    std::string Title() const override { return title_; }
    void Run() override;
    void Terminate() override;
    bool Terminated() const override { return terminated_; }
    void SetExitCode(int code) override { exitCode_ = code; }
    int ExitCode() const override { return exitCode_; }
    void ShowException(std::string_view message) override;

  private:
    IMessageBox& boxes_;
    QPointer<QWidget> mainWindow_;
    std::string title_;
    QEventLoop* loop_ = nullptr;
    bool terminated_ = false;
    int exitCode_ = 0;
};

class QtClock final : public IClock {
  public:
    TDateTime LocalNow() override;
    void BlockingWait(std::uint32_t ms) override;
};

}  // namespace vendilox::platform::qt
