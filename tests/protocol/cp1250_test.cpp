#include "protocol/cp1250.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

namespace vendilox {
namespace {

// glibc's converter as the independent reference; nullopt when it refuses the input.
std::optional<std::string> Iconv(const char* to, const char* from, std::string_view input) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in(input);
    std::string out(input.size() * 4 + 8, '\0');
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0)
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

TEST(Cp1250, EveryByteAgreesWithIconv) {
    ASSERT_TRUE(Iconv("UTF-8", "CP1250", "A").has_value()) << "glibc lacks the CP1250 converter";
    std::string unmapped;
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const auto expected = Iconv("UTF-8", "CP1250", byte);
        const std::string ours = Cp1250ToUtf8(byte);
        if (expected) {
            EXPECT_EQ(ours, *expected) << "byte 0x" << std::hex << b;
            EXPECT_EQ(Utf8ToCp1250(*expected), byte) << "byte 0x" << std::hex << b;
        } else {
            // Bytes the code page leaves undefined still pass through as the C1 control of the
            // same value, so that no received byte is lost on the way to the screen.
            unmapped.push_back(static_cast<char>(b));
            EXPECT_EQ(cp1250::ToUnicode(static_cast<unsigned char>(b)), static_cast<char32_t>(b));
        }
    }
    EXPECT_EQ(unmapped, std::string("\x81\x83\x88\x90\x98"));
}

TEST(Cp1250, AllBytesSurviveTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1250(Cp1250ToUtf8(all)), all);
}

TEST(Cp1250, UnknownOrMalformedInputBecomesTheReplacement) {
    EXPECT_EQ(Utf8ToCp1250("a\xE2\x82\xAC"
                           "b"),
              "a\x80"
              "b");                                  // the euro sign is in the page
    EXPECT_EQ(Utf8ToCp1250("\xCE\xA9"), "?");        // Greek omega is not
    EXPECT_EQ(Utf8ToCp1250("x\xC3", '#'), "x#");     // cut-off sequence
    EXPECT_EQ(Utf8ToCp1250("\xED\xA0\x80"), "???");  // encoded surrogate
}

// The literal against iconv's conversion of the same UTF-8 text.
TEST(Cp1250, LiteralsOfTheProgramsTexts) {
    EXPECT_EQ("Kč"_w1250, std::string_view("\x4B\xE8", 2));
    const struct {
        std::string_view Literal;
        const char* Utf8;
    } cases[] = {
        {"Částka nemůže být 0 Kč!"_w1250, "Částka nemůže být 0 Kč!"},
        {"Špatné údaje"_w1250, "Špatné údaje"},
        {"Přijmutá data: "_w1250, "Přijmutá data: "},
        {"Server připojen-chybný požadavek"_w1250, "Server připojen-chybný požadavek"},
        {"uzávěrka terminálu"_w1250, "uzávěrka terminálu"},
        {"Transakce zrušena"_w1250, "Transakce zrušena"},
        {"Zákazník odmítl částku"_w1250, "Zákazník odmítl částku"},
    };
    for (const auto& c : cases) {
        const auto expected = Iconv("CP1250", "UTF-8", c.Utf8);
        ASSERT_TRUE(expected.has_value()) << c.Utf8;
        EXPECT_EQ(std::string(c.Literal), *expected) << c.Utf8;
        EXPECT_EQ(Cp1250ToUtf8(c.Literal), c.Utf8);
    }
}

}  // namespace
}  // namespace vendilox
