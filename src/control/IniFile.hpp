// A Windows profile (INI) file, read and written with the semantics the settings rely on.
#pragma once

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

class TIniFile {
public:
    // Opening does not create the file. The path is Windows-1250, like every text inside.
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return fileName_; }

    // The stored text, or def when the file, section or key is missing; a present key with an
    // empty value gives the empty text. At most 2047 characters.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // The integer reading of the program; any failure, the empty text included, gives def.
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;
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
