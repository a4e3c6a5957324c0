// vendilox-terminal-sim: a payment terminal on a TCP port or a serial line, for trying
// vendilox_ecr and testing a POS integration without a terminal on the desk.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "link.hpp"
#include "options.hpp"
#include "replay.hpp"
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

// Plays one journalled run; the simulator then waits for the program to close its side.
int ServeReplay(const Options& options, const ReplayPlan& plan, Link& link, TcpLink* tcp) {
    Session session(options, link);
    std::string inbox;
    if (tcp != nullptr && !tcp->Accept())
        return 0;
    if (session.Replay(plan, inbox) && link.SeesClose())
        session.HoldAfter(1, inbox);
    if (tcp != nullptr)
        tcp->Disconnect();
    return 0;
}

int Serve(const Options& options, const ReplayPlan* plan, Link& link, TcpLink* tcp) {
    return plan != nullptr ? ServeReplay(options, *plan, link, tcp) : Serve(options, link, tcp);
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
    ReplayPlan plan;
    if (!options.replay_file.empty()) {
        std::ifstream in(options.replay_file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot read %s\n", kProgram, options.replay_file.c_str());
            return 1;
        }
        try {
            plan =
                PlanReplay(std::string(std::istreambuf_iterator<char>(in), {}), options.replay_run);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s: %s\n", kProgram, options.replay_file.c_str(), e.what());
            return 1;
        }
    }
    const ReplayPlan* replay = options.replay_file.empty() ? nullptr : &plan;
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
        return Serve(options, replay, link, &link);
    }

    SerialLink link;
    const bool pty = options.link == LinkMode::Pty;
    const std::string error = pty ? link.OpenPty() : link.OpenDevice(options.serial_path);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        return 1;
    }
    PrintLine((pty ? "pty " : "serial ") + link.Path());
    return Serve(options, replay, link, nullptr);
}
