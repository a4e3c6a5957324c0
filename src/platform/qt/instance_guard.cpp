#include "platform/qt/instance_guard.hpp"

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#endif

namespace vendilox::platform::qt {

#ifdef _WIN32

ISingleInstanceGuard::TState SingleInstanceGuard::Create(std::string_view name) {
    Release();
    const std::string mutexName(name);
    HANDLE handle = ::CreateMutexA(nullptr, TRUE, mutexName.c_str());
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

void SingleInstanceGuard::Release() {
    if (handle_ == nullptr)
        return;
    ::ReleaseMutex(static_cast<HANDLE>(handle_));
    ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

#else

ISingleInstanceGuard::TState SingleInstanceGuard::Create(std::string_view name) {
    Release();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // The abstract namespace: a leading zero byte, then the name, which need not end in one.
    if (name.empty() || name.size() > sizeof address.sun_path - 1)
        return TState::Unavailable;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return TState::Unavailable;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        const int code = errno;
        ::close(fd);
        return code == EADDRINUSE ? TState::AlreadyExists : TState::Unavailable;
    }
    fd_ = fd;
    return TState::Owned;
}

void SingleInstanceGuard::Release() {
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
}

#endif

}  // namespace vendilox::platform::qt
