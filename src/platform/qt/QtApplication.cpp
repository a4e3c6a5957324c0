#include "platform/qt/QtApplication.hpp"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QWidget>
#include <chrono>
#include <climits>
#include <ctime>
#include <thread>

#include "platform/platform.hpp"
#include "window/Form1.hpp"

namespace vendilox::platform::qt {

void QtMessageBox::Show(std::string_view caption, std::string_view text, TBoxIcon icon,
                        TBoxOwner owner) {
    if (unattended_.Enabled()) {
        unattended_.Box(caption, text);
        return;
    }
    QMessageBox::Icon shownIcon = QMessageBox::Information;
    switch (icon) {
        case TBoxIcon::Information:
            shownIcon = QMessageBox::Information;
            break;
        case TBoxIcon::Warning:
            shownIcon = QMessageBox::Warning;
            break;
        case TBoxIcon::Error:
            shownIcon = QMessageBox::Critical;
            break;
    }
    QWidget* parent = owner == TBoxOwner::Window ? app_.MainWindow() : nullptr;
    QMessageBox box(shownIcon, window::DisplayText(caption), window::DisplayText(text),
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    // The texts carry data from the terminal and the settings: never read them as markup.
    box.setTextFormat(Qt::PlainText);

    app_.BeginModal();
    struct TModalScope {
        QtApplication& app;
        ~TModalScope() { app.EndModal(); }
    } scope{app_};
    if (owner == TBoxOwner::None) {
        // Not modal: the box only waits for its own answer.
        box.setWindowModality(Qt::NonModal);
        QEventLoop loop;
        QObject::connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
        box.show();
        loop.exec();
    } else {
        box.setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
        box.exec();
    }
}

QtApplication::QtApplication(UnattendedOutput unattended) : boxes_(*this, unattended) {
    // Only Terminate ends the application; closing a box or the window does not.
    QApplication::setQuitOnLastWindowClosed(false);
}

QtApplication::~QtApplication() = default;

void QtApplication::Run() {
    // Showing the window raises its show event, which may already request the end; the loop then
    // does not start at all.
    if (mainWindow_ != nullptr)
        mainWindow_->show();
    if (!terminated_)
        QApplication::exec();
}

void QtApplication::Terminate() {
    if (terminated_)
        return;
    terminated_ = true;
    PostQuit();
}

void QtApplication::PostQuit() {
    // Queued, so that the requesting handler finishes first. exit() and not quit(): quit() would
    // first ask the windows to close, and the window's close query may refuse.
    QMetaObject::invokeMethod(
        &context_,
        [this] {
            if (modalDepth_ > 0) {
                quitDeferred_ = true;
                return;
            }
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
}

void QtApplication::EndModal() {
    if (--modalDepth_ == 0 && quitDeferred_) {
        quitDeferred_ = false;
        PostQuit();
    }
}

void QtApplication::ShowException(std::string_view message) {
    boxes_.Show(title_, ExceptionText(message), TBoxIcon::Error, TBoxOwner::Window);
}

TDateTime QtClock::LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return TDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                     local.tm_hour,        local.tm_min,     local.tm_sec};
}

void QtClock::BlockingWait(std::uint32_t ms) {
    // Nothing is dispatched meanwhile: the timers and links that come due are handled by the
    // loop afterwards, in their order.
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QtTimer::QtTimer(IApplication& app) : app_(app) {
    // A coarse timer may tick up to 5 % early; the program's time-outs must never come early.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        // A copy: the handler may set another one while it runs.
        if (auto handler = handler_)
            Dispatch(app_, handler);
    });
}

void QtTimer::SetInterval(std::uint32_t ms) {
    if (ms == interval_)
        return;
    interval_ = ms;
    if (running_)
        Arm();
}

void QtTimer::Start() {
    if (running_)
        return;
    running_ = true;
    Arm();
}

void QtTimer::Stop() {
    running_ = false;
    timer_.stop();
}

void QtTimer::Arm() {
    if (interval_ == 0) {
        timer_.stop();
        return;
    }
    const auto ms =
        interval_ > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(interval_);
    // start() restarts the countdown, as a new interval of a running timer does.
    timer_.start(ms);
}

}  // namespace vendilox::platform::qt
