// Helpers shared by the protocol tests: an independent checksum, frame builders and hosts that
// record what the protocol code asks of them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/frame.hpp"
#include "protocol/host.hpp"

namespace vendilox::test {

// CRC-16 with polynomial 0x1021, bit by bit: nothing shared with the table-driven code.
inline std::uint16_t BitwiseCrc16(std::string_view bytes) {
    std::uint32_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
            crc &= 0xFFFF;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

// STX + header + FS before every field + ETX.
inline std::string MakeFrame(std::string_view header,
                             std::initializer_list<std::string_view> fields) {
    std::string frame(1, STX);
    frame.append(header);
    for (auto field : fields) {
        frame.push_back(FS);
        frame.append(field);
    }
    frame.push_back(ETX);
    return frame;
}

class RecordingProtocolHost : public IProtocolHost {
  public:
    struct Box {
        std::string Caption;
        std::string Text;
    };
    void LogLine(std::string_view line) override { Log.emplace_back(line); }
    void ShowInputError(std::string_view caption, std::string_view text) override {
        Boxes.push_back({std::string(caption), std::string(text)});
    }

    std::vector<std::string> Log;
    std::vector<Box> Boxes;
};

}  // namespace vendilox::test
