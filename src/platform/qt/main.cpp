// The executable: the Qt application, the Qt platform, and the program's entry.
#include <stdlib.h>

#include <QApplication>

#include <memory>
#include <string>
#include <vector>

#include "control/CommandLine.hpp"
#include "control/Entry.hpp"
#include "platform/qt/qt_platform.hpp"
#include "protocol/cp1250.hpp"

namespace {

// The executable's own full path, in Windows-1250 like every text of the program; empty when the
// system does not tell it.
std::string ExecutablePath() {
    std::unique_ptr<char, decltype(&::free)> path(::realpath("/proc/self/exe", nullptr), &::free);
    return path ? vendilox::Utf8ToCp1250(path.get()) : std::string();
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> params = vendilox::ParamsFromArgv(argc, argv);
    // The command line belongs to the program: Qt gets only the program name, so that a
    // parameter can never be taken (and removed) as a toolkit option such as -style or -platform.
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    vendilox::platform::qt::QtPlatform platform;
    return vendilox::RunVendilox(platform, std::move(params), ExecutablePath());
}
