#include "platform/fake/fake_window.hpp"

#include "platform/platform.hpp"
#include "window/Form1Design.hpp"

namespace vendilox::platform::fake {

FakeWindow::FakeWindow(IApplication& app) : app_(app) {
    for (const window::TControlDesign& control : window::kControls) {
        const window::TRect& r = control.Bounds;
        Controls[control.Id] = TControl{control.Visible, r.Left, r.Top, r.Width, r.Height};
    }
}

void FakeWindow::AddSystemMenuIcon() {
    if (systemMenu_)
        return;
    systemMenu_ = true;
    ++ShowEvents;
    if (events_)
        events_->FormShow();
}

void FakeWindow::Close() {
    ++CloseRequests;
    if (!events_ || !events_->FormCloseQuery())
        return;
    ++ClosesGranted;
    events_->FormClose();
    Closed = true;
    app_.Terminate();
}

void FakeWindow::Show() {
    ++ShowEvents;
    Dispatch(app_, [this] {
        if (events_)
            events_->FormShow();
    });
}

void FakeWindow::UserClose() {
    Dispatch(app_, [this] { Close(); });
}

ISingleInstanceGuard::TState FakeSingleInstanceGuard::Create(std::string_view name) {
    Created.emplace_back(name);
    if (Unavailable)
        return TState::Unavailable;
    if (system_.Held.count(std::string(name)) != 0)
        return TState::AlreadyExists;
    system_.Held.emplace(name);
    held_ = std::string(name);
    return TState::Owned;
}

void FakeSingleInstanceGuard::Release() {
    if (!held_)
        return;
    ++Releases;
    system_.Held.erase(*held_);
    held_.reset();
}

}  // namespace vendilox::platform::fake
