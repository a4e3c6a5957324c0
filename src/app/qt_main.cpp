// The executable on Linux: the Qt application, the Qt platform, and the program's entry.
#include <stdlib.h>

#include <QApplication>

#include <csignal>
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

// A parameter in the system's UTF-8 becomes Windows-1250, so that a Czech invoice number is
// measured and sent as the terminal expects it. A parameter that is not UTF-8, or has a character
// Windows-1250 lacks, is passed on byte for byte rather than with characters replaced.
std::string ParameterToCp1250(const std::string& argument) {
    std::string_view text = argument;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = vendilox::cp1250::DecodeUtf8(text, i);
        if (cp == 0xFFFD || vendilox::cp1250::FromUnicode(cp) < 0)
            return argument;
    }
    return vendilox::Utf8ToCp1250(text);
}

}  // namespace

int main(int argc, char* argv[]) {
    // A caller that stops reading the program's standard error (unattended mode) or a peer that
    // is gone must never end the run in the middle of a transaction: a write to a closed pipe
    // then fails with EPIPE instead of raising SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> params = vendilox::ParamsFromArgv(argc, argv);
    for (std::string& param : params)
        param = ParameterToCp1250(param);
    // The command line belongs to the program: Qt gets only the program name, so that a
    // parameter can never be taken (and removed) as a toolkit option such as -style or -platform.
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    vendilox::platform::qt::QtPlatform platform;
    return vendilox::RunVendilox(platform, std::move(params), ExecutablePath());
}
