// The program's files on POSIX: UTF-8 names, descriptors closed on exec, an advisory lock for
// the result file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

#include "platform/files.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox::platform::files {

namespace {

std::string SystemPath(std::string_view path) {
    return Cp1250ToUtf8(path);
}

int Fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

bool IsRegularFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

// The directory part of a path, for flushing a rename in it to the device.
std::string DirectoryOf(const std::string& systemPath) {
    const std::size_t slash = systemPath.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : systemPath.substr(0, slash);
}

}  // namespace

TReadStatus ReadWholeFile(std::string_view path, std::size_t maxBytes, std::string& content) {
    content.clear();
    const int fd = ::open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? TReadStatus::NotFound : TReadStatus::Failed;
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            return TReadStatus::Failed;
        }
        if (got == 0)
            break;
        // Measured by what it gives, not by a size asked for before: a device has none, and a
        // file may grow while it is read.
        if (static_cast<std::size_t>(got) > maxBytes - bytes.size()) {
            ::close(fd);
            return TReadStatus::TooLarge;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    content = std::move(bytes);
    return TReadStatus::Ok;
}

bool ReplaceWholeFile(std::string_view path, std::string_view content) {
    const std::string systemPath = SystemPath(path);
    struct stat old {};
    const bool hadFile = ::stat(systemPath.c_str(), &old) == 0;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary =
            systemPath + "." + std::to_string(::getpid()) + "." + std::to_string(attempt) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, content);
    if (ok && hadFile)
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    // Flushed before the rename, so that a power loss right after it cannot leave an empty file.
    if (ok)
        ok = ::fsync(fd) == 0;
    if (::close(fd) != 0)
        ok = false;
    if (ok)
        ok = ::rename(temporary.c_str(), systemPath.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the device with its directory. The file is already replaced
    // when this fails, so the outcome does not depend on it.
    const int directory = ::open(DirectoryOf(systemPath).c_str(), O_RDONLY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return true;
}

TPathInfo Inspect(std::string_view path) {
    struct stat info {};
    if (::stat(SystemPath(path).c_str(), &info) != 0)
        return {};
    if (S_ISDIR(info.st_mode))
        return {TPathKind::Directory, 0};
    if (!S_ISREG(info.st_mode))
        return {TPathKind::Other, 0};
    return {TPathKind::RegularFile, static_cast<std::uint64_t>(info.st_size)};
}

bool ListDirectory(std::string_view path, std::vector<std::string>& names) {
    names.clear();
    struct TCloseDir {
        void operator()(DIR* directory) const { ::closedir(directory); }
    };
    std::unique_ptr<DIR, TCloseDir> directory(::opendir(SystemPath(path).c_str()));
    if (!directory)
        return false;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory.get());
        if (entry == nullptr)
            break;
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        names.push_back(Utf8ToCp1250(name));
    }
    if (errno != 0) {
        names.clear();
        return false;
    }
    return true;
}

bool RemoveFile(std::string_view path) {
    return ::unlink(SystemPath(path).c_str()) == 0 || errno == ENOENT;
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
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::pread(static_cast<int>(handle_), buffer, sizeof buffer,
                                    static_cast<off_t>(content.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        content.append(buffer, static_cast<std::size_t>(got));
    }
}

TFile::~TFile() {
    Close();
}

TFile::TOpenStatus TFile::OpenExclusive(std::string_view path) {
    Close();
    // Opened without truncation first: a file that another run still holds must keep its
    // content, so it is emptied only once this process holds the lock.
    const int fd = ::open(SystemPath(path).c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0)
        return TOpenStatus::Failed;
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    // Only a lock held elsewhere refuses the file; a file system that cannot lock at all still
    // gets its file.
    if (locked != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return TOpenStatus::InUse;
    }
    // A device (such as a terminal or /dev/null) has no length to cut.
    if (IsRegularFile(fd) && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return TOpenStatus::Failed;
    }
    handle_ = fd;
    return TOpenStatus::Opened;
}

TFile::TOpenStatus TFile::OpenForAppend(std::string_view path) {
    Close();
    const int fd =
        ::open(SystemPath(path).c_str(), O_CREAT | O_WRONLY | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return TOpenStatus::Failed;
    // The position is the end from the start, so that a failed write knows where it began.
    if (::lseek(fd, 0, SEEK_END) < 0) {
        ::close(fd);
        return TOpenStatus::Failed;
    }
    handle_ = fd;
    return TOpenStatus::Opened;
}

bool TFile::Write(std::string_view bytes) {
    if (!IsOpen())
        return false;
    const int fd = Fd(handle_);
    const off_t start = ::lseek(fd, 0, SEEK_CUR);
    if (WriteAll(fd, bytes))
        return true;
    if (start >= 0 && IsRegularFile(fd) && ::ftruncate(fd, start) == 0)
        ::lseek(fd, start, SEEK_SET);
    return false;
}

bool TFile::Flush() {
    if (!IsOpen())
        return false;
    const int fd = Fd(handle_);
    // A device or pipe has nothing to flush to; only a real failure counts.
    return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
}

void TFile::Close() {
    if (!IsOpen())
        return;
    ::close(Fd(handle_));
    handle_ = kClosed;
}

}  // namespace vendilox::platform::files
