// The executable on Windows: the Win32 platform and the program's entry.
#include <windows.h>

#include <exception>
#include <string>

#include "control/Entry.hpp"
#include "platform/unattended.hpp"
#include "platform/win32/entry.hpp"
#include "platform/win32/platform.hpp"
#include "platform/win32/text.hpp"
#include "platform/win32/unattended_writer.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace vendilox::platform;
    try {
        win32::Win32Platform platform;
        return vendilox::RunVendilox(platform, win32::CommandLineParams(), win32::ExecutablePath());
    } catch (const std::exception& e) {
        // The platform itself could not be set up (no window class, no window): there is no
        // application object to show it, so it is shown here, and the run is a failure.
        const std::string text = ExceptionText(e.what());
        if (UnattendedMode()) {
            win32::WriteUnattendedLine("box", "Vendilox: " + text);
        } else {
            ::MessageBoxW(nullptr, win32::Wide(text).c_str(), L"Vendilox",
                          MB_OK | MB_ICONERROR | MB_TASKMODAL);
        }
        return 1;
    }
}
