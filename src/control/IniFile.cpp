#include "control/IniFile.hpp"

#include <optional>
#include <vector>

#include "platform/files.hpp"
#include "protocol/text.hpp"

namespace vendilox {

namespace files = platform::files;

namespace {

// The most characters a read returns, as the profile functions' buffer of 2048 holds them.
constexpr std::size_t kMaxValueLength = 2047;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

enum class TLineKind { Other, Section, Entry };

// One line of the file: where it lies, what it is, and the names and value it holds.
struct TLine {
    std::size_t Begin = 0;       // first byte
    std::size_t ContentEnd = 0;  // the byte after the text, before CR LF or LF
    std::size_t End = 0;         // the byte after the line end (== ContentEnd on an unended line)
    TLineKind Kind = TLineKind::Other;
    std::string_view Name;  // section name or key
    std::string_view Value;
};

TLine ClassifyLine(std::string_view content, std::size_t begin, std::size_t contentEnd,
                   std::size_t end) {
    TLine line;
    line.Begin = begin;
    line.ContentEnd = contentEnd;
    line.End = end;
    std::string_view text = Trim(content.substr(begin, contentEnd - begin));
    if (text.empty() || text.front() == ';')
        return line;
    if (text.front() == '[') {
        std::string_view name = text.substr(1);
        name = name.substr(0, name.find(']'));
        line.Kind = TLineKind::Section;
        line.Name = Trim(name);
        return line;
    }
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return line;
    line.Kind = TLineKind::Entry;
    line.Name = Trim(text.substr(0, equals));
    std::string_view value = Trim(text.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    line.Value = value;
    return line;
}

std::vector<TLine> SplitLines(std::string_view content) {
    std::vector<TLine> lines;
    std::size_t begin = 0;
    while (begin < content.size()) {
        std::size_t newline = content.find('\n', begin);
        std::size_t end = newline == std::string_view::npos ? content.size() : newline + 1;
        std::size_t contentEnd = newline == std::string_view::npos ? content.size() : newline;
        if (contentEnd > begin && content[contentEnd - 1] == '\r')
            --contentEnd;
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

TLookup Find(const std::vector<TLine>& lines, std::string_view section, std::string_view key) {
    TLookup found;
    std::size_t i = 0;
    for (; i < lines.size(); ++i) {
        if (lines[i].Kind == TLineKind::Section && EqualsNoCase(lines[i].Name, section))
            break;
    }
    if (i == lines.size())
        return found;
    found.Section = i;
    found.LastOfSection = i;
    for (++i; i < lines.size() && lines[i].Kind != TLineKind::Section; ++i) {
        if (lines[i].Kind != TLineKind::Entry)
            continue;
        found.LastOfSection = i;
        if (!found.Key && EqualsNoCase(lines[i].Name, key))
            found.Key = i;
    }
    return found;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
    std::string_view result = def;
    std::string content;
    std::vector<TLine> lines;
    if (files::ReadWholeFile(fileName_, kMaxFileBytes, content) == files::TReadStatus::Ok) {
        lines = SplitLines(content);
        TLookup found = Find(lines, section, key);
        if (found.Key)
            result = lines[*found.Key].Value;
    }
    return std::string(result.substr(0, kMaxValueLength));
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

    std::vector<TLine> lines = SplitLines(content);
    TLookup found = Find(lines, section, key);
    std::string updated;
    if (found.Key) {
        const TLine& line = lines[*found.Key];
        updated.append(content, 0, line.Begin);
        updated.append(line.Name).append("=").append(value);
        updated.append(content, line.ContentEnd);
    } else if (found.Section) {
        const TLine& last = lines[found.LastOfSection];
        updated.append(content, 0, last.End);
        if (last.End == last.ContentEnd)
            updated.append("\r\n");
        updated.append(key).append("=").append(value).append("\r\n");
        updated.append(content, last.End);
    } else {
        updated = content;
        if (!updated.empty() && updated.back() != '\n')
            updated.append("\r\n");
        updated.append("[").append(section).append("]\r\n");
        updated.append(key).append("=").append(value).append("\r\n");
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
