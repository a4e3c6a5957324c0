// Where the window system really puts the status window and its message boxes: on a virtual X
// display with a real window manager (Xvfb and openbox), read back from the X server over a
// connection of the test's own. Every geometry the outer frame has from the moment it is mapped
// counts, so that a window placed right only after a jump fails as well.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QWindow>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "control/Unit1.hpp"
#include "platform/qt/qt_application.hpp"
#include "platform/qt/qt_form1.hpp"
#include "support.hpp"

namespace vendilox::platform::qt {
namespace {

using test::RecordingApplication;

// ---------------------------------------------------------------------------------------------
// The X session: Xvfb on a free display, openbox on it, both ended with the test program.

class XSession {
  public:
    static XSession& Get() {
        static XSession session;
        return session;
    }

    // Starts the display and the window manager; false with the reason when either cannot run.
    bool Start() {
        if (!StartServer() || !StartManager())
            return false;
        running_ = true;
        return true;
    }

    bool Running() const { return running_; }
    const std::string& Display() const { return display_; }
    const std::string& Why() const { return why_; }

    ~XSession() {
        for (pid_t pid : {manager_, server_}) {
            if (pid > 0) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }

  private:
    XSession() = default;

    static pid_t Spawn(const std::vector<std::string>& args, int keepFd) {
        const pid_t pid = ::fork();
        if (pid != 0)
            return pid;
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (keepFd >= 0)
            ::fcntl(keepFd, F_SETFD, 0);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }

    bool StartServer() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            why_ = "no pipe for Xvfb";
            return false;
        }
        server_ = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                         "1024x768x24", "-nolisten", "tcp"},
                        fds[1]);
        ::close(fds[1]);
        std::string number;
        pollfd readable{fds[0], POLLIN, 0};
        char c = 0;
        while (::poll(&readable, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number.push_back(c);
        ::close(fds[0]);
        if (number.empty()) {
            why_ = "Xvfb (Debian package xvfb) did not start";
            return false;
        }
        display_ = ":" + number;
        return true;
    }

    bool StartManager() {
        ::setenv("DISPLAY", display_.c_str(), 1);
        manager_ = Spawn({"openbox", "--sm-disable"}, -1);
        xcb_connection_t* c = xcb_connect(display_.c_str(), nullptr);
        if (xcb_connection_has_error(c) != 0) {
            xcb_disconnect(c);
            why_ = "no connection to Xvfb on " + display_;
            return false;
        }
        const bool ready = ManagerAnswers(c);
        xcb_disconnect(c);
        if (!ready)
            why_ = "openbox (Debian package openbox) did not start on " + display_;
        return ready;
    }

    static xcb_atom_t Atom(xcb_connection_t* c, std::string_view name) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
            xcb_intern_atom_reply(
                c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()),
                nullptr),
            &std::free);
        return atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
    }

    // The manager is ready once it answers what the window does before its first map: the
    // frame it would draw around a window that is not mapped yet. A manager that has named
    // itself on the root window may still be starting, and would let that question go unheard.
    bool ManagerAnswers(xcb_connection_t* c) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t probe = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const xcb_atom_t request = Atom(c, "_NET_REQUEST_FRAME_EXTENTS");
        const xcb_atom_t extents = Atom(c, "_NET_FRAME_EXTENTS");
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            if (::waitpid(manager_, nullptr, WNOHANG) == manager_) {
                manager_ = -1;
                return false;
            }
            xcb_client_message_event_t message{};
            message.response_type = XCB_CLIENT_MESSAGE;
            message.format = 32;
            message.window = probe;
            message.type = request;
            xcb_send_event(
                c, 0, screen->root,
                XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                reinterpret_cast<const char*>(&message));
            ::usleep(20000);
            std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> answer(
                xcb_get_property_reply(
                    c, xcb_get_property(c, 0, probe, extents, XCB_ATOM_CARDINAL, 0, 4), nullptr),
                &std::free);
            if (answer && answer->value_len == 4)
                return true;
        }
        return false;
    }

    std::string display_;
    std::string why_ = "not started";
    pid_t server_ = -1;
    pid_t manager_ = -1;
    bool running_ = false;
};

