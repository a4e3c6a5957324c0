// The running process, as the system knows it.
#pragma once

#include <cstdint>

namespace vendilox::platform {

// The system's id of this process; the journal tells runs apart by it and their start.
std::uint64_t CurrentProcessId();

}  // namespace vendilox::platform
