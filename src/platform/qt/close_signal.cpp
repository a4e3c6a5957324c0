#include "platform/qt/close_signal.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

namespace vendilox::platform::qt {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};

int g_pipe[2] = {-1, -1};
struct sigaction g_previous[std::size(kSignals)];

extern "C" void OnCloseSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a pending request; one more byte would add nothing.
    [[maybe_unused]] ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

CloseOnSignal::CloseOnSignal(std::function<void()> onClose) : onClose_(std::move(onClose)) {
    if (g_pipe[0] >= 0)
        return;  // another instance owns the signals
    if (::pipe2(g_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    QObject::connect(notifier_, &QSocketNotifier::activated, this, [this] { OnSignalled(); });

    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &action, &g_previous[i]);
    }
    installed_ = true;
}

CloseOnSignal::~CloseOnSignal() {
    if (!installed_)
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    delete notifier_;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void CloseOnSignal::OnSignalled() {
    char bytes[64];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    // Several signals before the loop came round are one close request.
    if (onClose_)
        onClose_();
}

}  // namespace vendilox::platform::qt
