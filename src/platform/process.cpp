#include "platform/process.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vendilox::platform {

std::uint64_t CurrentProcessId() {
#ifdef _WIN32
    return ::GetCurrentProcessId();
#else
    return static_cast<std::uint64_t>(::getpid());
#endif
}

}  // namespace vendilox::platform
