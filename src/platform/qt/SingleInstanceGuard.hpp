// The system-wide guard that keeps a second instance from running.
#pragma once

#include <string_view>

#include "platform/application.hpp"

namespace vendilox::platform::qt {

// On Linux the guard is a Unix socket bound to the name in the abstract namespace: binding a
// name that is bound already fails, and the system frees the name when its process ends however
// it ends, so a crashed instance never blocks the next one. On Windows it is a named mutex.
class SingleInstanceGuard : public ISingleInstanceGuard {
  public:
    SingleInstanceGuard() = default;
    ~SingleInstanceGuard() override { Release(); }
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    // A guard that holds a name already gives it back first.
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
