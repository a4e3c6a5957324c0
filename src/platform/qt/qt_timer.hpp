// A window timer on QTimer.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

#include "platform/application.hpp"
#include "platform/timer.hpp"

namespace vendilox::platform::qt {

// The program's timers differ from QTimer in two ways that the handlers rely on: starting a
// running timer does not restart its countdown, and a running timer with interval 0 never ticks
// (QTimer would tick on every turn of the loop).
class QtTimer final : public QObject, public ITimer {
  public:
    explicit QtTimer(IApplication& app, std::uint32_t interval = 1000);

    void SetInterval(std::uint32_t ms) override;
    std::uint32_t Interval() const override { return interval_; }
    void Start() override;
    void Stop() override;
    bool Running() const override { return running_; }
    void SetOnTimer(std::function<void()> handler) override { handler_ = std::move(handler); }

  private:
    void Arm();

    IApplication& app_;
    QTimer timer_;
    std::function<void()> handler_;
    std::uint32_t interval_;
    bool running_ = false;
};

}  // namespace vendilox::platform::qt
