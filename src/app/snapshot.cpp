// Shows the status window with the content of a real run and saves a picture of it, in the
// normal or the debug layout, to check how it looks on a real display. The picture holds the
// window with the frame the window manager draws around it, as a user sees it; the outer
// geometry and whether it is centred on the screen are printed, and a window that is not, or a
// debug window that is not 365 pixels high, ends the tool with exit code 1.
//   vendilox_window_snapshot OUTPUT.png [--debug]
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control/Unit1.hpp"
#include "platform/qt/qt_placement.hpp"
#include "platform/qt/qt_platform.hpp"
#include "protocol/cp1250.hpp"
#include "window/Form1Design.hpp"

namespace {

using vendilox::operator""_w1250;
using vendilox::platform::TColor;
using vendilox::platform::TControlId;

// The log of an approved purchase over TCP, control bytes included.
const std::string kLog[] = {
    "Retezec pro vypocet CRC: \x1CT00\x1C"
    "B12345",
    "CRC: 8FBF",
    std::string("Odeslaná data(ASCII): "_w1250) +
        "\x02"
        "B001        2612111039080000000B8FBF\x1CT00\x1C"
        "B12345\x03",
    std::string("Odeslaná data(HEX): "_w1250) +
        "024230303120202020202020203236313231313130333930383030303030303042384642461C5430301C"
        "42313233343503",
    std::string("Přijmutá data: "_w1250) +
        "\x02"
        "B00187654321261211103908000100000000\x03",
    "Activity confirmation",
    std::string("Přijmutá data: "_w1250) +
        "\x02"
        "B001876543212612111039080001003B7D16\x1CR000\x1CT00\x1C"
        "B12345\x1CP411111******"
        "1111\x1C"
        "F12345678\x1CJVISA\x1CL0000123\x03",
    "CRC vypocitane z dat: 7D16",
    "CRC obsazene v hlavicce: 7D16",
    std::string("Odeslaná data: "_w1250) +
        "\x02"
        "B0018765432126121110390800010000A5A5\x03",
    "Konec transakce",
};

const std::string kReport[] = {
    "000|87654321|0000123|00|0|411111******1111|12345678|12/11/2026|10:39:08|12345|1|",
    "-----------------------------------",
    std::string("Stav po zpracování: "_w1250),  // the status text follows
    std::string("Číslo terminálu POS: 87654321"_w1250),
    std::string("Číslo dávky: 0000123"_w1250),
    std::string("Typ transakce: nákup na terminálu"_w1250),
    "Typ karty: Visa",
    std::string("Číslo karty: 411111******1111"_w1250),
    std::string("Autorizační kód: 12345678"_w1250),
    "Datum transakce: 12/11/2026",
    std::string("Čas transakce: 10:39:08"_w1250),
    std::string("Částka transakce: 123,45 Kč"_w1250),
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2 || (argc == 3 && std::strcmp(argv[2], "--debug") != 0) || argc > 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [--debug]\n", argv[0]);
        return 2;
    }
    const bool debug = argc == 3;
    QApplication application(argc, argv);
    vendilox::platform::qt::QtPlatform platform(vendilox::platform::qt::TEcho{});
    vendilox::platform::TForm1Components c = platform.CreateForm1();
    vendilox::platform::qt::Form1& form = *platform.Form();

    c.Panel2.SetCaption("Nákup na terminálu"_w1250);
    for (const std::string& line : kLog)
        c.Memo1.AppendLine(line);
    const std::string status(debug ? "Zrušeno zákazníkem"_w1250 : "Transakce provedena"_w1250);
    for (const std::string& line : kReport) {
        c.Memo3.AppendLine(line.ends_with(": ") ? line + status : line);
    }
    if (debug) {
        // The debug layout as the program applies it, after a declined operation.
        vendilox::TForm1::ApplyDebugLayout(c.Layout);
        c.Panel2.SetColor(TColor::Red);
    }
    c.Panel2.SetCaption(status);
    form.show();

    // Until the window system has put the window on the screen and it has been painted.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000 &&
           (form.windowHandle() == nullptr || !form.windowHandle()->isExposed())) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    const qint64 exposed = clock.elapsed();
    while (clock.elapsed() < exposed + 300)
        QApplication::processEvents(QEventLoop::AllEvents, 50);

    // The frame as the window system has it now, the caption bar and border included.
    const QRect outer = form.geometry().marginsAdded(vendilox::platform::qt::WindowFrame(form));
    const QRect area = vendilox::platform::qt::DesktopArea(form);
    QScreen* screen = form.screen();
    const QPixmap picture = screen != nullptr ? screen->grabWindow(0, outer.x(), outer.y(),
                                                                   outer.width(), outer.height())
                                              : form.grab();
    if (!picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    const int left = outer.left() - area.left();
    const int right = area.right() - outer.right();
    const int above = outer.top() - area.top();
    const int below = area.bottom() - outer.bottom();
    const bool centred = std::abs(left - right) <= 1 && std::abs(above - below) <= 1;
    const bool sized = !debug || outer.height() == vendilox::window::kDebugWindowHeight;
    std::printf(
        "%s: outer frame %dx%d at %d,%d on %dx%d: %d px left, %d right, %d above, %d below%s%s\n",
        argv[1], outer.width(), outer.height(), outer.x(), outer.y(), area.width(), area.height(),
        left, right, above, below, centred ? "" : ", NOT CENTRED",
        sized ? "" : ", NOT 365 PX HIGH");
    return centred && sized ? 0 : 1;
}
