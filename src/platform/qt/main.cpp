// The executable: the Qt platform under the program's own entry.
#include <QApplication>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/CommandLine.hpp"
#include "control/Entry.hpp"
#include "platform/qt/QtPlatform.hpp"
#include "protocol/cp1250.hpp"

namespace {

// The executable's own full path, as the program holds texts.
std::string ExecutablePath(const char* argv0) {
    char resolved[PATH_MAX];
    if (::realpath("/proc/self/exe", resolved) != nullptr)
        return vendilox::Utf8ToCp1250(resolved);
    return vendilox::Utf8ToCp1250(argv0 != nullptr ? argv0 : "");
}

}  // namespace

int main(int argc, char** argv) {
    // The command line belongs to the program: it is read before Qt is started, and Qt gets only
    // the program name, so that no parameter is ever taken as a toolkit option.
    std::vector<std::string> params = vendilox::ParamsFromArgv(argc, argv);
    std::string exePath = ExecutablePath(argc > 0 ? argv[0] : nullptr);

    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("vendilox_ecr"), nullptr};
    QApplication application(qtArgc, qtArgv);

    vendilox::platform::qt::QtPlatform platform;
    return vendilox::RunVendilox(platform, std::move(params), std::move(exePath));
}