// ---------------------------------------------------------------------------------------------
// What the X server says: the outer frame of a client window, and every place the frame had
// since it was mapped.

class XObserver {
  public:
    XObserver() : c_(xcb_connect(XSession::Get().Display().c_str(), nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
        Sync();
    }
    ~XObserver() { xcb_disconnect(c_); }

    // The window manager's frame around client (the top-level window that holds it), or
    // nothing while the client is not managed.
    std::optional<xcb_window_t> Frame(xcb_window_t client) {
        xcb_window_t window = client;
        for (;;) {
            Reply<xcb_query_tree_reply_t> tree(
                xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr), &std::free);
            if (!tree)
                return std::nullopt;
            if (tree->parent == root_)
                return window == client ? std::nullopt : std::optional(window);
            window = tree->parent;
        }
    }

    bool Viewable(xcb_window_t window) {
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr),
            &std::free);
        return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    // The frame's outer rectangle on the screen now.
    QRect Outer(xcb_window_t frame) {
        Reply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(c_, xcb_get_geometry(c_, frame), nullptr), &std::free);
        if (!g)
            return {};
        return QRect(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
    }

    // Every outer rectangle the frame had from its (last) mapping on, in order.
    std::vector<QRect> SinceMapped(xcb_window_t frame) {
        Drain();
        std::vector<QRect> since;
        std::optional<QRect> current;
        bool mapped = false;
        for (const Change& change : changes_) {
            if (change.window != frame)
                continue;
            if (change.mapped) {
                mapped = true;
                since.clear();
                if (current)
                    since.push_back(*current);
            } else {
                current = change.outer;
                if (mapped)
                    since.push_back(change.outer);
            }
        }
        return since;
    }

    QRect Screen() {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        return QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
    }

  private:
    template <typename T>
    using Reply = std::unique_ptr<T, decltype(&std::free)>;

    struct Change {
        xcb_window_t window;
        bool mapped;  // a map; otherwise a new outer rectangle
        QRect outer;
    };

    void Sync() {
        Reply<xcb_get_input_focus_reply_t> sync(
            xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr), &std::free);
    }

    void Drain() {
        Sync();
        while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
            switch (event->response_type & 0x7F) {
                case XCB_CREATE_NOTIFY: {
                    const auto* e = reinterpret_cast<xcb_create_notify_event_t*>(event);
                    changes_.push_back({e->window, false,
                                        QRect(e->x, e->y, e->width + 2 * e->border_width,
                                              e->height + 2 * e->border_width)});
                    break;
                }
                case XCB_CONFIGURE_NOTIFY: {
                    const auto* e = reinterpret_cast<xcb_configure_notify_event_t*>(event);
                    if (e->event == root_) {
                        changes_.push_back({e->window, false,
                                            QRect(e->x, e->y, e->width + 2 * e->border_width,
                                                  e->height + 2 * e->border_width)});
                    }
                    break;
                }
                case XCB_MAP_NOTIFY: {
                    const auto* e = reinterpret_cast<xcb_map_notify_event_t*>(event);
                    if (e->event == root_)
                        changes_.push_back({e->window, true, {}});
                    break;
                }
                default:
                    break;
            }
            std::free(event);
        }
    }

    xcb_connection_t* c_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    std::vector<Change> changes_;
};

// Centred: the free space on either side differs by at most the one pixel that an odd amount of
// it cannot share, across and down.
testing::AssertionResult CentredOn(const QRect& outer, const QRect& area) {
    const int left = outer.left() - area.left();
    const int right = area.right() - outer.right();
    const int top = outer.top() - area.top();
    const int bottom = area.bottom() - outer.bottom();
    if (std::abs(left - right) <= 1 && std::abs(top - bottom) <= 1)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "outer frame " << outer.width() << "x" << outer.height() << " at " << outer.x() << ","
           << outer.y() << " is not centred on " << area.width() << "x" << area.height() << " at "
           << area.x() << "," << area.y() << ": " << left << " px left, " << right << " px right, "
           << top << " px above, " << bottom << " px below";
}

