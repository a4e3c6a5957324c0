// The program's files: the settings file, the result file and the transaction journal. Every
// path is Windows-1250, like every text inside; each system's implementation converts it at the
// call (UTF-8 names on POSIX, the wide API on Windows). Files are always binary: no byte is added,
// dropped or taken as the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vendilox::platform::files {

enum class TReadStatus {
    Ok,
    NotFound,  // neither the file nor its directory is there
    TooLarge,  // the file holds more than the bytes allowed
    Failed,    // there, but not readable (no permission, a directory, a read error)
};

// Reads the whole file into content; any status but Ok leaves content empty.
TReadStatus ReadWholeFile(std::string_view path, std::size_t maxBytes, std::string& content);

// Replaces the file by content, or creates it: the bytes go to a temporary file beside it, which
// is flushed to the device and then moved over the file, so the file is always either the old one
// or the new one, whole. An existing file's permissions are kept. False when any step failed; the
// file is then as it was and no temporary file is left.
bool ReplaceWholeFile(std::string_view path, std::string_view content);

enum class TPathKind { Missing, RegularFile, Directory, Other };

struct TPathInfo {
    TPathKind Kind = TPathKind::Missing;
    std::uint64_t Size = 0;  // of a regular file
};

// What is at the path. Missing also when it cannot be told (the directory is not readable).
TPathInfo Inspect(std::string_view path);

// The names of the entries of a directory, without "." and "..", in no particular order. False
// when the directory cannot be read.
bool ListDirectory(std::string_view path, std::vector<std::string>& names);

// Deletes a file. True when it is gone, also when it was not there.
bool RemoveFile(std::string_view path);

// An open file of the program's own, written at its end.
class TFile {
  public:
    enum class TOpenStatus { Opened, InUse, Failed };

    TFile() = default;
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;
    TFile(TFile&& other) noexcept;
    TFile& operator=(TFile&& other) noexcept;
    ~TFile();

    // The result file: created when missing and held, shared with no other process, until it is
    // closed. A file that another process holds answers InUse and is left as it was; only once
    // this process holds it is it emptied (a device has nothing to empty).
    TOpenStatus OpenExclusive(std::string_view path);
    // A journal: created when missing, its content kept; writes go to its end.
    TOpenStatus OpenForAppend(std::string_view path);

    bool IsOpen() const { return handle_ != kClosed; }
    // Writes every byte. When not all could be written, what this write added is cut off again
    // where that can be done, so the file never ends in part of a write; then false.
    bool Write(std::string_view bytes);
    // To the device, past the system's cache.
    bool Flush();
    // The whole content from the start, read through this handle, which leaves the position
    // where the writes go as it was. On Windows nobody else can read a file held exclusively,
    // this process included; false when it cannot be read.
    bool ReadBack(std::string& content) const;
    void Close();

  private:
    static constexpr std::intptr_t kClosed = -1;
    // A file descriptor on POSIX, a HANDLE on Windows (whose invalid value is -1 as well).
    std::intptr_t handle_ = kClosed;
};

}  // namespace vendilox::platform::files
