#include "protocol/cp1250.hpp"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

#include <optional>
#include <string>
#include <string_view>

namespace vendilox {
namespace {

// The system's own converter as the independent reference: glibc's iconv on Linux; on Windows
// the code page functions, which the Windows program itself uses where its texts meet the system.
// nullopt when the converter refuses the input.
#ifdef _WIN32
std::optional<std::string> Convert(UINT to, UINT from, std::string_view input) {
    if (input.empty())
        return std::string();
    const int size = static_cast<int>(input.size());
    std::wstring wide(input.size(), L'\0');
    const int units =
        ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, input.data(), size, wide.data(), size);
    if (units == 0)
        return std::nullopt;
    std::string out(input.size() * 4, '\0');
    BOOL lossy = FALSE;
    const int bytes =
        ::WideCharToMultiByte(to, 0, wide.data(), units, out.data(), static_cast<int>(out.size()),
                              nullptr, to == CP_UTF8 ? nullptr : &lossy);
    if (bytes == 0 || lossy)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(bytes));
    return out;
}

std::optional<std::string> ReferenceToUtf8(std::string_view cp1250) {
    return Convert(CP_UTF8, 1250, cp1250);
}
std::optional<std::string> ReferenceToCp1250(std::string_view utf8) {
    return Convert(1250, CP_UTF8, utf8);
}

// Windows gives the five bytes the code page leaves undefined as the C1 controls of the same
// value, as the program does.
constexpr std::string_view kUnmapped = "";
#else
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

std::optional<std::string> ReferenceToUtf8(std::string_view cp1250) {
    return Iconv("UTF-8", "CP1250", cp1250);
}
std::optional<std::string> ReferenceToCp1250(std::string_view utf8) {
    return Iconv("CP1250", "UTF-8", utf8);
}

// glibc refuses the five bytes the code page leaves undefined.
constexpr std::string_view kUnmapped = "\x81\x83\x88\x90\x98";
#endif

TEST(Cp1250, EveryByteAgreesWithTheSystemsConverter) {
    ASSERT_TRUE(ReferenceToUtf8("A").has_value()) << "the system lacks the CP1250 converter";
    std::string unmapped;
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const auto expected = ReferenceToUtf8(byte);
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
    EXPECT_EQ(unmapped, kUnmapped);
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

// The literal against the system's conversion of the same UTF-8 text.
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
        const auto expected = ReferenceToCp1250(c.Utf8);
        ASSERT_TRUE(expected.has_value()) << c.Utf8;
        EXPECT_EQ(std::string(c.Literal), *expected) << c.Utf8;
        EXPECT_EQ(Cp1250ToUtf8(c.Literal), c.Utf8);
    }
}

}  // namespace
}  // namespace vendilox
