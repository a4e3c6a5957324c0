// Everything the program takes from its platform, bundled for the window object and the entry.
#pragma once

#include <exception>

#include "platform/application.hpp"
#include "platform/links.hpp"
#include "platform/timer.hpp"
#include "platform/window.hpp"

namespace vendilox::platform {

// The components of the main window, owned by the platform for the life of the process.
struct TForm1Components {
    IApplication& Application;
    IMessageBox& Boxes;
    IClock& Clock;
    IStatusCaption& Panel2;
    ILogMemo& Memo1;
    IReportMemo& Memo3;
    IControlLayout& Layout;
    IWindowFrame& Frame;
    ITimer& Timer1;
    ITimer& Timer2;
    ITimer& Timer3;
    ISerialPort& CommPort1;
    IClientSocket& ClientSocket1;
};

// One platform backend (Qt now, Win32 later, fakes in tests).
class IPlatform {
  public:
    virtual ~IPlatform() = default;
    virtual ISingleInstanceGuard& InstanceGuard() = 0;
    virtual IMessageBox& MessageBoxes() = 0;
    virtual IApplication& Application() = 0;
    // Creates the main window with its components; it is shown when Application().Run() starts.
    virtual TForm1Components CreateForm1() = 0;
};

// The one place where events reach the program's handlers: an exception that escapes a handler
// is shown with the exception display, and the program goes on, as the message loop of a
// desktop application does.
template <class Handler>
void Dispatch(IApplication& app, Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& e) {
        app.ShowException(e.what());
    } catch (...) {
        app.ShowException("");
    }
}

}  // namespace vendilox::platform
