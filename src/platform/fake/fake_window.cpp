#include "platform/fake/fake_window.hpp"

#include "platform/platform.hpp"

namespace vendilox::platform::fake {

FakeWindow::FakeWindow(IApplication& app) : app_(app) {
    // The design of the window, in pixels at 96 dots per inch.
    Controls = {
        {TControlId::Panel2, {true, 6, 20, 445, 37}},
        {TControlId::Label2, {false, 6, 58, 21, 13}},
        {TControlId::Memo1, {false, 6, 76, 445, 103}},
        {TControlId::Label1, {false, 86, 56, 35, 13}},
        {TControlId::Memo3, {false, 126, 60, 445, 101}},
        {TControlId::Button1, {false, 243, 60, 94, 25}},
        {TControlId::Button2, {false, 345, 60, 109, 25}},
    };
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
