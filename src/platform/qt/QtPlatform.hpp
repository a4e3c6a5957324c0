// The Qt backend of the platform: the application, the window with its components, the message
// boxes and the single-instance guard.
#pragma once

#include <memory>

#include "platform/platform.hpp"
#include "platform/qt/CloseOnSignal.hpp"
#include "platform/qt/QtApplication.hpp"
#include "platform/qt/QtClientSocket.hpp"
#include "platform/qt/QtSerialPort.hpp"
#include "platform/qt/SingleInstanceGuard.hpp"
#include "platform/unattended.hpp"

namespace vendilox::window {
class Form1;
}

namespace vendilox::platform::qt {

// Needs a QApplication for its whole life. Unattended mode is read from the environment once,
// here.
class QtPlatform : public IPlatform {
  public:
    QtPlatform();
    explicit QtPlatform(UnattendedOutput unattended);
    ~QtPlatform() override;
    QtPlatform(const QtPlatform&) = delete;
    QtPlatform& operator=(const QtPlatform&) = delete;

    ISingleInstanceGuard& InstanceGuard() override { return guard_; }
    IMessageBox& MessageBoxes() override { return app_.Boxes(); }
    IApplication& Application() override { return app_; }
    // The window as designed with its timers and links, all stopped and closed. There is one
    // window: a second call gives the same components.
    TForm1Components CreateForm1() override;

    // The window, once created.
    window::Form1* MainWindow() const { return form_.get(); }

  private:
    struct TComponents;

    UnattendedOutput unattended_;
    QtApplication app_;
    QtClock clock_;
    SingleInstanceGuard guard_;
    std::unique_ptr<window::Form1> form_;
    std::unique_ptr<TComponents> components_;
    std::unique_ptr<CloseOnSignal> closeOnSignal_;
};

}  // namespace vendilox::platform::qt
