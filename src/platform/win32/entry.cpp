#include "platform/win32/entry.hpp"

#include <windows.h>

#include "control/CommandLine.hpp"
#include "platform/win32/text.hpp"

namespace vendilox::platform::win32 {

std::vector<std::string> CommandLineParams() {
    std::vector<std::string> params = SplitWindowsCommandLine(Narrow(::GetCommandLineW()));
    if (!params.empty())
        params.erase(params.begin());  // the program name
    return params;
}

std::string ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return Narrow(path);
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
}

}  // namespace vendilox::platform::win32
