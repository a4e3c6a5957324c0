// The floor of the first-byte start-up figure: the least a Qt Widgets program does to show a
// window with a line of text and then write to a terminal on the loopback. It starts the
// application, shows the window, starts a non-blocking connection from its show event (as the
// program starts its link), and writes one byte once the connection is made. The driver times
// the fork to that byte's arrival; the program's own start-up is held against it.
//   minimal_qt_first_byte PORT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

class Window final : public QLabel {
  public:
    Window(const QString& text, int port) : QLabel(text), port_(port) {}

  protected:
    void showEvent(QShowEvent* event) override {
        QLabel::showEvent(event);
        if (fd_ < 0)
            Connect();
    }

  private:
    void Connect() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            std::perror("socket");
            std::exit(1);
        }
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<std::uint16_t>(port_));
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
            errno != EINPROGRESS) {
            std::perror("connect");
            std::exit(1);
        }
        // Writable once connected; the byte goes out from the event loop, as the program's
        // request does from its connect event.
        auto* writable = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
        QObject::connect(writable, &QSocketNotifier::activated, this, [this, writable] {
            writable->setEnabled(false);
            const char byte = 0x02;
            if (::send(fd_, &byte, 1, MSG_NOSIGNAL) != 1) {
                std::perror("send");
                std::exit(1);
            }
        });
    }

    int port_;
    int fd_ = -1;
};

}  // namespace

int main(int argc, char* argv[]) {
    const int port = argc == 2 ? std::atoi(argv[1]) : 0;
    if (port <= 0 || port > 65535) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    Window window(QStringLiteral("Transakce provedena"), port);
    // A window of a fixed size, as the status window is: its text is measured when it is painted,
    // not to find a size for the window.
    window.setFixedSize(458, 84);
    window.show();
    return QApplication::exec();
}
