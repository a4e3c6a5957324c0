// The system-wide guard that keeps a second instance of the program from running: a named mutex.
#pragma once

#include <string_view>

#include "platform/application.hpp"

namespace vendilox::platform::win32 {

// The mutex is created owned by this process; ERROR_ALREADY_EXISTS means that another process
// holds the name. The system closes the handle when the process ends, however it ends, so a
// crashed instance never blocks the next one.
class Win32InstanceGuard final : public ISingleInstanceGuard {
  public:
    Win32InstanceGuard() = default;
    Win32InstanceGuard(const Win32InstanceGuard&) = delete;
    Win32InstanceGuard& operator=(const Win32InstanceGuard&) = delete;
    ~Win32InstanceGuard() override { Release(); }

    // A guard that holds a name gives it back before it takes the new one.
    TState Create(std::string_view name) override;
    void Release() override;

  private:
    void* handle_ = nullptr;
};

}  // namespace vendilox::platform::win32
