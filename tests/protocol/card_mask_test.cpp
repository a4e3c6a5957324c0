// Card numbers masked in frames and in streams of chunks: no stored byte may complete a card
// number, and every other byte of a frame must survive unchanged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/card_mask.hpp"
#include "support.hpp"

namespace vendilox {
namespace {

using test::MakeFrame;

const std::string kHeader = "B00187654321180816143005000100421A2B";

struct TNumberCase {
    const char* Name;
    std::string Number;
    std::string Masked;
};

class MaskCardNumberTest : public ::testing::TestWithParam<TNumberCase> {};

TEST_P(MaskCardNumberTest, KeepsFirstSixAndLastFour) {
    EXPECT_EQ(MaskCardNumber(GetParam().Number), GetParam().Masked);
    // The same number as a field of a frame: only the field changes.
    const std::string frame = MakeFrame(kHeader, {"R000", "P" + GetParam().Number, "B100"});
    EXPECT_EQ(MaskCardNumbers(frame),
              MakeFrame(kHeader, {"R000", "P" + GetParam().Masked, "B100"}));
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, MaskCardNumberTest,
    ::testing::Values(
        TNumberCase{"sixteen_digits", "4111111111111111", "411111******1111"},
        TNumberCase{"nineteen_digits", "6011000990139424123", "601100*********4123"},
        TNumberCase{"thirteen_digits", "4222222222222", "422222***2222"},
        TNumberCase{"already_masked", "411111******1111", "411111******1111"},
        TNumberCase{"masked_by_the_terminal_otherwise", "******1234", "******1234"},
        TNumberCase{"ten_characters_hide_nothing", "4111111111", "4111111111"},
        // The parser holds the first 19 characters; beyond them every digit is hidden.
        TNumberCase{"longer_than_the_parser_reads", "4111111111111111111222333",
                    "411111*********1111******"},
        TNumberCase{"blanks_and_letters_stay", "4111 1111 1111 1111", "4111 1*** **** 1111"},
        TNumberCase{"empty", "", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(MaskCardNumbersTest, TouchesOnlyTheValuesOfPFields) {
    // Digits in the header, in other fields and a 'P' that is not a tag all stay.
    const std::string frame =
        MakeFrame(kHeader, {"B0000000012345678901", "L4111111111111111", "SP4111111111111111"});
    EXPECT_EQ(MaskCardNumbers(frame), frame);
    // Two P fields, an unterminated last one included.
    const std::string two = std::string(1, FS) + "P4111111111111111" + FS + "P5500000000000004";
    EXPECT_EQ(MaskCardNumbers(two),
              std::string(1, FS) + "P411111******1111" + FS + "P550000******0004");
}

TEST(MaskCardNumbersTest, TheParsersNumberMaskedShowsNoMoreThanTheMaskedField) {
    const std::string field = "4111111111111111111222333";
    const std::string maskedField = MaskCardNumber(field);
    EXPECT_EQ(MaskCardNumber(field.substr(0, kCardNumberLength)),
              maskedField.substr(0, kCardNumberLength));
}

// The stream, cut at every pair of places: what comes out, in order, is the whole masked, and
// nothing comes out before the number around it has ended.
TEST(TCardMaskStreamTest, AnyCutGivesTheWholeMaskedOnce) {
    const std::string stream =
        MakeFrame("B00187654321180816143005000000000000", {}) +
        MakeFrame(kHeader, {"R000", "P4111111111111111", "F12345678", "P5500000000000004"});
    const std::string whole = MaskCardNumbers(stream);
    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); ++b) {
            TCardMaskStream s;
            std::string out;
            for (const std::string& chunk :
                 {stream.substr(0, a), stream.substr(a, b - a), stream.substr(b)}) {
                s.Append(chunk);
                out += s.Take(s.Settled());
            }
            ASSERT_EQ(s.Pending(), 0u) << a << " " << b;
            ASSERT_EQ(out, whole) << a << " " << b;
        }
    }
}

TEST(TCardMaskStreamTest, HoldsAnOpenNumberAndMasksItWhenForced) {
    TCardMaskStream s;
    const std::string begin = std::string(1, FS) + "P4111111111";
    s.Append(begin);
    EXPECT_EQ(s.Settled(), 2u);  // FS and the tag
    // Taken before its end, the number shows only its first six.
    EXPECT_EQ(s.Take(s.Pending()), std::string(1, FS) + "P411111****");
    // Its rest, once it has ended, keeps the last four.
    s.Append(std::string("111111") + ETX);
    EXPECT_EQ(s.Settled(), 7u);
    EXPECT_EQ(s.Take(s.Settled()), std::string("**1111") + ETX);
}

}  // namespace
}  // namespace vendilox
