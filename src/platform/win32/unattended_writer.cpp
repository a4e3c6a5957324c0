#include "platform/win32/unattended_writer.hpp"

#include <windows.h>

#include <string>

#include "platform/unattended.hpp"

namespace vendilox::platform::win32 {

void WriteUnattendedLine(std::string_view kind, std::string_view cp1250Text) {
    std::string line = UnattendedLine(kind, cp1250Text);
    line.push_back('\n');
    HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE)
        return;
    std::string_view rest = line;
    while (!rest.empty()) {
        DWORD written = 0;
        if (!::WriteFile(error, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) ||
            written == 0) {
            return;  // standard error is gone; there is nobody left to tell
        }
        rest.remove_prefix(written);
    }
}

}  // namespace vendilox::platform::win32
