// A fresh directory for one test, removed with everything in it afterwards, and small helpers to
// read and write the bytes of its files.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vendilox::test {

// Makes a directory of a name no other test has, in the system's temporary directory; mkdtemp,
// with the standard library only, so that it is the same on Windows.
inline std::filesystem::path MakeTempDir(std::string_view stem) {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto path = base / (std::string(stem) + std::to_string(random()));
        if (std::filesystem::create_directory(path))
            return path;
    }
    throw std::runtime_error("cannot create a temporary directory in " + base.string());
}

class TTempDir {
  public:
    TTempDir() : path_(MakeTempDir("vendilox_")) {}
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    ~TTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    // The full path of name in the directory. The directory's own name is ASCII, so the path is
    // the same text in Windows-1250 and on the file system.
    std::string File(std::string_view name) const {
        // Not path_ / name: on Windows that would read the name in the system's code page.
        return path_.string() + static_cast<char>(std::filesystem::path::preferred_separator) +
               std::string(name);
    }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

}  // namespace vendilox::test
