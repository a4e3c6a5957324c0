// vendilox-terminal-sim: a payment terminal on a TCP port or a serial line, for trying
// vendilox_ecr and testing a POS integration without a terminal on the desk.
#include <cstdio>
#include <string>

#include "link.hpp"
#include "options.hpp"
#include "session.hpp"

namespace {

using namespace vendilox::sim;

constexpr const char* kProgram = "vendilox-terminal-sim";

void PrintLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Serves transactions until a stop, or until --count of them are done. After the last one the
// simulator waits for the program to close its side, so that the program never sees its
// terminal vanish in the middle of its own closing.
int Serve(const Options& options, Link& link, TcpLink* tcp) {
    Session session(options, link);
    std::string inbox;
    long done = 0;
    while (!stop::Requested()) {
        if (tcp != nullptr) {
            if (!tcp->Accept())
                break;
            inbox.clear();
        }
        const auto outcome = session.Run(inbox);
        if (!outcome)
            break;
        PrintLine(FormatLine(++done, link.Name(), options, *outcome));
        const bool last = options.count > 0 && done >= options.count;
        const bool open = outcome->end == "reply" || outcome->end == "timeout";
        if (open && (!last || link.SeesClose()))
            session.HoldAfter(done, inbox);
        if (tcp != nullptr)
            tcp->Disconnect();
        if (last)
            break;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = ParseOptions(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        return 2;
    }
    if (options.help) {
        std::fputs(HelpText(), stdout);
        return 0;
    }
    if (!stop::Install()) {
        std::perror(kProgram);
        return 1;
    }

    if (options.link == LinkMode::Tcp) {
        TcpLink link;
        const std::string error = link.Listen(options.listen_address, options.listen_port);
        if (!error.empty()) {
            std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
            return 1;
        }
        PrintLine("listening " + options.listen_address + ":" + std::to_string(link.Port()));
        return Serve(options, link, &link);
    }

    SerialLink link;
    const bool pty = options.link == LinkMode::Pty;
    const std::string error = pty ? link.OpenPty() : link.OpenDevice(options.serial_path);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return 1;
    }
    PrintLine((pty ? "pty " : "serial ") + link.Path());
    return Serve(options, link, nullptr);
}
