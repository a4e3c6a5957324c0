#include "platform/unattended.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "protocol/cp1250.hpp"

namespace vendilox::platform {

bool UnattendedMode() {
    const char* value = std::getenv(kUnattendedVariable);
    return value != nullptr && std::string_view(value) == "1";
}

std::string UnattendedLine(std::string_view kind, std::string_view cp1250Text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line(kind);
    line += ": ";
    std::string plain;  // a run of bytes that need no escape, converted as a whole
    auto flush = [&] {
        line += Cp1250ToUtf8(plain);
        plain.clear();
    };
    for (char c : cp1250Text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            flush();
            line += "\\x";
            line += kHex[byte >> 4];
            line += kHex[byte & 0x0F];
        } else if (c == '\\') {
            flush();
            line += "\\\\";
        } else {
            plain.push_back(c);
        }
    }
    flush();
    return line;
}

void WriteUnattendedLine(std::string_view kind, std::string_view cp1250Text) {
    std::string line = UnattendedLine(kind, cp1250Text);
    line.push_back('\n');
    std::string_view rest = line;
    while (!rest.empty()) {
        ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;  // standard error is gone; there is nobody left to tell
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace vendilox::platform
