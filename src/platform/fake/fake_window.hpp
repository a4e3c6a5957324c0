// The window and the single-instance guard for tests: they record what the program does to
// them and raise the window's events as the real window does.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/application.hpp"
#include "platform/window.hpp"

namespace vendilox::platform::fake {

// The window Form1: the controls' layout as designed and as the program changed it, the border
// icons and the close request.
class FakeWindow : public IControlLayout, public IWindowFrame {
  public:
    struct TControl {
        bool Visible;
        int Left;
        int Top;
        int Width;
        int Height;
        bool Enabled = true;
        bool operator==(const TControl&) const = default;
    };

    explicit FakeWindow(IApplication& app);

    // IControlLayout
    void SetVisible(TControlId control, bool visible) override {
        Controls.at(control).Visible = visible;
    }
    void SetTop(TControlId control, int top) override { Controls.at(control).Top = top; }
    void SetLeft(TControlId control, int left) override { Controls.at(control).Left = left; }
    void SetEnabled(TControlId control, bool enabled) override {
        Controls.at(control).Enabled = enabled;
    }
    void SetWindowHeight(int height) override { WindowHeight = height; }

    // IWindowFrame
    void SetEvents(IWindowEvents* events) override { events_ = events; }
    // The first time the window is rebuilt, which raises its show event again at once.
    void AddSystemMenuIcon() override;
    bool HasSystemMenuIcon() const override { return systemMenu_; }
    void Close() override;

    // The test's side: the platform shows the window (its show event, through the loop's
    // dispatch), or the user asks to close it (close button, Alt+F4).
    void Show();
    void UserClose();

    std::map<TControlId, TControl> Controls;
    std::optional<int> WindowHeight;  // unset: the design height
    int ShowEvents = 0;
    int CloseRequests = 0;
    int ClosesGranted = 0;
    bool Closed = false;

  private:
    IApplication& app_;
    IWindowEvents* events_ = nullptr;
    bool systemMenu_ = false;
};

// The system's named mutexes, shared by the guards of the "processes" of one test.
struct FakeNamedMutexes {
    std::set<std::string> Held;
};

class FakeSingleInstanceGuard : public ISingleInstanceGuard {
  public:
    explicit FakeSingleInstanceGuard(FakeNamedMutexes& system) : system_(system) {}
    ~FakeSingleInstanceGuard() override { Release(); }

    TState Create(std::string_view name) override;
    void Release() override;

    // The guard cannot be created at all (the program then runs without it).
    bool Unavailable = false;
    std::vector<std::string> Created;
    int Releases = 0;
    bool Holds() const { return held_.has_value(); }

  private:
    FakeNamedMutexes& system_;
    std::optional<std::string> held_;
};

}  // namespace vendilox::platform::fake
