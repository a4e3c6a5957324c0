// The process entry: single-instance guard, application title, main window, message loop,
// exit code.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace vendilox {

// Runs the program on a platform backend and returns the process exit code. params are the
// command-line parameters without the program name; exePath is the executable's own full path.
// Both are Windows-1250.
int RunVendilox(platform::IPlatform& platform, std::vector<std::string> params,
                std::string exePath);

}  // namespace vendilox
