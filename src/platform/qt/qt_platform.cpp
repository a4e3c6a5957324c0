#include "platform/qt/qt_platform.hpp"

#include <QApplication>

#include "platform/qt/close_signal.hpp"
#include "platform/qt/qt_client_socket.hpp"
#include "platform/qt/qt_serial_port.hpp"
#include "platform/qt/qt_timer.hpp"
#include "platform/unattended.hpp"

namespace vendilox::platform::qt {

namespace {

TEcho EchoOfEnvironment() {
    if (!UnattendedMode())
        return {};
    return [](std::string_view kind, std::string_view text) { WriteUnattendedLine(kind, text); };
}

}  // namespace

// Members in the order they are built; they are taken down in reverse, the window last.
struct QtPlatform::TForm {
    TForm(IApplication& app, const TEcho& echo)
        : Window(app, echo),
          Timer1(app, 4000),
          Timer2(app, 120000),
          Timer3(app, 5000),
          CommPort1(app),
          ClientSocket1(app),
          Signals([this] { Window.SystemClose(); }) {}

    Form1 Window;
    QtTimer Timer1;
    QtTimer Timer2;
    QtTimer Timer3;
    QtSerialPort CommPort1;
    QtClientSocket ClientSocket1;
    CloseOnSignal Signals;
};

QtPlatform::QtPlatform() : QtPlatform(EchoOfEnvironment()) {}

QtPlatform::QtPlatform(TEcho echo) : echo_(std::move(echo)), boxes_(echo_), application_(boxes_) {
    // The run ends only when the program asks for it, not when its window disappears.
    QApplication::setQuitOnLastWindowClosed(false);
}

QtPlatform::~QtPlatform() = default;

Form1* QtPlatform::Form() const {
    return form_ ? &form_->Window : nullptr;
}

TForm1Components QtPlatform::CreateForm1() {
    if (!form_) {
        form_ = std::make_unique<TForm>(application_, echo_);
        boxes_.SetOwnerWindow(&form_->Window);
        application_.SetMainWindow(&form_->Window);
    }
    TForm& form = *form_;
    return TForm1Components{
        .Application = application_,
        .Boxes = boxes_,
        .Clock = clock_,
        .Panel2 = form.Window,
        .Memo1 = form.Window.Memo1(),
        .Memo3 = form.Window.Memo3(),
        .Layout = form.Window,
        .Frame = form.Window,
        .Timer1 = form.Timer1,
        .Timer2 = form.Timer2,
        .Timer3 = form.Timer3,
        .CommPort1 = form.CommPort1,
        .ClientSocket1 = form.ClientSocket1,
    };
}

}  // namespace vendilox::platform::qt
