// The Windows-1250 code page: the one table of the program, its conversions to and from UTF-8,
// and a compile-time conversion for the program's own Czech texts, which are written readably in
// the UTF-8 source and held as Windows-1250 bytes everywhere inside the program.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vendilox {

namespace cp1250 {

// Unicode code points of the bytes 0x80 to 0xFF. The five bytes that Windows-1250 leaves undefined
// (0x81, 0x83, 0x88, 0x90, 0x98) map to the C1 control of the same value, so that every byte
// string converts to UTF-8 and back unchanged.
inline constexpr std::array<char32_t, 128> kHighHalf = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

// The Unicode code point of one Windows-1250 byte.
constexpr char32_t ToUnicode(unsigned char byte) noexcept {
    return byte < 0x80 ? char32_t{byte} : kHighHalf[byte - 0x80];
}

// The Windows-1250 byte of a code point, or -1 when the code page has none.
constexpr int FromUnicode(char32_t cp) noexcept {
    if (cp < 0x80)
        return static_cast<int>(cp);
    for (std::size_t i = 0; i < kHighHalf.size(); ++i) {
        if (kHighHalf[i] == cp)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

// Decodes one UTF-8 sequence at text[i]; returns the code point and moves i past it, or returns
// U+FFFD and moves i by one byte for a malformed sequence.
constexpr char32_t DecodeUtf8(std::string_view text, std::size_t& i) noexcept {
    auto b0 = static_cast<unsigned char>(text[i]);
    auto cont = [&](std::size_t k) -> int {
        if (i + k >= text.size())
            return -1;
        auto b = static_cast<unsigned char>(text[i + k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        int c1 = cont(1);
        if (c1 >= 0) {
            i += 2;
            return (char32_t(b0 & 0x1F) << 6) | char32_t(c1);
        }
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        int c1 = cont(1), c2 = cont(2);
        if (c1 >= 0 && c2 >= 0) {
            char32_t cp = (char32_t(b0 & 0x0F) << 12) | (char32_t(c1) << 6) | char32_t(c2);
            if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
                i += 3;
                return cp;
            }
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        int c1 = cont(1), c2 = cont(2), c3 = cont(3);
        if (c1 >= 0 && c2 >= 0 && c3 >= 0) {
            char32_t cp = (char32_t(b0 & 0x07) << 18) | (char32_t(c1) << 12) | (char32_t(c2) << 6) |
                          char32_t(c3);
            if (cp >= 0x10000 && cp <= 0x10FFFF) {
                i += 4;
                return cp;
            }
        }
    }
    ++i;
    return 0xFFFD;
}

// A UTF-8 string literal usable as a template argument.
template <std::size_t N>
struct Utf8Literal {
    char bytes[N]{};
    consteval Utf8Literal(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i)
            bytes[i] = s[i];
    }
    constexpr std::string_view view() const { return {bytes, N - 1}; }
};

template <std::size_t N>
struct Encoded {
    char bytes[N]{};
    std::size_t size = 0;
};

template <Utf8Literal S>
consteval auto EncodeLiteral() {
    Encoded<sizeof(S.bytes)> out{};
    std::string_view text = S.view();
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = DecodeUtf8(text, i);
        int byte = FromUnicode(cp);
        if (cp == 0xFFFD || byte < 0) {
            // Reached only at compile time: the literal has a character Windows-1250 lacks.
            throw "text has a character that Windows-1250 cannot hold";
        }
        out.bytes[out.size++] = static_cast<char>(byte);
    }
    return out;
}

template <Utf8Literal S>
inline constexpr auto kEncoded = EncodeLiteral<S>();

}  // namespace cp1250

// Converts a Windows-1250 byte string to UTF-8, every byte included.
std::string Cp1250ToUtf8(std::string_view text);

// Converts UTF-8 to Windows-1250; a character the code page lacks, or a malformed sequence,
// becomes replacement.
std::string Utf8ToCp1250(std::string_view text, char replacement = '?');

inline namespace literals {
// "Nákup"_w1250 is the Windows-1250 form of the text, converted by the compiler.
template <cp1250::Utf8Literal S>
consteval std::string_view operator""_w1250() {
    return {cp1250::kEncoded<S>.bytes, cp1250::kEncoded<S>.size};
}
}  // namespace literals

}  // namespace vendilox
