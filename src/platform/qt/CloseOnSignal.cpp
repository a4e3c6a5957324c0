#include "platform/qt/CloseOnSignal.hpp"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

namespace vendilox::platform::qt {

#ifndef _WIN32

namespace {

std::atomic<int> gWakeFd{-1};
struct sigaction gPreviousTerm {};
struct sigaction gPreviousInt {};

extern "C" void WakeOnSignal(int) {
    // Only what is safe in a signal handler: one write, errno kept for the interrupted code.
    const int saved = errno;
    const int fd = gWakeFd.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

CloseOnSignal::CloseOnSignal(std::function<void()> onClose) : onClose_(std::move(onClose)) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    gWakeFd.store(pipe_[1]);
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, &context_);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { OnSignalled(); });

    struct sigaction action {};
    action.sa_handler = WakeOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &gPreviousTerm);
    ::sigaction(SIGINT, &action, &gPreviousInt);
}

CloseOnSignal::~CloseOnSignal() {
    if (notifier_ == nullptr)
        return;
    ::sigaction(SIGTERM, &gPreviousTerm, nullptr);
    ::sigaction(SIGINT, &gPreviousInt, nullptr);
    gWakeFd.store(-1);
    delete notifier_;
    notifier_ = nullptr;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void CloseOnSignal::OnSignalled() {
    // Signals that came together are one close request.
    char bytes[64];
    while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    if (onClose_)
        onClose_();
}

#else

// Windows sends its close command to the window itself.
CloseOnSignal::CloseOnSignal(std::function<void()> onClose) : onClose_(std::move(onClose)) {}
CloseOnSignal::~CloseOnSignal() = default;
void CloseOnSignal::OnSignalled() {}

#endif

}  // namespace vendilox::platform::qt
