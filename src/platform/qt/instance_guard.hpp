// The system-wide guard that keeps a second instance of the program from running.
#pragma once

#include <string_view>

#include "platform/application.hpp"

namespace vendilox::platform::qt {

// On Linux the name is bound as an abstract Unix socket: binding a taken name fails with
// EADDRINUSE, and the system frees the name when the process ends, however it ends, so a
// crashed instance never blocks the next one. On Windows it is the named mutex.
class SingleInstanceGuard final : public ISingleInstanceGuard {
  public:
    SingleInstanceGuard() = default;
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;
    ~SingleInstanceGuard() override { Release(); }

    // A guard that holds a name gives it back before it takes the new one.
    TState Create(std::string_view name) override;
    void Release() override;

  private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace vendilox::platform::qt
