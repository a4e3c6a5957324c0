// The reading cases of the settings file: the file's bytes, the section and key asked for, and
// the text the profile functions give for them. Plain data with nothing of the system around it,
// so that the same rows run against TIniFile everywhere and, on Windows, against the system's own
// profile functions.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vendilox::test {

// What a read gives when the file has no such key.
inline constexpr const char* kIniDefault = "<def>";

struct TIniReadCase {
    const char* Name;
    std::string Content;  // the file's bytes
    const char* Section;  // Windows-1250
    const char* Key;
    std::string Expected;  // Windows-1250; kIniDefault when the default is expected
};

// A failing row prints as its name.
inline void PrintTo(const TIniReadCase& c, std::ostream* os) {
    *os << c.Name;
}

// The bytes of a file saved as "Unicode": UTF-16 little-endian behind its byte-order mark.
inline std::string Utf16LeFile(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

inline std::string Utf16BeFile(std::u16string_view text) {
    std::string bytes = "\xFE\xFF";
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit >> 8));
        bytes.push_back(static_cast<char>(unit & 0xFF));
    }
    return bytes;
}

inline const std::vector<TIniReadCase>& IniReadCases() {
    static const std::vector<TIniReadCase> cases = {
        // Plain files, read byte for byte.
        {"CrLf", "[S]\r\nK=v\r\nL=w\r\n", "S", "L", "w"},
        {"Lf", "[S]\nK=v\nL=w\n", "S", "L", "w"},
        {"NoLastLineEnd", "[S]\r\nK=v", "S", "K", "v"},
        {"EmptyValue", "[S]\r\nK=\r\n", "S", "K", ""},
        {"MissingSection", "[T]\r\nK=v\r\n", "S", "K", kIniDefault},
        {"MissingKey", "[S]\r\nL=v\r\n", "S", "K", kIniDefault},
        {"EmptyFile", "", "S", "K", kIniDefault},
        {"NamesIgnoreCase", "[settings]\r\nHOST=h\r\n", "Settings", "Host", "h"},
        {"BlanksAroundEquals", "[S]\r\n  K \t=  v  w\t \r\n", "S", "K", "v  w"},
        {"BlanksInSectionLine", "  [ S ]  \r\nK=v\r\n", "S", "K", "v"},
        {"DoubleQuotes", "[S]\r\nK=\" v \"\r\n", "S", "K", " v "},
        {"SingleQuotes", "[S]\r\nK='v'\r\n", "S", "K", "v"},
        {"OnlyOnePairOfQuotes", "[S]\r\nK=\"\"v\"\"\r\n", "S", "K", "\"v\""},
        {"UnmatchedQuotes", "[S]\r\nK=\"v'\r\n", "S", "K", "\"v'"},
        {"LoneQuote", "[S]\r\nK=\"\r\n", "S", "K", "\""},
        {"EmptyQuotes", "[S]\r\nK=\"\"\r\n", "S", "K", ""},
        {"EqualsInValue", "[S]\r\nK=a=b\r\n", "S", "K", "a=b"},
        {"CommentIgnored", "[S]\r\n;K=c\r\n", "S", "K", kIniDefault},
        {"CommentsAndBlanksBetween", "[S]\r\n; note\r\n\r\nK=v\r\n", "S", "K", "v"},
        {"LineWithoutEqualsIgnored", "[S]\r\nK\r\n", "S", "K", kIniDefault},
        {"EntryBeforeAnySection", "K=v\r\n[S]\r\n", "S", "K", kIniDefault},
        {"KeyOfNextSectionNotSeen", "[S]\r\n[T]\r\nK=v\r\n", "S", "K", kIniDefault},
        {"SameKeyTwoSections", "[T]\r\nPort=1\r\n[S]\r\nPort=2\r\n", "S", "Port", "2"},
        {"FirstOccurrenceWins", "[S]\r\nK=1\r\nk=2\r\n", "S", "K", "1"},
        {"Windows1250Bytes", "[S]\r\nK=\xE8\x9A\r\n", "S", "K", "\xE8\x9A"},
        {"ValueOfTheLongestLength", "[S]\r\nK=" + std::string(2047, 'a') + "\r\n", "S", "K",
         std::string(2047, 'a')},
        {"LongerValueIsCut", "[S]\r\nK=" + std::string(3000, 'b') + "\r\n", "S", "K",
         std::string(2047, 'b')},
        {"Utf8WithoutMarkIsBytes", "[S]\r\nK=\xC4\x8D\r\n", "S", "K", "\xC4\x8D"},
        {"Utf16WithoutMarkIsNoText", Utf16LeFile(u"[S]\r\nK=v\r\n").substr(2), "S", "K",
         kIniDefault},
        {"UndefinedBytesKept", "[S]\r\nK=\x81\x83\x88\x90\x98\r\n", "S", "K",
         "\x81\x83\x88\x90\x98"},

        // Line ends and section lines as the profile functions take them.
        {"CrOnlyLineEnds", "[S]\rK=v\rL=w\r", "S", "L", "w"},
        {"CrOnlyLineEndsBetweenSections", "[S]\rK=1\r[T]\rK=2", "T", "K", "2"},
        {"CrEndsTheValue", "[S]\r\nK=a\rb\r\n", "S", "K", "a"},
        {"LfCrIsTwoLineEnds", "[S]\n\rK=v\n\r", "S", "K", "v"},
        {"OpenSectionLineIsNoSection", "[Settings\r\nPort=COM5\r\n", "Settings", "Port",
         kIniDefault},
        {"EntriesBelowOpenSectionLineStayAbove", "[A]\r\nk=1\r\n[Settings\r\nPort=COM5\r\n", "A",
         "Port", "COM5"},
        {"OpenSectionLineWithEqualsIsAnEntry", "[A]\r\n[Settings=x\r\n", "A", "[Settings", "x"},
        {"SectionNameRunsToTheLastBracket", "[S]x]\r\nk=1\r\n", "S]x", "k", "1"},
        {"TextAfterTheBracketIgnored", "[S] ; old\r\nk=1\r\n", "S", "k", "1"},
        {"KeyWithoutEqualsHidesALaterOne", "[S]\r\nK\r\nK=v\r\n", "S", "K", kIniDefault},
        {"EndMarkAndFormFeedAreBlanks",
         "[S]\r\nDebug=\x0B\x0C"
         "1\x1A",
         "S", "Debug", "1"},
        {"NulEndsTheValue", std::string("[S]\r\nK=a\0b\r\nL=2\r\n", 17), "S", "K", "a"},

        // A file saved as UTF-8 with its mark: the text in Windows-1250.
        {"Utf8MarkKeepsTheFirstSection", "\xEF\xBB\xBF[Settings]\r\nPort=COM3\r\n", "Settings",
         "Port", "COM3"},
        {"Utf8Converted", "\xEF\xBB\xBF[S]\r\nK=\xC4\x8D\xC3\xA1\xE2\x82\xAC\r\n", "S", "K",
         "\xE8\xE1\x80"},
        {"Utf8NearestCharacter", "\xEF\xBB\xBF[S]\r\nK=\xC3\xB1\xEF\xBC\xA1\xC3\xA5\r\n", "S", "K",
         "nAa"},
        {"Utf8CharacterTheCodePageLacks", "\xEF\xBB\xBF[S]\r\nK=\xF0\x9F\x98\x80|\xC2\x80\r\n", "S",
         "K", "??|?"},
        {"Utf8Malformed",
         "\xEF\xBB\xBF[S]\r\nK=\xE2\x82x|\xC0\x80|\xED\xA0\x80|\xF4\x90\x80\x80|\xF7\xBF|\xFF\r\n",
         "S", "K", "?x|??|??|???|??|?"},
        {"Utf8NamesInWindows1250",
         "\xEF\xBB\xBF[Nastaven\xC3\xAD]\r\nK\xC3\xB3"
         "d=1\r\n",
         "nastaven\xED",
         "K\xF3"
         "D",
         "1"},
        {"Utf8BlanksTakenBeforeConversion", "\xEF\xBB\xBF[S]\r\nK=\xE2\x80\x80v\xE2\x80\x80\r\n",
         "S", "K", " v "},
        {"Utf8MarkOnly", "\xEF\xBB\xBF", "S", "K", kIniDefault},
        {"Utf8SecondMarkIsText", "\xEF\xBB\xBF\xEF\xBB\xBF[S]\r\nK=1\r\n", "S", "K", kIniDefault},

        // A file saved as "Unicode".
        {"Utf16LeRead", Utf16LeFile(u"[Settings]\r\nPort=COM\u010D\r\n"), "Settings", "Port",
         "COM\xE8"},
        {"Utf16LeCrOnly", Utf16LeFile(u"[S]\rK=1\r[T]\rK=2\r"), "T", "K", "2"},
        {"Utf16LeNearestCharacter", Utf16LeFile(u"[S]\r\nK=\u00F1\u0101\r\n"), "S", "K", "na"},
        {"Utf16LeSurrogates", Utf16LeFile(u"[S]\r\nK=\U0001F600|\xDC00x\r\n"), "S", "K", "??|?x"},
        {"Utf16LeMarkOnly", "\xFF\xFE", "S", "K", kIniDefault},
        {"Utf16BeRead", Utf16BeFile(u"[S]\r\nK=\u010D\r\n"), "S", "K", "\xE8"},
    };
    return cases;
}

}  // namespace vendilox::test
