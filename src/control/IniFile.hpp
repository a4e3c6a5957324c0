// A Windows profile (INI) file, read and written with the semantics the settings rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vendilox {

// A write to the profile file failed; the message names the file.
class EIniFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The file format, as the Windows profile functions read and write it:
// - A file that begins with a byte-order mark is Unicode: UTF-8 (a file that Notepad saved as
//   UTF-8), UTF-16 little-endian ("Unicode") or big-endian. It is read as UTF-16, and what a read
//   returns is its Windows-1250 form as the system converts it to that code page: characters the
//   code page lacks become their nearest one where the system names one, else '?'. A write keeps
//   such a file in its encoding. Any other file is Windows-1250 bytes, never converted.
// - Lines end with CR LF, LF or CR alone; every line the program writes ends with CR LF, and
//   every line it does not change is kept as it was, line end included.
// - '[Name]' opens a section, the name running to the line's last ']'; a line that begins with
//   '[' but has no ']' after it opens none. 'Key=Value' is an entry of the section above it.
//   Blanks (space, tab, vertical tab, form feed and 0x1A, the end mark of old editors) around
//   section names, keys and values are ignored, and one pair of matching quotes ('"' or '\'')
//   around a value is dropped. A NUL ends a name or value. Entries before the first section
//   belong to none.
// - A line of a key without '=' has no value: it reads as missing and hides a later line of the
//   same key. Blank lines and comment lines (first non-blank character ';') take no part.
// - Section and key names are matched without regard to ASCII case. When a section or a key
//   occurs more than once, the first occurrence counts, for reading and for writing.
// - A write updates a present key in place (keeping the key's spelling), adds a new key after
//   the last entry of its section (after the section line when it has none), and adds a new
//   section at the end of the file with no blank line before it. The whole new content
//   replaces the file through a temporary file flushed to the device, so a failed write leaves
//   the previous file whole.
class TIniFile {
  public:
    // A settings file is a few hundred bytes; a larger one than this reads as missing, and is
    // not written to, rather than being held in memory whole at every read.
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;

    // Opening does not create the file. The path is Windows-1250, like every text inside.
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return fileName_; }

    // The stored text, or def when the file, section or key is missing; a present key with an
    // empty value gives the empty text. At most 2047 characters.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // The integer reading of the program; any failure, the empty text included, gives def.
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t def) const;
    // A non-zero integer is true, zero false; anything else gives def.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    // Written through to the file at once; raises EIniFileError naming the file on failure.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

  private:
    std::string fileName_;
};

}  // namespace vendilox
