// The application object, the message boxes and the clock of the Win32 backend.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "platform/application.hpp"

namespace vendilox::platform::win32 {

// Receives what would be shown to a user when nobody is there (unattended mode): the kind
// ("box", "status", "log") and the Windows-1250 text. Empty: a user is there.
using TEcho = std::function<void(std::string_view kind, std::string_view cp1250Text)>;

// Message boxes with one OK button, through MessageBoxW. With an echo no box is shown: the box
// is reported as "box: <caption>: <text>" and counts as answered at once.
class Win32MessageBox final : public IMessageBox {
  public:
    explicit Win32MessageBox(TEcho echo = {}) : echo_(std::move(echo)) {}
    // The window that boxes owned by the program's window are modal to; it is asked at each box,
    // since the window is rebuilt when it gets its close button.
    void SetOwnerWindow(std::function<HWND()> owner) { owner_ = std::move(owner); }
    void Show(std::string_view caption, std::string_view text, TBoxIcon icon,
              TBoxOwner owner) override;

    // The MessageBoxW flags of a box.
    static UINT Flags(TBoxIcon icon, TBoxOwner owner);

  private:
    TEcho echo_;
    std::function<HWND()> owner_;
};

// The application object. Run shows the main window and runs the message loop; Terminate ends
// the loop once control returns to it, also when asked before the loop has started. The loop
// is ended by a flag, not by WM_QUIT: a message box open at that moment would take WM_QUIT as
// its own end and vanish unanswered.
class Win32Application final : public IApplication {
  public:
    explicit Win32Application(IMessageBox& boxes);
    // Raises the main window's first show event; called by Run.
    void SetMainWindow(std::function<void()> show) { showMain_ = std::move(show); }

    void SetTitle(std::string_view title) override;
    std::string Title() const override { return title_; }
    void Run() override;
    void Terminate() override;
    bool Terminated() const override { return terminated_; }
    void SetExitCode(int code) override { exitCode_ = code; }
    int ExitCode() const override { return exitCode_; }
    void ShowException(std::string_view message) override;

    // Told when the title changes, for the window that carries it on the taskbar.
    void SetOnTitle(std::function<void(std::string_view)> handler) {
        onTitle_ = std::move(handler);
    }

  private:
    IMessageBox& boxes_;
    std::function<void()> showMain_;
    std::function<void(std::string_view)> onTitle_;
    std::string title_;
    DWORD thread_;
    bool terminated_ = false;
    int exitCode_ = 0;
};

class Win32Clock final : public IClock {
  public:
    TDateTime LocalNow() override;
    // Sleep, deliberately not a message loop: nothing of the program may run during the wait;
    // what falls due meanwhile is handled by the loop afterwards, in order.
    void BlockingWait(std::uint32_t ms) override;
};

}  // namespace vendilox::platform::win32
