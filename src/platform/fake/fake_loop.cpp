#include "platform/fake/fake_loop.hpp"

#include <algorithm>
#include <chrono>

#include "platform/platform.hpp"

namespace vendilox::platform::fake {

FakeLoop::TEventId FakeLoop::Post(std::uint64_t at, std::function<void()> event) {
    TEventId id{std::max(at, now_), ++seq_};
    events_.emplace(id, std::move(event));
    return id;
}

std::optional<std::uint64_t> FakeLoop::NextDue() const {
    if (events_.empty())
        return std::nullopt;
    return events_.begin()->first.Time;
}

bool FakeLoop::DispatchNext(std::uint64_t limit) {
    if (app_.Terminated() || events_.empty())
        return false;
    auto first = events_.begin();
    // A handler that blocked the loop has moved the time on; what fell due meanwhile is next.
    if (first->first.Time > std::max(limit, now_))
        return false;
    now_ = std::max(now_, first->first.Time);
    auto event = std::move(first->second);
    events_.erase(first);  // before dispatching: the handler may post or cancel events
    Dispatch(app_, event);
    return true;
}

void FakeLoop::AdvanceTo(std::uint64_t t) {
    while (DispatchNext(t)) {
    }
    now_ = std::max(now_, t);
}

void FakeLoop::RunUntilEnd(std::uint64_t limit) {
    while (DispatchNext(limit)) {
    }
}

void FakeTimer::SetInterval(std::uint32_t ms) {
    if (ms == interval_)
        return;
    interval_ = ms;
    if (running_) {
        // A new interval restarts the countdown of a running timer.
        Unschedule();
        origin_ = loop_.Now();
        Schedule();
    }
}

void FakeTimer::Start() {
    if (running_)
        return;
    running_ = true;
    ++Starts;
    origin_ = loop_.Now();
    Schedule();
}

void FakeTimer::Stop() {
    running_ = false;
    Unschedule();
}

void FakeTimer::Schedule() {
    if (interval_ == 0)
        return;
    // The first point of the grid origin + k * interval that lies after now.
    const std::uint64_t now = loop_.Now();
    const std::uint64_t k = (now - origin_) / interval_ + 1;
    next_ = loop_.Post(origin_ + k * interval_, [this] { Tick(); });
}

void FakeTimer::Unschedule() {
    if (next_)
        loop_.Cancel(*next_);
    next_.reset();
}

void FakeTimer::Tick() {
    next_.reset();
    // The next tick is queued before the handler runs, so that a handler that stops or restarts
    // the timer cancels it like any other.
    Schedule();
    ++Ticks;
    if (handler_)
        handler_();
}

TDateTime FakeClock::LocalNow() {
    using namespace std::chrono;
    const sys_days day = year{base_.Year} / month{static_cast<unsigned>(base_.Month)} /
                         std::chrono::day{static_cast<unsigned>(base_.Day)};
    const sys_time<milliseconds> moment = day + hours{base_.Hour} + minutes{base_.Minute} +
                                          seconds{base_.Second} +
                                          milliseconds{static_cast<std::int64_t>(loop_.Now())};
    const sys_days date = floor<days>(moment);
    const year_month_day ymd{date};
    const hh_mm_ss<milliseconds> time{moment - date};
    return TDateTime{static_cast<int>(ymd.year()),
                     static_cast<int>(static_cast<unsigned>(ymd.month())),
                     static_cast<int>(static_cast<unsigned>(ymd.day())),
                     static_cast<int>(time.hours().count()),
                     static_cast<int>(time.minutes().count()),
                     static_cast<int>(time.seconds().count()),
                     static_cast<int>(time.subseconds().count())};
}

void FakeClock::BlockingWait(std::uint32_t ms) {
    Waits.push_back({loop_.Now(), ms});
    loop_.Block(ms);
}

}  // namespace vendilox::platform::fake
