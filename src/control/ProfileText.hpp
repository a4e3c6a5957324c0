// The text of a profile file as the Windows profile functions take it: a file that begins with a
// byte-order mark is Unicode (UTF-8, UTF-16 little- or big-endian), read as UTF-16 and handed to
// the program in Windows-1250 the way the system converts it to its ANSI code page; any other file
// is Windows-1250 bytes as they are.
#pragma once

#include <string>
#include <string_view>

namespace vendilox {

enum class TProfileEncoding { Ansi, Utf8, Utf16Le, Utf16Be };

// The encoding a file's first bytes announce, and the length of that mark.
TProfileEncoding DetectProfileEncoding(std::string_view bytes);
std::size_t ByteOrderMarkLength(TProfileEncoding encoding);

// The UTF-16 text of a Unicode file's bytes after the mark. A malformed UTF-8 sequence becomes
// U+FFFD; a last odd byte of a UTF-16 file is taken as a character of its own.
std::u16string DecodeProfileText(std::string_view bytes, TProfileEncoding encoding);
// The bytes of a Unicode file, its mark included.
std::string EncodeProfileText(std::u16string_view text, TProfileEncoding encoding);

// UTF-16 to Windows-1250 unit by unit, as the system converts to that code page: a character the
// code page has, else its nearest character where the system names one (U+00F1 gives 'n'), else
// '?'. A surrogate pair gives two '?'.
std::string Utf16ToCp1250(std::u16string_view text);
std::u16string Cp1250ToUtf16(std::string_view text);

}  // namespace vendilox
