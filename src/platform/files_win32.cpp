// The program's files on Windows: the wide API with names converted from Windows-1250, so that
// nothing depends on the system's ANSI code page; handles, never the C runtime's text mode.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/files.hpp"

namespace vendilox::platform::files {

namespace {

constexpr UINT kCodePage = 1250;

std::wstring Wide(std::string_view text) {
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(kCodePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(kCodePage, 0, text.data(), length, wide.data(), needed);
    return wide;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int needed =
        ::WideCharToMultiByte(kCodePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(kCodePage, 0, text.data(), length, narrow.data(), needed, nullptr,
                          nullptr);
    return narrow;
}

HANDLE Handle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool IsNotFound(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsDiskFile(HANDLE file) {
    return ::GetFileType(file) == FILE_TYPE_DISK;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        // WriteFile takes at most a DWORD at once.
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD put = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &put, nullptr) || put == 0)
            return false;
        bytes.remove_prefix(put);
    }
    return true;
}

}  // namespace

TReadStatus ReadWholeFile(std::string_view path, std::size_t maxBytes, std::string& content) {
    content.clear();
    // Shared with everybody: a person may have the file open in an editor.
    HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return IsNotFound(::GetLastError()) ? TReadStatus::NotFound : TReadStatus::Failed;
    std::string bytes;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            ::CloseHandle(file);
            return TReadStatus::Failed;
        }
        if (got == 0)
            break;
        // Measured by what it gives, not by a size asked for before: a device has none, and a
        // file may grow while it is read.
        if (got > maxBytes - bytes.size()) {
            ::CloseHandle(file);
            return TReadStatus::TooLarge;
        }
        bytes.append(buffer, got);
    }
    ::CloseHandle(file);
    content = std::move(bytes);
    return TReadStatus::Ok;
}

bool ReplaceWholeFile(std::string_view path, std::string_view content) {
    const std::wstring target = Wide(path);
    if (target.empty())
        return false;
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
                    std::to_wstring(attempt) + L".tmp";
        file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = WriteAll(file, content);
    // Flushed before the move, so that a power loss right after it cannot leave an empty file.
    if (ok)
        ok = ::FlushFileBuffers(file) != 0;
    if (!::CloseHandle(file))
        ok = false;
    // The move replaces an existing file and returns only once it is on the device.
    if (ok) {
        ok = ::MoveFileExW(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
    if (!ok)
        ::DeleteFileW(temporary.c_str());
    return ok;
}

TPathInfo Inspect(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data))
        return {};
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return {TPathKind::Directory, 0};
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0)
        return {TPathKind::Other, 0};
    const std::uint64_t size =
        (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return {TPathKind::RegularFile, size};
}

bool ListDirectory(std::string_view path, std::vector<std::string>& names) {
    names.clear();
    std::wstring pattern = Wide(path);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;  // a directory without any entry
    do {
        const std::wstring_view name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        names.push_back(Narrow(name));
    } while (::FindNextFileW(find, &entry));
    const bool complete = ::GetLastError() == ERROR_NO_MORE_FILES;
    ::FindClose(find);
    if (!complete)
        names.clear();
    return complete;
}

bool RemoveFile(std::string_view path) {
    return ::DeleteFileW(Wide(path).c_str()) || IsNotFound(::GetLastError());
}

TFile::TFile(TFile&& other) noexcept : handle_(std::exchange(other.handle_, kClosed)) {}

TFile& TFile::operator=(TFile&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, kClosed);
    }
    return *this;
}

bool TFile::ReadBack(std::string& content) const {
    content.clear();
    if (!IsOpen())
        return false;
    HANDLE file = Handle(handle_);
    // A read at an offset moves the position of a handle opened for synchronous use, so the
    // position is put back afterwards.
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT))
        return false;
    bool ok = true;
    char buffer[4096];
    for (;;) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(content.size() & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(content.size()) >> 32);
        DWORD got = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &got, &at)) {
            ok = ::GetLastError() == ERROR_HANDLE_EOF;
            break;
        }
        if (got == 0)
            break;
        content.append(buffer, got);
    }
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ok;
}

TFile::~TFile() {
    Close();
}

TFile::TOpenStatus TFile::OpenExclusive(std::string_view path) {
    Close();
    // Share mode 0: no other process opens the file while this one holds it, and a file that
    // another process holds is refused before anything of it is touched.
    HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? TOpenStatus::InUse
                                                           : TOpenStatus::Failed;
    }
    // A device (such as NUL) has no length to cut.
    if (IsDiskFile(file) && !::SetEndOfFile(file)) {
        ::CloseHandle(file);
        return TOpenStatus::Failed;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return TOpenStatus::Opened;
}

TFile::TOpenStatus TFile::OpenForAppend(std::string_view path) {
    Close();
    HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? TOpenStatus::InUse
                                                           : TOpenStatus::Failed;
    }
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_END)) {
        ::CloseHandle(file);
        return TOpenStatus::Failed;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return TOpenStatus::Opened;
}

bool TFile::Write(std::string_view bytes) {
    if (!IsOpen())
        return false;
    HANDLE file = Handle(handle_);
    LARGE_INTEGER start{};
    const bool known = ::SetFilePointerEx(file, LARGE_INTEGER{}, &start, FILE_CURRENT) != 0;
    if (WriteAll(file, bytes))
        return true;
    if (known && IsDiskFile(file) && ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        ::SetEndOfFile(file);
    return false;
}

bool TFile::Flush() {
    if (!IsOpen())
        return false;
    HANDLE file = Handle(handle_);
    // A device has nothing to flush to; only a disk file's failure counts.
    return ::FlushFileBuffers(file) != 0 || !IsDiskFile(file);
}

void TFile::Close() {
    if (!IsOpen())
        return;
    ::CloseHandle(Handle(handle_));
    handle_ = kClosed;
}

}  // namespace vendilox::platform::files
