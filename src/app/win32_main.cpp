// The executable on Windows: the Win32 platform and the program's entry.
#include <windows.h>

#include "control/Entry.hpp"
#include "platform/win32/entry.hpp"
#include "platform/win32/platform.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace vendilox::platform::win32;
    Win32Platform platform;
    return vendilox::RunVendilox(platform, CommandLineParams(), ExecutablePath());
}
