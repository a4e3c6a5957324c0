#include "control/IniFile.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "control/ProfileText.hpp"
#include "platform/files.hpp"
#include "protocol/text.hpp"

namespace vendilox {

namespace files = platform::files;

namespace {

// The most characters a read returns, as the profile functions' buffer of 2048 holds them.
constexpr std::size_t kMaxValueLength = 2047;

// The file's text is parsed in its own units: Windows-1250 bytes for a file without a byte-order
// mark, UTF-16 for a Unicode one. Every character the syntax uses is ASCII, the same in both.
template <class Char>
using TView = std::basic_string_view<Char>;

// The blanks around names and values: space, tab, vertical tab, form feed, and 0x1A, the end
// mark that old editors put at the end of a text file.
template <class Char>
bool IsBlank(Char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == 0x1A;
}

template <class Char>
TView<Char> Trim(TView<Char> text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The profile functions hold names and values as C strings: a NUL ends them.
template <class Char>
TView<Char> UpToNul(TView<Char> text) {
    return text.substr(0, text.find(Char{0}));
}

template <class Char>
Char AsciiLower(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <class Char>
bool SameName(TView<Char> a, TView<Char> b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](Char x, Char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

enum class TLineKind { Other, Section, Entry, Key };

// One line of the file: where it lies, what it is, and the names and value it holds.
template <class Char>
struct TLine {
    std::size_t Begin = 0;       // first unit
    std::size_t ContentEnd = 0;  // the unit after the text, before its line end
    std::size_t End = 0;         // the unit after the line end (== ContentEnd on an unended line)
    TLineKind Kind = TLineKind::Other;
    TView<Char> Name;  // section name or key
    TView<Char> Value;
};

template <class Char>
TLine<Char> ClassifyLine(TView<Char> content, std::size_t begin, std::size_t contentEnd,
                         std::size_t end) {
    TLine<Char> line;
    line.Begin = begin;
    line.ContentEnd = contentEnd;
    line.End = end;
    TView<Char> text = Trim(content.substr(begin, contentEnd - begin));
    if (text.empty() || text.front() == ';')
        return line;
    // A section line runs to its last ']'; a '[' line without one is no section line, and the
    // entries below it stay in the section above.
    const std::size_t close = text.rfind(']');
    if (text.front() == '[' && close != TView<Char>::npos && close > 0) {
        line.Kind = TLineKind::Section;
        line.Name = UpToNul(Trim(text.substr(1, close - 1)));
        return line;
    }
    const std::size_t equals = text.find('=');
    if (equals == TView<Char>::npos) {
        // A key without '=': it has no value, reads as missing, and hides a later line of the
        // same key, as it does for the profile functions.
        line.Kind = TLineKind::Key;
        line.Name = UpToNul(text);
        return line;
    }
    line.Kind = TLineKind::Entry;
    line.Name = UpToNul(Trim(text.substr(0, equals)));
    TView<Char> value = UpToNul(Trim(text.substr(equals + 1)));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    line.Value = value;
    return line;
}

// Lines end with CR LF, LF or CR alone.
template <class Char>
std::vector<TLine<Char>> SplitLines(TView<Char> content) {
    std::vector<TLine<Char>> lines;
    std::size_t begin = 0;
    while (begin < content.size()) {
        std::size_t contentEnd = begin;
        while (contentEnd < content.size() && content[contentEnd] != '\r' &&
               content[contentEnd] != '\n') {
            ++contentEnd;
        }
        std::size_t end = contentEnd;
        if (end < content.size() && content[end] == '\r')
            ++end;
        if (end < content.size() && content[end] == '\n' &&
            (end == contentEnd || content[end - 1] == '\r'))
            ++end;
        lines.push_back(ClassifyLine(content, begin, contentEnd, end));
        begin = end;
    }
    return lines;
}

// Where a section and a key were found among the lines.
struct TLookup {
    std::optional<std::size_t> Section;  // index of the section line
    std::optional<std::size_t> Key;      // index of the entry line
    std::size_t LastOfSection = 0;       // the last entry of the section, or its section line
};

template <class Char>
TLookup Find(const std::vector<TLine<Char>>& lines, TView<Char> section, TView<Char> key) {
    TLookup found;
    std::size_t i = 0;
    for (; i < lines.size(); ++i) {
        if (lines[i].Kind == TLineKind::Section && SameName(lines[i].Name, section))
            break;
    }
    if (i == lines.size())
        return found;
    found.Section = i;
    found.LastOfSection = i;
    for (++i; i < lines.size() && lines[i].Kind != TLineKind::Section; ++i) {
        if (lines[i].Kind == TLineKind::Other)
            continue;
        if (lines[i].Kind == TLineKind::Entry)
            found.LastOfSection = i;
        if (!found.Key && SameName(lines[i].Name, key))
            found.Key = i;
    }
    return found;
}

template <class Char>
std::optional<std::basic_string<Char>> Lookup(TView<Char> content, TView<Char> section,
                                              TView<Char> key) {
    const std::vector<TLine<Char>> lines = SplitLines(content);
    const TLookup found = Find(lines, section, key);
    if (!found.Key || lines[*found.Key].Kind != TLineKind::Entry)
        return std::nullopt;
    return std::basic_string<Char>(lines[*found.Key].Value);
}

// The content with the key set to value: in place when present, else at the end of its section,
// else in a new section at the end of the file.
template <class Char>
std::basic_string<Char> Updated(TView<Char> content, TView<Char> section, TView<Char> key,
                                TView<Char> value) {
    static constexpr Char kLineEnd[] = {'\r', '\n', 0};
    static constexpr Char kEquals[] = {'=', 0};
    const std::vector<TLine<Char>> lines = SplitLines(content);
    const TLookup found = Find(lines, section, key);
    std::basic_string<Char> updated;
    if (found.Key) {
        const TLine<Char>& line = lines[*found.Key];
        updated.append(content.substr(0, line.Begin));
        updated.append(line.Name).append(kEquals).append(value);
        updated.append(content.substr(line.ContentEnd));
    } else if (found.Section) {
        const TLine<Char>& last = lines[found.LastOfSection];
        updated.append(content.substr(0, last.End));
        if (last.End == last.ContentEnd)
            updated.append(kLineEnd);
        updated.append(key).append(kEquals).append(value).append(kLineEnd);
        updated.append(content.substr(last.End));
    } else {
        updated.append(content);
        if (!updated.empty() && updated.back() != '\n' && updated.back() != '\r')
            updated.append(kLineEnd);
        updated.push_back('[');
        updated.append(section).push_back(']');
        updated.append(kLineEnd);
        updated.append(key).append(kEquals).append(value).append(kLineEnd);
    }
    return updated;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
    std::string content;
    std::optional<std::string> value;
    if (files::ReadWholeFile(fileName_, kMaxFileBytes, content) == files::TReadStatus::Ok) {
        const TProfileEncoding encoding = DetectProfileEncoding(content);
        if (encoding == TProfileEncoding::Ansi) {
            value = Lookup<char>(content, section, key);
        } else {
            const std::u16string text = DecodeProfileText(
                std::string_view(content).substr(ByteOrderMarkLength(encoding)), encoding);
            if (std::optional<std::u16string> wide =
                    Lookup<char16_t>(text, Cp1250ToUtf16(section), Cp1250ToUtf16(key))) {
                value = Utf16ToCp1250(*wide);
            }
        }
    }
    return std::string(value ? std::string_view(*value) : def).substr(0, kMaxValueLength);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t def) const {
    std::int32_t value = def;
    if (!TryStrToInt(ReadString(section, key, ""), value))
        return def;
    return value;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string failure = "Unable to write to " + fileName_;

    std::string content;
    const files::TReadStatus read = files::ReadWholeFile(fileName_, kMaxFileBytes, content);
    if (read != files::TReadStatus::Ok && read != files::TReadStatus::NotFound) {
        // A file that exists but cannot be read would lose its other entries if rewritten.
        throw EIniFileError(failure);
    }

    // A Unicode file stays Unicode: the entry is written in its encoding, the rest kept.
    const TProfileEncoding encoding = DetectProfileEncoding(content);
    std::string updated;
    if (encoding == TProfileEncoding::Ansi) {
        updated = Updated<char>(content, section, key, value);
    } else {
        const std::u16string text = DecodeProfileText(
            std::string_view(content).substr(ByteOrderMarkLength(encoding)), encoding);
        updated = EncodeProfileText(Updated<char16_t>(text, Cp1250ToUtf16(section),
                                                      Cp1250ToUtf16(key), Cp1250ToUtf16(value)),
                                    encoding);
    }

    if (!files::ReplaceWholeFile(fileName_, updated))
        throw EIniFileError(failure);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

}  // namespace vendilox
