#include "platform/win32/application.hpp"

#include "platform/win32/text.hpp"

namespace vendilox::platform::win32 {

UINT Win32MessageBox::Flags(TBoxIcon icon, TBoxOwner owner) {
    UINT flags = MB_OK;
    switch (icon) {
        case TBoxIcon::Information:
            flags |= MB_ICONINFORMATION;
            break;
        case TBoxIcon::Warning:
            flags |= MB_ICONWARNING;
            break;
        case TBoxIcon::Error:
            flags |= MB_ICONERROR;
            break;
    }
    if (owner == TBoxOwner::TaskModal)
        flags |= MB_TASKMODAL;
    return flags;
}

void Win32MessageBox::Show(std::string_view caption, std::string_view text, TBoxIcon icon,
                           TBoxOwner owner) {
    if (echo_) {
        std::string line(caption);
        line += ": ";
        line += text;
        echo_("box", line);
        return;
    }
    HWND parent = owner == TBoxOwner::Window && owner_ ? owner_() : nullptr;
    ::MessageBoxW(parent, Wide(text).c_str(), Wide(caption).c_str(), Flags(icon, owner));
}

Win32Application::Win32Application(IMessageBox& boxes)
    : boxes_(boxes), thread_(::GetCurrentThreadId()) {}

void Win32Application::SetTitle(std::string_view title) {
    title_ = title;
    if (onTitle_)
        onTitle_(title_);
}

void Win32Application::Run() {
    if (showMain_)
        showMain_();  // raises the first show event
    // The first show event may already have ended the run (a failed parameter check).
    while (!terminated_) {
        MSG message;
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0)
            break;  // WM_QUIT, or the queue is gone: nothing more can come
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void Win32Application::Terminate() {
    terminated_ = true;
    // Wakes the loop, which looks at the flag before it waits again; the handler that asked
    // goes on to its end first.
    ::PostThreadMessageW(thread_, WM_NULL, 0, 0);
}

void Win32Application::ShowException(std::string_view message) {
    boxes_.Show(title_, ExceptionText(message), TBoxIcon::Error, TBoxOwner::Window);
}

TDateTime Win32Clock::LocalNow() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return TDateTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                     now.wMinute, now.wSecond, now.wMilliseconds};
}

void Win32Clock::BlockingWait(std::uint32_t ms) {
    ::Sleep(ms);
}

}  // namespace vendilox::platform::win32
