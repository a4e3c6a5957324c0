// Text helpers shared by the whole program. Texts are single-byte Windows-1250 strings and every
// position is 1-based and counts bytes, as the terminal protocol and the result file count them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vendilox {

// Raised when a text that must be an integer is not one. The message is the one the POS
// integrators already know from the program: "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Raised when a character is read at a position outside a text.
class ERangeError : public std::runtime_error {
  public:
    ERangeError() : std::runtime_error("Range check error") {}
};

// Reads an integer: leading blanks (code 32) are skipped, then either an optional sign and
// decimal digits within the signed 32-bit range, or hexadecimal digits after "$", "x", "X",
// "0x" or "0X" whose value fits in 32 bits (taken as the bit pattern of a signed value). The
// whole text must be used up; anything else raises EConvertError.
std::int32_t StrToInt(std::string_view text);

// The same rules without the exception; false leaves value untouched.
bool TryStrToInt(std::string_view text, std::int32_t& value) noexcept;

// The lenient value of a code text of a response: leading white space, an optional sign, then
// decimal digits up to the first other character. A text without digits is 0. Saturates
// instead of overflowing.
std::int32_t CodeValue(std::string_view text) noexcept;

// At most count characters from position start on; empty when start lies beyond the end or
// count is 0 or less; never an error.
std::string Substring(std::string_view text, std::int64_t start, std::int64_t count);

// Puts piece in front of the character at position: below 1 counts as 1, beyond the end appends.
std::string Insert(std::string_view piece, std::string_view text, std::int64_t position);

// The character at position; ERangeError when position is below 1 or beyond the end.
char CharAt(std::string_view text, std::int64_t position);

// ASCII letters compared without regard to case; other bytes compared as they are.
bool StartsWithNoCase(std::string_view text, std::string_view prefix) noexcept;
bool EqualsNoCase(std::string_view a, std::string_view b) noexcept;

}  // namespace vendilox
