// The floor of the start-up and memory figures: the least a Qt Widgets program does to put a
// window with a line of text on the screen. It starts the application, shows the window, and
// quits as soon as the window has been painted once, so that its fork-to-exit time holds every
// cost a status window cannot avoid (loading the toolkit, the platform plugin, the fonts, the
// first paint) and nothing of the program itself.
#include <QApplication>
#include <QLabel>
#include <QPaintEvent>

namespace {

class FirstPaintQuits final : public QLabel {
  public:
    using QLabel::QLabel;

  protected:
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        // Ends the event loop once control returns to it; the window has been drawn.
        QCoreApplication::quit();
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    FirstPaintQuits window(QStringLiteral("Transakce provedena"));
    window.show();
    return QApplication::exec();
}
