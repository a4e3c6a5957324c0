#include "platform/qt/QtPlatform.hpp"

#include "window/Form1.hpp"

namespace vendilox::platform::qt {

struct QtPlatform::TComponents {
    explicit TComponents(IApplication& app)
        : Timer1(app), Timer2(app), Timer3(app), CommPort1(app), ClientSocket1(app) {}
    QtTimer Timer1;
    QtTimer Timer2;
    QtTimer Timer3;
    QtSerialPort CommPort1;
    QtClientSocket ClientSocket1;
};

QtPlatform::QtPlatform() : QtPlatform(UnattendedOutput(UnattendedModeRequested())) {}

QtPlatform::QtPlatform(UnattendedOutput unattended) : unattended_(unattended), app_(unattended) {}

QtPlatform::~QtPlatform() {
    // The links and timers go before the window they sit on, and nothing may call into the
    // window once it is gone.
    closeOnSignal_.reset();
    components_.reset();
    app_.SetMainWindow(nullptr);
    form_.reset();
}

TForm1Components QtPlatform::CreateForm1() {
    if (!form_) {
        form_ = std::make_unique<window::Form1>(app_, unattended_);
        app_.SetMainWindow(form_.get());
        components_ = std::make_unique<TComponents>(app_);
        // The design values; the program sets its own where it needs others.
        components_->Timer1.SetInterval(4000);
        components_->Timer2.SetInterval(120000);
        components_->Timer3.SetInterval(5000);
        components_->CommPort1.SetPortName("COM1");
        window::Form1* form = form_.get();
        closeOnSignal_ =
            std::make_unique<CloseOnSignal>([form] { form->RequestCloseFromSystem(); });
    }
    return TForm1Components{app_,
                            app_.Boxes(),
                            clock_,
                            form_->Panel2(),
                            form_->Memo1(),
                            form_->Memo3(),
                            *form_,
                            *form_,
                            components_->Timer1,
                            components_->Timer2,
                            components_->Timer3,
                            components_->CommPort1,
                            components_->ClientSocket1};
}

}  // namespace vendilox::platform::qt
