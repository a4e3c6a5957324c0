// The Win32 backend of the platform: the application, the message boxes, the instance guard,
// and the main window Form1 with its timers and links.
#pragma once

#include <memory>

#include "platform/platform.hpp"
#include "platform/win32/application.hpp"
#include "platform/win32/application_window.hpp"
#include "platform/win32/form1.hpp"
#include "platform/win32/instance_guard.hpp"

namespace vendilox::platform::win32 {

class Win32Platform final : public IPlatform {
  public:
    // Unattended mode when VENDILOX_UNATTENDED is "1".
    Win32Platform();
    // echo receives every box, status caption and log line instead of the user; empty: a user
    // is there.
    explicit Win32Platform(TEcho echo);
    ~Win32Platform() override;

    ISingleInstanceGuard& InstanceGuard() override { return guard_; }
    IMessageBox& MessageBoxes() override { return boxes_; }
    IApplication& Application() override { return application_; }
    // The window as designed: caption "Terminal", Timer1 4000 ms, Timer2 120000 ms, Timer3
    // 5000 ms, all stopped, serial port "COM1". Further calls return the same window.
    TForm1Components CreateForm1() override;

    // The window once CreateForm1 has made it, else nullptr.
    Form1* Form() const;
    HWND ApplicationHandle() const { return appWindow_.Handle(); }

  private:
    struct TForm;

    TEcho echo_;
    Win32InstanceGuard guard_;
    Win32MessageBox boxes_;
    Win32Application application_;
    Win32Clock clock_;
    ApplicationWindow appWindow_;
    std::unique_ptr<TForm> form_;
};

}  // namespace vendilox::platform::win32
