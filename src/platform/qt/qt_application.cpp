#include "platform/qt/qt_application.hpp"

#include <QDateTime>
#include <QEventLoop>
#include <QMessageBox>
#include <QShowEvent>
#include <QThread>
#include <QWindow>

#include "platform/qt/qt_placement.hpp"

namespace vendilox::platform::qt {

namespace {

// A box centred on its owner while the owner is on the screen, else on the screen. The toolkit
// would centre it on an owner that has no place yet (the box of a failed start-up comes before
// the window is first mapped) and so put it at the screen's top-left corner.
class CentredBox final : public QMessageBox {
  public:
    using QMessageBox::QMessageBox;

  protected:
    void showEvent(QShowEvent* event) override {
        // The box takes its size here; the toolkit places it afterwards.
        QMessageBox::showEvent(event);
        QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
        QWindow* ownerWindow = owner != nullptr ? owner->windowHandle() : nullptr;
        if (ownerWindow != nullptr && owner->isVisible() && ownerWindow->isExposed()) {
            CentreOn(*this, owner->geometry().marginsAdded(WindowFrame(*owner)));
        } else {
            CentreOn(*this, DesktopArea(owner != nullptr ? *owner : *this));
        }
    }
};

}  // namespace

void QtMessageBox::Show(std::string_view caption, std::string_view text, TBoxIcon icon,
                        TBoxOwner owner) {
    if (echo_) {
        std::string line(caption);
        line += ": ";
        line += text;
        echo_("box", line);
        return;
    }
    QMessageBox::Icon boxIcon = QMessageBox::Information;
    if (icon == TBoxIcon::Warning)
        boxIcon = QMessageBox::Warning;
    if (icon == TBoxIcon::Error)
        boxIcon = QMessageBox::Critical;
    QWidget* parent = owner == TBoxOwner::Window ? owner_.data() : nullptr;
    CentredBox box(boxIcon, DisplayText(caption, false), DisplayText(text, false), QMessageBox::Ok,
                   parent);
    box.setTextFormat(Qt::PlainText);
    if (owner == TBoxOwner::None) {
        // Not modal: the rest of the program stays usable, yet Show returns only when the box
        // is closed. QDialog::exec would make any box modal, so it waits in a loop of its own.
        box.setWindowModality(Qt::NonModal);
        QEventLoop loop;
        QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
        box.show();
        loop.exec();
        return;
    }
    box.setWindowModality(owner == TBoxOwner::Window && parent != nullptr ? Qt::WindowModal
                                                                          : Qt::ApplicationModal);
    box.exec();
}

void QtApplication::Run() {
    if (mainWindow_ != nullptr)
        mainWindow_->show();  // raises the first show event
    // The first show event may already have ended the run (a failed parameter check).
    if (terminated_)
        return;
    // A loop of our own rather than QApplication::exec: QCoreApplication::exit would also end
    // every nested loop, so a message box open at that moment would vanish unanswered. Ending
    // only this loop lets such a box be answered first, and the run ends when control returns.
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
}

void QtApplication::Terminate() {
    terminated_ = true;
    // QEventLoop::exit only marks the loop: the handler that asked goes on to its end.
    if (loop_ != nullptr)
        loop_->exit(exitCode_);
}

void QtApplication::ShowException(std::string_view message) {
    boxes_.Show(title_, ExceptionText(message), TBoxIcon::Error, TBoxOwner::Window);
}

TDateTime QtClock::LocalNow() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    return TDateTime{date.year(), date.month(),  date.day(),
                     time.hour(), time.minute(), time.second(), time.msec()};
}

void QtClock::BlockingWait(std::uint32_t ms) {
    // Deliberately not an event loop: nothing of the program may run during the wait; what
    // falls due meanwhile is handled by the loop afterwards, in order.
    QThread::msleep(ms);
}

}  // namespace vendilox::platform::qt
