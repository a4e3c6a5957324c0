#include "protocol/text.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace vendilox {
namespace {

struct IntCase {
    const char* Name;
    std::string Text;
    std::optional<std::int32_t> Value;  // empty: the text is refused
};

class StrToIntTest : public testing::TestWithParam<IntCase> {};

TEST_P(StrToIntTest, ReadsOrRefuses) {
    const IntCase& c = GetParam();
    std::int32_t value = 12345;
    const bool ok = TryStrToInt(c.Text, value);
    if (c.Value) {
        ASSERT_TRUE(ok);
        EXPECT_EQ(value, *c.Value);
        EXPECT_EQ(StrToInt(c.Text), *c.Value);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(value, 12345) << "a refused text must leave the value alone";
        EXPECT_THROW(StrToInt(c.Text), EConvertError);
    }
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Table, StrToIntTest,
    testing::Values(IntCase{"Zero", "0", 0}, IntCase{"LeadingZeros", "0100", 100},
                    IntCase{"LeadingBlanks", "   42", 42}, IntCase{"Plus", "+7", 7},
                    IntCase{"PlusZero", "+0", 0}, IntCase{"Minus", "-5", -5},
                    IntCase{"Max", "2147483647", kMax}, IntCase{"AboveMax", "2147483648", {}},
                    IntCase{"Min", "-2147483648", kMin}, IntCase{"BelowMin", "-2147483649", {}},
                    IntCase{"ZerosBeforeMax", "000000000002147483647", kMax},
                    IntCase{"FarTooLong", "99999999999999999999", {}}, IntCase{"Dollar", "$1F", 31},
                    IntCase{"LowerX", "x10", 16}, IntCase{"UpperX", "Xff", 255},
                    IntCase{"ZeroLowerX", "0xabcdef", 0xABCDEF},
                    IntCase{"ZeroUpperX", "0X7FFFFFFF", kMax},
                    IntCase{"HexAllOnes", "0xFFFFFFFF", -1},
                    IntCase{"HexAbove32Bits", "0x100000000", {}},
                    IntCase{"BlanksBeforeHex", "  $10", 16}, IntCase{"PrefixAlone", "$", {}},
                    IntCase{"ZeroXAlone", "0x", {}}, IntCase{"BadHexDigit", "$1G", {}},
                    IntCase{"SignBeforeHex", "-$10", {}}, IntCase{"Empty", "", {}},
                    IntCase{"BlanksOnly", "   ", {}}, IntCase{"PlusAlone", "+", {}},
                    IntCase{"MinusAlone", "-", {}}, IntCase{"TrailingBlank", "12 ", {}},
                    IntCase{"BlankAfterSign", "- 5", {}}, IntCase{"LeadingTab", "\t5", {}},
                    IntCase{"DecimalComma", "1,50", {}}, IntCase{"DecimalPoint", "1.50", {}},
                    IntCase{"Letters", "abc", {}}),
    [](const testing::TestParamInfo<IntCase>& info) { return std::string(info.param.Name); });

TEST(StrToIntMessage, QuotesTheWholeText) {
    try {
        StrToInt(" 1,50");
        FAIL() << "no error raised";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "' 1,50' is not a valid integer value");
    }
    try {
        StrToInt("");
        FAIL() << "no error raised";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
}

TEST(CodeValue, ReadsLeadingDigitsLeniently) {
    struct Case {
        std::string Text;
        std::int32_t Value;
    };
    const Case cases[] = {
        {"000", 0},
        {"0", 0},
        {"", 0},
        {"abc", 0},
        {"050", 50},
        {"001", 1},
        {"5", 5},
        {"-01", -1},
        {"+53", 53},
        {"  7x", 7},
        {"\t12", 12},
        {"-", 0},
        {"1 2", 1},
        {"99999999999", kMax},
        {"-99999999999", kMin},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CodeValue(c.Text), c.Value) << "'" << c.Text << "'";
}

TEST(Substring, NeverFailsAtTheEdges) {
    struct Case {
        std::int64_t Start, Count;
        std::string Expected;
    };
    const Case cases[] = {
        {1, 2, "ab"}, {2, 1, "b"}, {3, 5, "c"}, {1, 99, "abc"},
        {4, 1, ""},   {99, 1, ""}, {2, 0, ""},  {2, -1, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Substring("abc", c.Start, c.Count), c.Expected)
            << "start " << c.Start << ", count " << c.Count;
    }
    EXPECT_EQ(Substring("", 1, 5), "");
}

TEST(Insert, ClampsThePosition) {
    struct Case {
        std::string Text;
        std::int64_t Position;
        std::string Expected;
    };
    const Case cases[] = {
        {"12345", 4, "123,45"}, {"50", 1, ",50"}, {"5", 0, ",5"},    {"", -1, ","},
        {"ab", 2, "a,b"},       {"ab", 3, "ab,"}, {"ab", 99, "ab,"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Insert(",", c.Text, c.Position), c.Expected)
            << "'" << c.Text << "' at " << c.Position;
    }
}

TEST(CharAt, RaisesOutsideTheText) {
    EXPECT_EQ(CharAt("abc", 1), 'a');
    EXPECT_EQ(CharAt("abc", 3), 'c');
    EXPECT_THROW(CharAt("abc", 0), ERangeError);
    EXPECT_THROW(CharAt("abc", 4), ERangeError);
    EXPECT_THROW(CharAt("", 1), ERangeError);
    EXPECT_THROW(CharAt("abc", -1), ERangeError);
}

TEST(NoCaseComparison, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(StartsWithNoCase("VISA ELECTRON", "Visa"));
    EXPECT_TRUE(StartsWithNoCase("MasterCard", "Master"));
    EXPECT_FALSE(StartsWithNoCase("Vis", "Visa"));
    EXPECT_TRUE(EqualsNoCase("a5b0", "A5B0"));
    EXPECT_FALSE(EqualsNoCase("A5B", "A5B0"));
    // Windows-1250 letters are not folded: 0xC1 and 0xE1 differ, as do '@' and '`'.
    EXPECT_FALSE(EqualsNoCase("\xC1", "\xE1"));
    EXPECT_FALSE(EqualsNoCase("@", "`"));
}

}  // namespace
}  // namespace vendilox
