// The end-to-end tests run in a network namespace of their own: the program refuses a second
// instance in the same namespace (its guard is an abstract socket), and the simulator's port and
// the program's connection then stay on a loopback that no other test shares. So ctest can run
// the cases side by side. Children inherit the namespace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "harness.hpp"

namespace {

using vendilox::e2e::LoopbackUp;

bool WriteProc(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

// Enters a network namespace of its own: directly with the privilege for it, otherwise inside a
// user namespace of its own where this user is root. False when neither is permitted; the cases
// then share the machine's namespace and CMake has them run one at a time.
bool EnterOwnNetworkNamespace() {
    if (::unshare(CLONE_NEWNET) == 0)
        return LoopbackUp();
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return false;
    return WriteProc("/proc/self/setgroups", "deny") &&
           WriteProc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
           WriteProc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1") && LoopbackUp();
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests for ctest needs no namespace.
    if (!GTEST_FLAG_GET(list_tests) && !EnterOwnNetworkNamespace()) {
        std::fprintf(stderr,
                     "note: no network namespace of its own (%s); the cases share this machine's "
                     "and must run one at a time\n",
                     std::strerror(errno));
    }
    return RUN_ALL_TESTS();
}
