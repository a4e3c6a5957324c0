#include "platform/win32/instance_guard.hpp"

#include <windows.h>

#include "platform/win32/text.hpp"

namespace vendilox::platform::win32 {

ISingleInstanceGuard::TState Win32InstanceGuard::Create(std::string_view name) {
    Release();
    // A name with a zero byte inside would be cut short by the system and guard another name.
    if (name.find('\0') != std::string_view::npos)
        return TState::Unavailable;
    HANDLE handle = ::CreateMutexW(nullptr, TRUE, Wide(name).c_str());
    if (handle == nullptr)
        return TState::Unavailable;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        // The handle opens the other instance's mutex; this process never owns it.
        ::CloseHandle(handle);
        return TState::AlreadyExists;
    }
    handle_ = handle;
    return TState::Owned;
}

void Win32InstanceGuard::Release() {
    if (handle_ == nullptr)
        return;
    ::ReleaseMutex(static_cast<HANDLE>(handle_));
    ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

}  // namespace vendilox::platform::win32
