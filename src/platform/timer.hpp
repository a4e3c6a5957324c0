#pragma once

#include <cstdint>
#include <functional>

namespace vendilox::platform {

// A window timer. A running timer ticks after every interval until stopped; its ticks are events
// of the main loop and never interrupt a running handler.
class ITimer {
  public:
    virtual ~ITimer() = default;
    // Setting the interval it already has changes nothing; a new interval applies from the next
    // start, or restarts the countdown of a running timer.
    virtual void SetInterval(std::uint32_t ms) = 0;
    virtual std::uint32_t Interval() const = 0;
    // Starting a running timer does not restart its countdown. A running timer whose interval is
    // 0 never ticks.
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool Running() const = 0;
    virtual void SetOnTimer(std::function<void()> handler) = 0;
};

}  // namespace vendilox::platform
