#include "platform/win32/platform.hpp"

#include "platform/unattended.hpp"
#include "platform/win32/client_socket.hpp"
#include "platform/win32/serial_port.hpp"
#include "platform/win32/timer.hpp"
#include "platform/win32/unattended_writer.hpp"

namespace vendilox::platform::win32 {

namespace {

TEcho EchoOfEnvironment() {
    if (!UnattendedMode())
        return {};
    return [](std::string_view kind, std::string_view text) { WriteUnattendedLine(kind, text); };
}

}  // namespace

// Members in the order they are built; they are taken down in reverse, the window last.
struct Win32Platform::TForm {
    TForm(IApplication& app, const TEcho& echo, HWND owner)
        : Window(app, echo, owner),
          Timer1(app, 4000),
          Timer2(app, 120000),
          Timer3(app, 5000),
          CommPort1(app),
          ClientSocket1(app) {}

    Form1 Window;
    Win32Timer Timer1;
    Win32Timer Timer2;
    Win32Timer Timer3;
    Win32SerialPort CommPort1;
    Win32ClientSocket ClientSocket1;
};

Win32Platform::Win32Platform() : Win32Platform(EchoOfEnvironment()) {}

Win32Platform::Win32Platform(TEcho echo)
    : echo_(std::move(echo)), boxes_(echo_), application_(boxes_) {
    application_.SetOnTitle([this](std::string_view title) { appWindow_.SetTitle(title); });
    boxes_.SetOwnerWindow([this]() -> HWND { return form_ ? form_->Window.Handle() : nullptr; });
    appWindow_.SetOnClose([this] {
        if (form_)
            form_->Window.SystemClose();
    });
}

Win32Platform::~Win32Platform() = default;

Form1* Win32Platform::Form() const {
    return form_ ? &form_->Window : nullptr;
}

TForm1Components Win32Platform::CreateForm1() {
    if (!form_) {
        form_ = std::make_unique<TForm>(application_, echo_, appWindow_.Handle());
        application_.SetMainWindow([this] {
            appWindow_.Show();
            form_->Window.Show();
        });
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

}  // namespace vendilox::platform::win32
