#include "control/Report.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "control/SystemPath.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox {

namespace {

bool IsRegularFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

TOutputFile::~TOutputFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

void TOutputFile::Create(const std::string& path) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    path_ = path;
    const std::string failure = "Cannot create file " + path;

    // The file is opened without truncation first: a file that another run still holds must
    // keep its report, so it is emptied only once this process holds the lock.
    int fd = ::open(SystemPath(path).c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0)
        throw EFCreateError(failure);
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    // Only a lock held elsewhere refuses the file; a file system that cannot lock at all still
    // gets its result file.
    if (locked != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        throw EFCreateError(failure);
    }
    // A device (such as a terminal or /dev/null) has no length to cut.
    if (IsRegularFile(fd) && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        throw EFCreateError(failure);
    }
    fd_ = fd;
}

void TOutputFile::Write(std::string_view bytes) {
    const std::string failure = "Cannot write to file " + path_;
    if (fd_ < 0)
        throw EWriteError(failure);
    const off_t start = ::lseek(fd_, 0, SEEK_CUR);
    std::string_view rest = bytes;
    while (!rest.empty()) {
        ssize_t put = ::write(fd_, rest.data(), rest.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            // The caller must not find half a report: what this write added is cut off again,
            // so the file holds the reports written before it, whole.
            if (start >= 0 && IsRegularFile(fd_) && ::ftruncate(fd_, start) == 0) {
                ::lseek(fd_, start, SEEK_SET);
            }
            throw EWriteError(failure);
        }
        rest.remove_prefix(static_cast<std::size_t>(put));
    }
    // No flush to the disk: the caller reads the file after this process has ended, and the
    // system serves it from its cache; only a power loss in that moment would lose it.
}

void CreateOutputFile(platform::IReportMemo& memo3, const std::string& outputPath,
                      TOutputFile& file) {
    memo3.Clear();
    file.Create(outputPath);
    file.Write(memo3.Text());
}

void WriteReport(const TTransactionResult& result, platform::IReportMemo& memo3,
                 TOutputFile& file) {
    memo3.Clear();

    std::string summary;
    for (const std::string* field :
         {&result.ResponseCode, &result.TerminalNumber, &result.BatchNumber, &result.TypeCode,
          &result.CardTypeCode, &result.CardNumber, &result.AuthorizationCode,
          &result.TransactionDate, &result.TransactionTime, &result.AmountDigits,
          &result.HeaderFlag}) {
        summary += *field;
        summary += '|';
    }
    memo3.AppendLine(summary);
    memo3.AppendLine(std::string(35, '-'));

    auto labelled = [&memo3](std::string_view label, std::string_view text) {
        std::string line(label);
        line += text;
        memo3.AppendLine(line);
    };
    labelled("Stav po zpracování: "_w1250, result.StatusText);
    labelled("Číslo terminálu POS: "_w1250, result.TerminalNumber);
    labelled("Číslo dávky: "_w1250, result.BatchNumber);
    labelled("Typ transakce: "_w1250, result.TypeName);
    labelled("Typ karty: "_w1250, result.CardName);
    labelled("Číslo karty: "_w1250, result.CardNumber);
    labelled("Autorizační kód: "_w1250, result.AuthorizationCode);
    labelled("Datum transakce: "_w1250, result.TransactionDate);
    labelled("Čas transakce: "_w1250, result.TransactionTime);
    labelled("Částka transakce: "_w1250, result.AmountText + std::string(" Kč"_w1250));

    // The report reaches the file in one write, so it is either there whole or not at all.
    file.Write(memo3.Text());
}

}  // namespace vendilox