std::string Describe(const std::vector<QRect>& rects) {
    std::string text;
    for (const QRect& r : rects) {
        text += std::to_string(r.width()) + "x" + std::to_string(r.height()) + "+" +
                std::to_string(r.x()) + "+" + std::to_string(r.y()) + " ";
    }
    return text;
}

// Runs the event loop until the client window's frame is on the screen, and then a little
// longer, so that a correction that follows the first frame is seen too. The frame, or nothing
// when it never came.
std::optional<xcb_window_t> WaitOnScreen(XObserver& x, QWidget& widget) {
    const auto client = static_cast<xcb_window_t>(widget.winId());
    std::optional<xcb_window_t> frame;
    const bool shown = test::WaitUntil([&] {
        frame = x.Frame(client);
        return frame && x.Viewable(*frame) && widget.windowHandle() != nullptr &&
               widget.windowHandle()->isExposed();
    });
    if (!shown)
        return std::nullopt;
    test::RunLoopFor(300);
    return x.Frame(client);
}

class RecordingEvents : public IWindowEvents {
  public:
    void FormShow() override {
        if (OnShow)
            OnShow();
    }
    bool FormCloseQuery() override { return true; }
    void FormClose() override {}

    std::function<void()> OnShow;
};

class WindowGeometryTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!XSession::Get().Running())
            GTEST_SKIP() << "no X display with a window manager: " << XSession::Get().Why();
        x = std::make_unique<XObserver>();
        form = std::make_unique<Form1>(app);
        form->SetEvents(&events);
        boxes.SetOwnerWindow(form.get());
    }

    RecordingApplication app;
    RecordingEvents events;
    QtMessageBox boxes;
    std::unique_ptr<Form1> form;
    std::unique_ptr<XObserver> x;
};

// ---------------------------------------------------------------------------------------------

struct LayoutCase {
    const char* name;
    bool debug;
};

void PrintTo(const LayoutCase& c, std::ostream* out) {
    *out << c.name;
}

class WindowLayoutTest : public WindowGeometryTest,
                         public testing::WithParamInterface<LayoutCase> {};

// The window is centred on the desktop from its first frame on, with the outer height of its
// layout; when the close timer rebuilds it with a close button, it comes back at the same place.
TEST_P(WindowLayoutTest, IsCentredFromTheFirstFrameAndStaysWhenRebuilt) {
    const bool debug = GetParam().debug;
    // The program applies the debug layout in its show handler, before the window is mapped,
    // and ignores the show event of the rebuilt window.
    events.OnShow = [&] {
        if (debug && !form->HasSystemMenuIcon())
            TForm1::ApplyDebugLayout(*form);
    };
    form->show();
    const std::optional<xcb_window_t> frame = WaitOnScreen(*x, *form);
    ASSERT_TRUE(frame) << "the window was never mapped";
    const std::vector<QRect> first = x->SinceMapped(*frame);
    ASSERT_FALSE(first.empty());
    SCOPED_TRACE("outer frames since mapped: " + Describe(first));
    for (const QRect& outer : first) {
        EXPECT_TRUE(CentredOn(outer, x->Screen()));
        EXPECT_EQ(outer, first.front()) << "the window moved or changed size after it appeared";
    }
    const QRect outer = first.front();
    if (debug) {
        EXPECT_EQ(outer.height(), 365);
        EXPECT_LE(form->Control(TControlId::Memo3)->geometry().bottom() + 1, form->height())
            << "the report memo must end inside the client area";
    } else {
        EXPECT_EQ(form->height(), 84);
    }

    form->AddSystemMenuIcon();
    const std::optional<xcb_window_t> rebuilt = WaitOnScreen(*x, *form);
    ASSERT_TRUE(rebuilt) << "the rebuilt window was never mapped";
    const std::vector<QRect> again = x->SinceMapped(*rebuilt);
    ASSERT_FALSE(again.empty());
    SCOPED_TRACE("outer frames since rebuilt: " + Describe(again));
    for (const QRect& r : again)
        EXPECT_EQ(r, outer) << "the window jumped when it got its close button";
}

