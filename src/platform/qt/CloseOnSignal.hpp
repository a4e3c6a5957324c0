// SIGTERM and SIGINT as the system's close command for the window.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace vendilox::platform::qt {

// While it exists, SIGTERM and SIGINT no longer end the process at once: each becomes a close
// request handled on the main thread (the signal handler only writes a byte into a pipe that the
// loop watches), so the request goes through the window's close query like Alt+F4 and is
// refused while the window may not close. Only one may exist at a time.
class CloseOnSignal {
  public:
    explicit CloseOnSignal(std::function<void()> onClose);
    ~CloseOnSignal();
    CloseOnSignal(const CloseOnSignal&) = delete;
    CloseOnSignal& operator=(const CloseOnSignal&) = delete;

    // Whether the handlers are installed (false when the pipe could not be made).
    bool Installed() const { return notifier_ != nullptr; }

  private:
    void OnSignalled();

    std::function<void()> onClose_;
    int pipe_[2] = {-1, -1};
    QObject context_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vendilox::platform::qt
