#include "text.hpp"

#include <limits>

namespace vendilox {

namespace {

int HexDigitValue(char c) noexcept {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char AsciiLower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool TryStrToInt(std::string_view text, std::int32_t& value) noexcept {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::string_view rest = text.substr(i);

    std::size_t hexStart = 0;
    if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
        hexStart = 1;
    } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        hexStart = 2;
    }
    if (hexStart != 0) {
        std::string_view digits = rest.substr(hexStart);
        if (digits.empty())
            return false;
        std::uint64_t v = 0;
        for (char c : digits) {
            int d = HexDigitValue(c);
            if (d < 0)
                return false;
            v = v * 16 + static_cast<std::uint64_t>(d);
            if (v > 0xFFFFFFFFull)
                return false;
        }
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        return true;
    }

    bool negative = false;
    std::size_t j = 0;
    if (j < rest.size() && (rest[j] == '+' || rest[j] == '-')) {
        negative = rest[j] == '-';
        ++j;
    }
    if (j == rest.size())
        return false;
    std::int64_t v = 0;
    for (; j < rest.size(); ++j) {
        char c = rest[j];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v > std::numeric_limits<std::int32_t>::max() ||
        v < std::numeric_limits<std::int32_t>::min())
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

std::int32_t StrToInt(std::string_view text) {
    std::int32_t value = 0;
    if (!TryStrToInt(text, value)) {
        throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
    }
    return value;
}

std::int32_t CodeValue(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (v < 2147483648LL)
            v = v * 10 + (text[i] - '0');
    }
    if (negative)
        v = -v;
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

std::string Substring(std::string_view text, std::int64_t start, std::int64_t count) {
    if (count <= 0)
        return {};
    if (start < 1) {
        // A start before the first character still counts the characters it skips.
        count += start - 1;
        start = 1;
        if (count <= 0)
            return {};
    }
    auto begin = static_cast<std::uint64_t>(start - 1);
    if (begin >= text.size())
        return {};
    return std::string(
        text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(count)));
}

std::string Insert(std::string_view piece, std::string_view text, std::int64_t position) {
    std::size_t at = 0;
    if (position > 1) {
        at = static_cast<std::uint64_t>(position - 1) > text.size()
                 ? text.size()
                 : static_cast<std::size_t>(position - 1);
    }
    std::string out;
    out.reserve(text.size() + piece.size());
    out.append(text.substr(0, at));
    out.append(piece);
    out.append(text.substr(at));
    return out;
}

char CharAt(std::string_view text, std::int64_t position) {
    if (position < 1 || static_cast<std::uint64_t>(position) > text.size())
        throw ERangeError();
    return text[static_cast<std::size_t>(position - 1)];
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) noexcept {
    if (prefix.size() > text.size())
        return false;
    return EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

}  // namespace vendilox
