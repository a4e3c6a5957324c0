#include "platform/win32/text.hpp"

#include <windows.h>

namespace vendilox::platform::win32 {

std::wstring Wide(std::string_view cp1250Text) {
    if (cp1250Text.empty())
        return {};
    const int size = static_cast<int>(cp1250Text.size());
    const int length = ::MultiByteToWideChar(1250, 0, cp1250Text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(1250, 0, cp1250Text.data(), size, text.data(), length);
    return text;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(1250, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr,
                                             0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string bytes(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(1250, WC_NO_BEST_FIT_CHARS, text.data(), size, bytes.data(), length,
                          nullptr, nullptr);
    return bytes;
}

std::wstring DisplayText(std::string_view cp1250Text, bool controlPictures) {
    std::wstring text = Wide(cp1250Text);
    if (!controlPictures)
        return text;
    for (wchar_t& c : text) {
        if (c < 0x20)
            c = static_cast<wchar_t>(0x2400 + c);
        else if (c == 0x7F)
            c = 0x2421;
    }
    return text;
}

std::string SystemErrorText(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring message = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
    if (buffer != nullptr)
        ::LocalFree(buffer);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    if (message.empty())
        return "system error " + std::to_string(code);
    return Narrow(message) + " (" + std::to_string(code) + ")";
}

}  // namespace vendilox::platform::win32
