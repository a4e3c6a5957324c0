// The Qt backend of the platform: the application, the message boxes, the instance guard, and
// the main window Form1 with its timers and links.
#pragma once

#include <memory>

#include "platform/platform.hpp"
#include "platform/qt/instance_guard.hpp"
#include "platform/qt/qt_application.hpp"
#include "platform/qt/qt_form1.hpp"

namespace vendilox::platform::qt {

class QtPlatform final : public IPlatform {
  public:
    // Needs a QApplication. Unattended mode when VENDILOX_UNATTENDED is "1".
    QtPlatform();
    // echo receives every box, status caption and log line instead of the user; empty: a user
    // is there.
    explicit QtPlatform(TEcho echo);
    ~QtPlatform() override;

    ISingleInstanceGuard& InstanceGuard() override { return guard_; }
    IMessageBox& MessageBoxes() override { return boxes_; }
    IApplication& Application() override { return application_; }
    // The window as designed: caption "Terminal", Timer1 4000 ms, Timer2 120000 ms, Timer3
    // 5000 ms, all stopped, serial port "COM1". Further calls return the same window.
    TForm1Components CreateForm1() override;

    // The window once CreateForm1 has made it, else nullptr.
    Form1* Form() const;

  private:
    struct TForm;

    TEcho echo_;
    SingleInstanceGuard guard_;
    QtMessageBox boxes_;
    QtApplication application_;
    QtClock clock_;
    std::unique_ptr<TForm> form_;
};

}  // namespace vendilox::platform::qt
