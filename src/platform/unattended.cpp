#include "platform/unattended.hpp"

#include <unistd.h>
#ifndef _WIN32
#include <pthread.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "protocol/cp1250.hpp"

namespace vendilox::platform {

bool UnattendedMode() {
    const char* value = std::getenv(kUnattendedVariable);
    return value != nullptr && std::string_view(value) == "1";
}

std::string UnattendedLine(std::string_view kind, std::string_view cp1250Text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line(kind);
    line += ": ";
    std::string plain;  // a run of bytes that need no escape, converted as a whole
    auto flush = [&] {
        line += Cp1250ToUtf8(plain);
        plain.clear();
    };
    for (char c : cp1250Text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            flush();
            line += "\\x";
            line += kHex[byte >> 4];
            line += kHex[byte & 0x0F];
        } else if (c == '\\') {
            flush();
            line += "\\\\";
        } else {
            plain.push_back(c);
        }
    }
    flush();
    return line;
}

namespace {

#ifndef _WIN32
// A write to a pipe whose reader has gone raises SIGPIPE, which would end the program in the
// middle of a transaction, the terminal left unconfirmed. While this object lives, SIGPIPE is
// held back for the calling thread; one that a write raised meanwhile is then taken off again,
// so the write only fails with EPIPE.
class TBrokenPipeGuard {
  public:
    TBrokenPipeGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        // One already waiting is not this write's to take away.
        pendingBefore_ = ::sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        held_ = ::pthread_sigmask(SIG_BLOCK, &pipe_, &previous_) == 0;
    }
    ~TBrokenPipeGuard() {
        if (!held_)
            return;
        const int error = errno;
        if (broken_ && !pendingBefore_) {
            const timespec none{};
            while (::sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
        errno = error;
    }
    TBrokenPipeGuard(const TBrokenPipeGuard&) = delete;
    TBrokenPipeGuard& operator=(const TBrokenPipeGuard&) = delete;

    void Broken() { broken_ = true; }

  private:
    sigset_t pipe_{};
    sigset_t previous_{};
    bool pendingBefore_ = false;
    bool held_ = false;
    bool broken_ = false;
};
#else
// Windows has no SIGPIPE: a write to a closed pipe only fails.
struct TBrokenPipeGuard {
    void Broken() {}
};
#endif

}  // namespace

void WriteUnattendedLine(std::string_view kind, std::string_view cp1250Text) {
    std::string line = UnattendedLine(kind, cp1250Text);
    line.push_back('\n');
    TBrokenPipeGuard guard;
    std::string_view rest = line;
    while (!rest.empty()) {
        ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EPIPE)
                guard.Broken();
            // Standard error is gone; there is nobody left to tell, and the run goes on.
            return;
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace vendilox::platform
