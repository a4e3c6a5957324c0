#include "frame.hpp"

namespace vendilox {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string Hex4(std::uint32_t value) {
    std::string out(4, '0');
    for (int i = 3; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kHexDigits[value & 0xF];
        value >>= 4;
    }
    return out;
}

}  // namespace

std::uint16_t Crc16(std::uint16_t initial, std::uint16_t count,
                    const unsigned char* bytes) noexcept {
    std::uint16_t crc = initial;
    for (std::uint16_t i = 0; i < count; ++i) {
        const unsigned index = ((crc >> 8) ^ bytes[i]) & 0xFFu;
        crc = static_cast<std::uint16_t>(kCrc16Table[index] ^ ((crc << 8) & 0xFFFFu));
    }
    return crc;
}

std::uint16_t Crc16(std::string_view bytes) noexcept {
    // Frames are far below 64 KiB; a longer span is still checksummed whole rather than cut.
    std::uint16_t crc = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) {
        const auto piece = static_cast<std::uint16_t>(left > 0xFFFF ? 0xFFFF : left);
        crc = Crc16(crc, piece, data);
        data += piece;
        left -= piece;
    }
    return crc;
}

std::string CrcText(std::uint16_t crc) {
    return Hex4(crc);
}

std::string LengthText(std::size_t length) {
    return Hex4(static_cast<std::uint32_t>(length & 0xFFFF));
}

std::string HexDump(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(kHexDigits[b >> 4]);
        out.push_back(kHexDigits[b & 0xF]);
    }
    return out;
}

}  // namespace vendilox
