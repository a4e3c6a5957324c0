// The frame every message with the terminal travels in: STX, a 36-byte header, an optional body
// of fields that each open with FS, and ETX; plus the body checksum and the texts the header
// carries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vendilox {

inline constexpr char STX = '\x02';
inline constexpr char ETX = '\x03';
inline constexpr char FS = '\x1C';

// Header layout. Positions are 1-based within the header; header position h is frame
// position h + 1.
namespace header {
inline constexpr std::size_t kLength = 36;
inline constexpr std::size_t kIdentifierPos = 1, kIdentifierWidth = 4;
inline constexpr std::size_t kTerminalIdPos = 5, kTerminalIdWidth = 8;
inline constexpr std::size_t kDateTimePos = 13, kDateTimeWidth = 12;
inline constexpr std::size_t kFlagsPos = 25, kFlagsWidth = 4;
inline constexpr std::size_t kBodyLengthPos = 29, kBodyLengthWidth = 4;
inline constexpr std::size_t kBodyCrcPos = 33, kBodyCrcWidth = 4;
}  // namespace header

// Frame position of the body's opening FS; the text of the fields starts right after it.
inline constexpr std::size_t kBodyFramePos = 38;
// STX + header + ETX: an activity confirmation, or the program's confirmation frame.
inline constexpr std::size_t kHeaderOnlyFrameLength = 38;

// The standard table of CRC-16 with polynomial 0x1021, built by the compiler.
inline constexpr std::array<std::uint16_t, 256> kCrc16Table = [] {
    std::array<std::uint16_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t reg = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x8000) ? ((reg << 1) ^ 0x1021) : (reg << 1);
        table[i] = static_cast<std::uint16_t>(reg & 0xFFFF);
    }
    return table;
}();

// CRC-16/XMODEM of the first count bytes, starting from initial.
std::uint16_t Crc16(std::uint16_t initial, std::uint16_t count,
                    const unsigned char* bytes) noexcept;

// CRC-16/XMODEM of a whole span, starting from 0: what every caller of the program needs.
std::uint16_t Crc16(std::string_view bytes) noexcept;

// The checksum as exactly four upper-case hexadecimal digits ("0000" to "FFFF").
std::string CrcText(std::uint16_t crc);

// A body length as four upper-case hexadecimal digits ("0009", "003A").
std::string LengthText(std::size_t length);

// Two upper-case hexadecimal digits for every byte, nothing between them.
std::string HexDump(std::string_view text);

}  // namespace vendilox
