// SIGTERM and SIGINT as the system's close command for the main window.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace vendilox::platform::qt {

// A termination signal asks the window to close, like Alt+F4: the request is handled on the main
// thread through the window's close query, so it is refused while the program does not allow
// closing. The signal handler only writes one byte into a pipe; the loop reads it.
// One instance at a time owns the signals; the previous dispositions come back when it is gone.
class CloseOnSignal final : public QObject {
  public:
    explicit CloseOnSignal(std::function<void()> onClose);
    ~CloseOnSignal() override;
    CloseOnSignal(const CloseOnSignal&) = delete;
    CloseOnSignal& operator=(const CloseOnSignal&) = delete;

    // False when the signals could not be taken over (no pipe, or another instance has them);
    // they then keep their previous disposition.
    bool Installed() const { return installed_; }

  private:
    void OnSignalled();

    std::function<void()> onClose_;
    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
};

}  // namespace vendilox::platform::qt
