// What the Windows process entry takes from the system: its parameters and its own path.
#pragma once

#include <string>
#include <vector>

namespace vendilox::platform::win32 {

// The parameters from GetCommandLineW, converted to Windows-1250 and split as the program splits
// every Windows command line, without the program name.
std::vector<std::string> CommandLineParams();

// The executable's own full path from GetModuleFileNameW, in Windows-1250; empty when the system
// does not tell it.
std::string ExecutablePath();

}  // namespace vendilox::platform::win32
