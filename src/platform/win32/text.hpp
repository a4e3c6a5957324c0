// Texts at the edge of the Windows API: the program holds Windows-1250 bytes, the wide (W)
// functions take UTF-16. Converting with code page 1250 explicitly keeps the program independent
// of the system's ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace vendilox::platform::win32 {

// The UTF-16 text of Windows-1250 bytes; every byte has a character, so nothing is lost.
std::wstring Wide(std::string_view cp1250Text);

// The Windows-1250 bytes of a UTF-16 text. A character the code page lacks becomes "?" rather
// than a look-alike, so that what the program sends is never silently a different text.
std::string Narrow(std::wstring_view text);

// The text of Windows-1250 bytes for display. With controlPictures the bytes 0x00 to 0x1F and
// 0x7F are drawn as their Unicode control pictures, so that STX, FS and ETX in a log line are
// visible and a CR or LF does not break the line.
std::wstring DisplayText(std::string_view cp1250Text, bool controlPictures);

// The system's message for an error code, in Windows-1250, without its line end.
std::string SystemErrorText(unsigned long code);

}  // namespace vendilox::platform::win32
