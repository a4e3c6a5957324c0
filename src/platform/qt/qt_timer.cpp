#include "platform/qt/qt_timer.hpp"

#include <limits>

#include "platform/platform.hpp"

namespace vendilox::platform::qt {

QtTimer::QtTimer(IApplication& app, std::uint32_t interval) : app_(app), interval_(interval) {
    // Precise: a coarse timer may fire up to 5 % early or late, a fifth of a second on the
    // close timer.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        if (handler_)
            Dispatch(app_, handler_);
    });
}

void QtTimer::Arm() {
    // QTimer takes a signed interval; anything longer than it holds is as good as never.
    if (interval_ == 0 || interval_ > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
        timer_.stop();
        return;
    }
    timer_.start(static_cast<int>(interval_));
}

void QtTimer::SetInterval(std::uint32_t ms) {
    if (ms == interval_)
        return;
    interval_ = ms;
    if (running_)
        Arm();  // a new interval restarts the countdown of a running timer
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

}  // namespace vendilox::platform::qt
