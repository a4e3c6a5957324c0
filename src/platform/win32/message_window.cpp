#include "platform/win32/message_window.hpp"

#include <stdexcept>

namespace vendilox::platform::win32 {

namespace {

constexpr wchar_t kClassName[] = L"VendiloxMessageWindow";

ATOM RegisterOnce(WNDPROC procedure) {
    static const ATOM atom = [procedure] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kClassName;
        return ::RegisterClassExW(&windowClass);
    }();
    return atom;
}

}  // namespace

MessageWindow::MessageWindow() {
    if (RegisterOnce(&MessageWindow::Procedure) == 0)
        throw std::runtime_error("The message window class cannot be registered");
    hwnd_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    if (hwnd_ == nullptr)
        throw std::runtime_error("A message window cannot be created");
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageWindow::~MessageWindow() {
    // Messages still queued for the window are dropped with it.
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    ::DestroyWindow(hwnd_);
}

LRESULT CALLBACK MessageWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr)
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return self->OnMessage(message, wParam, lParam);
}

}  // namespace vendilox::platform::win32
