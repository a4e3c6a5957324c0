// Virtual time for tests: one event queue and one clock that every fake component shares, so a
// whole run of the program can be played through in milliseconds that nobody waits for.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/application.hpp"
#include "platform/timer.hpp"
#include "protocol/request.hpp"

namespace vendilox::platform::fake {

// The main thread's message loop in virtual time. Events are due at a time in milliseconds from
// 0 and are dispatched in the order of their time, then of their posting, each through
// platform::Dispatch as the real loop delivers them. Once the application's end was requested
// nothing more is dispatched, as the real loop ends at its next turn.
class FakeLoop {
  public:
    struct TEventId {
        std::uint64_t Time = 0;
        std::uint64_t Seq = 0;
        auto operator<=>(const TEventId&) const = default;
    };

    explicit FakeLoop(IApplication& app) : app_(app) {}
    FakeLoop(const FakeLoop&) = delete;
    FakeLoop& operator=(const FakeLoop&) = delete;

    std::uint64_t Now() const { return now_; }

    // An event due at the given time; one in the past is due at once (after those already due).
    TEventId Post(std::uint64_t at, std::function<void()> event);
    // Forgets an event that has not been dispatched yet; unknown ids are ignored.
    void Cancel(TEventId id) { events_.erase(id); }

    // Dispatches every event due up to t (and those that fall due while a handler blocks the
    // loop beyond t), setting the time to each event's time, then sets the time to t.
    void AdvanceTo(std::uint64_t t);
    void AdvanceBy(std::uint64_t ms) { AdvanceTo(now_ + ms); }
    // Dispatches until the end was requested or nothing is due up to limit.
    void RunUntilEnd(std::uint64_t limit);

    // The blocking wait: the clock moves on and nothing is dispatched meanwhile; what fell due
    // is dispatched when the blocked handler has returned to the loop.
    void Block(std::uint64_t ms) { now_ += ms; }

    bool Ended() const { return app_.Terminated(); }
    std::size_t PendingEvents() const { return events_.size(); }
    std::optional<std::uint64_t> NextDue() const;
    IApplication& Application() { return app_; }

  private:
    // Dispatches the first event if it is due up to limit; false when there was none.
    bool DispatchNext(std::uint64_t limit);

    IApplication& app_;
    std::uint64_t now_ = 0;
    std::uint64_t seq_ = 0;
    std::map<TEventId, std::function<void()>> events_;
};

// A window timer on the virtual loop: once started at s it ticks at s + k * interval. A tick
// dispatched late (after a blocking wait) is delivered once, and the next one keeps the grid, as
// a window timer coalesces the ticks it missed.
class FakeTimer : public ITimer {
  public:
    explicit FakeTimer(FakeLoop& loop) : loop_(loop) {}
    ~FakeTimer() override { Unschedule(); }
    FakeTimer(const FakeTimer&) = delete;
    FakeTimer& operator=(const FakeTimer&) = delete;

    void SetInterval(std::uint32_t ms) override;
    std::uint32_t Interval() const override { return interval_; }
    void Start() override;
    void Stop() override;
    bool Running() const override { return running_; }
    void SetOnTimer(std::function<void()> handler) override { handler_ = std::move(handler); }

    int Ticks = 0;
    int Starts = 0;  // calls of Start that started a stopped timer

  private:
    void Schedule();
    void Unschedule();
    void Tick();

    FakeLoop& loop_;
    std::uint32_t interval_ = 0;
    bool running_ = false;
    std::uint64_t origin_ = 0;
    std::optional<FakeLoop::TEventId> next_;
    std::function<void()> handler_;
};

// The local clock: a fixed base date and time plus the virtual time.
class FakeClock : public IClock {
  public:
    // 14:30:05 on 16 August 2018 unless a test chooses another base.
    explicit FakeClock(FakeLoop& loop, TDateTime base = {2018, 8, 16, 14, 30, 5})
        : loop_(loop), base_(base) {}

    TDateTime LocalNow() override;
    void BlockingWait(std::uint32_t ms) override;

    void SetBase(TDateTime base) { base_ = base; }
    struct TWait {
        std::uint64_t At;
        std::uint32_t Ms;
        bool operator==(const TWait&) const = default;
    };
    std::vector<TWait> Waits;

  private:
    FakeLoop& loop_;
    TDateTime base_;
};

}  // namespace vendilox::platform::fake
