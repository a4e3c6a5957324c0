#include "platform/qt/qt_placement.hpp"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace vendilox::platform::qt {

namespace {

// How long the window manager may take to say what frame it will draw. It answers within a
// millisecond when it is there; a window manager that does not answer in time leaves the window
// without a known frame rather than hold up the start-up.
constexpr int kFrameAnswerMs = 200;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t* X11Connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The 32-bit values of a CARDINAL or ATOM property; empty when it is not there.
std::optional<std::vector<std::uint32_t>> Property(xcb_connection_t* connection,
                                                   xcb_window_t window, xcb_atom_t property,
                                                   xcb_atom_t type, std::uint32_t count) {
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, property, type, 0, count), nullptr),
        &std::free);
    if (!reply || reply->type != type || reply->format != 32)
        return std::nullopt;
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<std::uint32_t>(values,
                                      values + xcb_get_property_value_length(reply.get()) / 4);
}

std::optional<QMargins> FrameExtents(xcb_connection_t* connection, xcb_window_t window,
                                     xcb_atom_t extents) {
    const auto values = Property(connection, window, extents, XCB_ATOM_CARDINAL, 4);
    if (!values || values->size() != 4)
        return std::nullopt;
    // Left, right, top, bottom.
    const auto& v = *values;
    return QMargins(static_cast<int>(v[0]), static_cast<int>(v[2]), static_cast<int>(v[1]),
                    static_cast<int>(v[3]));
}

xcb_window_t RootOf(xcb_connection_t* connection, xcb_window_t window) {
    const Reply<xcb_get_geometry_reply_t> reply(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr),
        &std::free);
    return reply ? reply->root : xcb_window_t{XCB_WINDOW_NONE};
}

bool ManagerSupports(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t what) {
    const auto supported =
        Property(connection, root, Atom(connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM, 4096);
    if (!supported)
        return false;
    for (std::uint32_t atom : *supported) {
        if (atom == what)
            return true;
    }
    return false;
}

bool Mapped(xcb_connection_t* connection, xcb_window_t window) {
    const Reply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window),
                                        nullptr),
        &std::free);
    return reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
}

// The frame the window manager draws around window: read from the window while it is mapped,
// else asked for and waited on (the manager answers also for a window not yet mapped). What a
// window that is not mapped holds may be stale: the manager leaves an empty frame on a window it
// has let go, as on the window hidden to be rebuilt with its close button.
std::optional<QMargins> X11Frame(xcb_connection_t* connection, xcb_window_t window) {
    const xcb_atom_t extents = Atom(connection, "_NET_FRAME_EXTENTS");
    if (Mapped(connection, window))
        return FrameExtents(connection, window, extents);
    const xcb_window_t root = RootOf(connection, window);
    const xcb_atom_t request = Atom(connection, "_NET_REQUEST_FRAME_EXTENTS");
    if (root == XCB_WINDOW_NONE || !ManagerSupports(connection, root, request))
        return std::nullopt;
    xcb_delete_property(connection, window, extents);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = request;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
    // Qt reads this connection's events on a thread of its own, so the answer is looked for in
    // the property rather than waited for as an event. An empty frame does not count as the
    // answer yet: a manager still letting go of the window hidden for its rebuild writes one
    // after the property was cleared, and its answer to the request follows.
    QElapsedTimer clock;
    clock.start();
    std::optional<QMargins> answered;
    while (clock.elapsed() < kFrameAnswerMs) {
        answered = FrameExtents(connection, window, extents);
        if (answered && !answered->isNull())
            return answered;
        QThread::usleep(250);
    }
    return answered;
}

}  // namespace

QMargins WindowFrame(QWidget& window) {
    if (xcb_connection_t* connection = X11Connection()) {
        const auto id = static_cast<xcb_window_t>(window.winId());
        return X11Frame(connection, id).value_or(QMargins());
    }
    QWindow* handle = window.windowHandle();
    return handle != nullptr ? handle->frameMargins() : QMargins();
}

void CentreOn(QWidget& window, const QRect& area) {
    const QMargins frame = WindowFrame(window);
    const int outerWidth = window.width() + frame.left() + frame.right();
    const int outerHeight = window.height() + frame.top() + frame.bottom();
    const int left = area.x() + (area.width() - outerWidth) / 2;
    const int top = area.y() + (area.height() - outerHeight) / 2;
    // The position of the client area, so that the window system puts it exactly there and its
    // frame around it.
    window.setGeometry(left + frame.left(), top + frame.top(), window.width(), window.height());
}

QRect DesktopArea(const QWidget& window) {
    QScreen* screen =
        window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace vendilox::platform::qt
