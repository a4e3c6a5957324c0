#include "protocol/frame.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support.hpp"

namespace vendilox {
namespace {

using test::BitwiseCrc16;

std::string RandomBytes(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(byte(rng));
    return s;
}

TEST(Crc16, TableIsTheStandardOne) {
    EXPECT_EQ(kCrc16Table[0], 0x0000);
    EXPECT_EQ(kCrc16Table[1], 0x1021);
    EXPECT_EQ(kCrc16Table[2], 0x2042);
    EXPECT_EQ(kCrc16Table[255], 0x1EF0);
    // Entry i is the checksum of the single byte i.
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(kCrc16Table[static_cast<std::size_t>(i)],
                  BitwiseCrc16(std::string(1, static_cast<char>(i))))
            << i;
    }
}

TEST(Crc16, KnownTexts) {
    const struct {
        std::string Bytes;
        const char* Text;
    } cases[] = {
        {"123456789", "31C3"},
        {"", "0000"},
        {"\x1C", "D3BD"},
        {"\x1CT00\x1C"
         "B100",
         "9930"},
        {"\x1CT00\x1C"
         "B100\x1CS2018001",
         "7286"},
        {"\x1CT60\x1CL0010010000+0000000000000000000000+000000000000000000", "844B"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CrcText(Crc16(c.Bytes)), c.Text) << c.Bytes;
}

TEST(Crc16, AgreesWithBitwiseOnRandomData) {
    std::mt19937 rng(20180816);
    std::uniform_int_distribution<std::size_t> length(0, 600);
    for (int round = 0; round < 300; ++round) {
        const std::string data = RandomBytes(rng, length(rng));
        EXPECT_EQ(Crc16(data), BitwiseCrc16(data)) << "length " << data.size();
    }
    // Longer than the 16-bit count of one call: checksummed whole, not cut.
    const std::string big = RandomBytes(rng, 70000);
    EXPECT_EQ(Crc16(big), BitwiseCrc16(big));
}

TEST(Crc16, CountAndInitialValue) {
    const std::string data = "123456789abc";
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    EXPECT_EQ(Crc16(0, 9, bytes), 0x31C3) << "only count bytes are covered";
    EXPECT_EQ(Crc16(0, 0, bytes), 0);
    // Continuing from a checksum gives the checksum of the joined bytes.
    const std::uint16_t head = Crc16(0, 5, bytes);
    EXPECT_EQ(Crc16(head, 7, bytes + 5), BitwiseCrc16(data));
}

TEST(HeaderTexts, FourUpperCaseDigits) {
    EXPECT_EQ(CrcText(0), "0000");
    EXPECT_EQ(CrcText(0xABCD), "ABCD");
    EXPECT_EQ(CrcText(0x00F0), "00F0");
    EXPECT_EQ(LengthText(1), "0001");
    EXPECT_EQ(LengthText(9), "0009");
    EXPECT_EQ(LengthText(58), "003A");
}

TEST(HexDump, TwoDigitsPerByte) {
    EXPECT_EQ(HexDump("\x02"
                      "B001"),
              "0242303031");
    EXPECT_EQ(HexDump("\xE1"), "E1");
    EXPECT_EQ(HexDump(""), "");
    EXPECT_EQ(HexDump(std::string("\x00\x1C\x7F\x80\xFF", 5)), "001C7F80FF");
}

}  // namespace
}  // namespace vendilox
