#include "platform/win32/application_window.hpp"

#include <stdexcept>

#include "platform/win32/text.hpp"

namespace vendilox::platform::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TApplication";

}  // namespace

ApplicationWindow::ApplicationWindow() {
    static const ATOM atom = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &ApplicationWindow::Procedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kClassName;
        return ::RegisterClassExW(&windowClass);
    }();
    if (atom == 0)
        throw std::runtime_error("The application window class cannot be registered");
    const int x = ::GetSystemMetrics(SM_CXSCREEN) / 2;
    const int y = ::GetSystemMetrics(SM_CYSCREEN) / 2;
    hwnd_ =
        ::CreateWindowExW(0, kClassName, L"", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                          x, y, 0, 0, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (hwnd_ == nullptr)
        throw std::runtime_error("The application window cannot be created");
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

ApplicationWindow::~ApplicationWindow() {
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    ::DestroyWindow(hwnd_);
}

void ApplicationWindow::SetTitle(std::string_view cp1250Title) {
    ::SetWindowTextW(hwnd_, Wide(cp1250Title).c_str());
}

void ApplicationWindow::Show() {
    // Without a size it is not drawn; it only carries the taskbar entry.
    ::SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

LRESULT CALLBACK ApplicationWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    auto* self = reinterpret_cast<ApplicationWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self != nullptr && message == WM_CLOSE) {
        // Never DefWindowProc, which would destroy the owner and Form1 with it.
        if (self->onClose_)
            self->onClose_();
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace vendilox::platform::win32