INSTANTIATE_TEST_SUITE_P(Layouts, WindowLayoutTest,
                         testing::Values(LayoutCase{"Normal", false}, LayoutCase{"Debug", true}),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------------

enum class BoxMoment {
    DuringStartUp,  // from the show handler: the owner is not on the screen yet
    OwnerOnScreen,
};

struct BoxCase {
    const char* name;
    BoxMoment moment;
    TBoxOwner owner;
    bool onOwner;  // centred on the window's outer frame, else on the screen
};

void PrintTo(const BoxCase& c, std::ostream* out) {
    *out << c.name;
}

class MessageBoxPlacementTest : public WindowGeometryTest,
                                public testing::WithParamInterface<BoxCase> {
  protected:
    // Shows a box and, while it is up, records every outer frame it had since it was mapped;
    // then closes it.
    std::vector<QRect> ShowBox(TBoxOwner owner) {
        std::vector<QRect> seen;
        QTimer look;
        look.setSingleShot(true);
        look.callOnTimeout([&] {
            QMessageBox* box = nullptr;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* candidate = qobject_cast<QMessageBox*>(widget);
                    candidate != nullptr && candidate->isVisible()) {
                    box = candidate;
                }
            }
            if (box == nullptr) {
                ADD_FAILURE() << "no box on the screen";
                return;
            }
            if (const std::optional<xcb_window_t> frame = WaitOnScreen(*x, *box))
                seen = x->SinceMapped(*frame);
            box->done(QMessageBox::Ok);
        });
        look.start(0);
        boxes.Show("Chyba", "Nelze otev\xF8\xEDt port...", TBoxIcon::Error, owner);
        return seen;
    }
};

TEST_P(MessageBoxPlacementTest, IsCentredOnItsOwnerOrTheScreen) {
    const BoxCase& c = GetParam();
    std::vector<QRect> box;
    if (c.moment == BoxMoment::DuringStartUp) {
        events.OnShow = [&] { box = ShowBox(c.owner); };
        form->show();
    } else {
        form->show();
        ASSERT_TRUE(WaitOnScreen(*x, *form));
        box = ShowBox(c.owner);
    }
    ASSERT_FALSE(box.empty()) << "the box was never mapped";
    SCOPED_TRACE("the box's outer frames since mapped: " + Describe(box));

    QRect area = x->Screen();
    if (c.onOwner) {
        const std::optional<xcb_window_t> owner =
            x->Frame(static_cast<xcb_window_t>(form->winId()));
        ASSERT_TRUE(owner);
        area = x->Outer(*owner);
    }
    for (const QRect& outer : box) {
        EXPECT_TRUE(CentredOn(outer, area));
        EXPECT_EQ(outer, box.front()) << "the box moved after it appeared";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, MessageBoxPlacementTest,
    testing::Values(BoxCase{"OwnedDuringStartUp", BoxMoment::DuringStartUp, TBoxOwner::Window,
                            false},
                    BoxCase{"OwnedOnScreen", BoxMoment::OwnerOnScreen, TBoxOwner::Window, true},
                    BoxCase{"TaskModal", BoxMoment::OwnerOnScreen, TBoxOwner::TaskModal, false}),
    [](const testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vendilox::platform::qt

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests (at build time) needs no display.
    const bool listing = testing::GTEST_FLAG(list_tests);
    using vendilox::platform::qt::XSession;
    if (!listing && XSession::Get().Start()) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
