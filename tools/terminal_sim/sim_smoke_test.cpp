// Drives the built simulator the way the program does: a request framed by hand, the terminal's
// frames checked byte for byte, and the program's answers sent back.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/frame.hpp"

extern char** environ;

namespace vendilox {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWait = std::chrono::seconds(5);

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The simulator as a child process with its standard output and error on pipes.
class Simulator {
  public:
    explicit Simulator(std::vector<std::string> args) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        args.insert(args.begin(), VENDILOX_TERMINAL_SIM);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    ~Simulator() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }

    // The next line of standard output, without its line end; empty after five seconds.
    std::string ReadLine() {
        const auto deadline = Clock::now() + kWait;
        for (;;) {
            const std::size_t nl = stdout_.find('\n');
            if (nl != std::string::npos) {
                std::string line = stdout_.substr(0, nl);
                stdout_.erase(0, nl + 1);
                return line;
            }
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, MsLeft(deadline)) <= 0)
                return {};
            char buffer[512];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0)
                return {};
            stdout_.append(buffer, static_cast<std::size_t>(n));
        }
    }

    // Waits for the process to end by itself; its exit code, or -1 when it did not end in time.
    int Wait() {
        const auto deadline = Clock::now() + kWait;
        while (Clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            poll(nullptr, 0, 10);
        }
        return -1;
    }

    std::string Stderr() {
        std::string text;
        char buffer[512];
        ssize_t n;
        while ((n = read(err_, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string stdout_;
};

std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        const auto eq = word.find('=');
        if (eq != std::string::npos)
            fields[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return fields;
}

// A request frame as the program composes it, with a body of tagged fields.
std::string Request(const std::string& body, const std::string& datetime = "180816143005") {
    return std::string(1, STX) + "B001" + std::string(8, ' ') + datetime + "0000" +
           LengthText(body.size()) + CrcText(Crc16(body)) + body + std::string(1, ETX);
}

std::string Body(std::initializer_list<const char*> fields) {
    std::string body;
    for (const char* f : fields)
        body.append(1, FS).append(f);
    return body;
}

// One side of the program's link: a connected socket or an open pseudo-terminal.
class Peer {
  public:
    explicit Peer(int fd) : fd_(fd) {}
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    ~Peer() { Close(); }

    static int Connect(int port) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd);
            return -1;
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return fd;
    }

    void Send(const std::string& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    // The next frame, STX to ETX; empty when none came within five seconds.
    std::string ReadFrame() {
        const auto deadline = Clock::now() + kWait;
        for (;;) {
            const std::size_t etx = pending_.find(ETX);
            if (etx != std::string::npos) {
                std::string frame = pending_.substr(0, etx + 1);
                pending_.erase(0, etx + 1);
                return frame;
            }
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, MsLeft(deadline)) <= 0)
                return {};
            char buffer[512];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0)
                return {};
            pending_.append(buffer, static_cast<std::size_t>(n));
        }
    }

    // Whether the simulator sent nothing before it closed the connection.
    bool ClosedWithoutData() {
        char byte;
        pollfd p{fd_, POLLIN, 0};
        return pending_.empty() && poll(&p, 1, MsLeft(Clock::now() + kWait)) == 1 &&
               read(fd_, &byte, 1) == 0;
    }

    void ShutdownWrite() { shutdown(fd_, SHUT_WR); }

    void Close() {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
    std::string pending_;
};

int ListeningPort(Simulator& sim) {
    const std::string line = sim.ReadLine();
    const std::string prefix = "listening 127.0.0.1:";
    if (line.rfind(prefix, 0) != 0)
        return -1;
    return std::stoi(line.substr(prefix.size()));
}

std::string Header(const std::string& frame) {
    return frame.substr(1, header::kLength);
}

// The terminal's activity confirmation: a header without a body, for an empty body.
void ExpectActivityConfirmation(const std::string& frame) {
    ASSERT_EQ(frame.size(), kHeaderOnlyFrameLength);
    EXPECT_EQ(frame.find(FS), std::string::npos);
    const std::string h = Header(frame);
    EXPECT_EQ(h.substr(0, 12), "B00187654321");
    EXPECT_EQ(h.substr(12, 12).find_first_not_of("0123456789"), std::string::npos) << h;
    EXPECT_EQ(h.substr(24), "000100000000");
}

// A final response: fixed header fields, the current time, and the given body; the checksum
// text matches the body unless the response is meant to be refused.
void ExpectResponse(const std::string& frame, const std::string& body, bool crc_matches) {
    ASSERT_GT(frame.size(), kHeaderOnlyFrameLength);
    const std::string h = Header(frame);
    EXPECT_EQ(h.substr(0, 12), "B00187654321");
    EXPECT_EQ(h.substr(12, 12).find_first_not_of("0123456789"), std::string::npos) << h;
    EXPECT_EQ(h.substr(24, 4), "0001");
    EXPECT_EQ(h.substr(28, 4), LengthText(body.size()));
    EXPECT_EQ(h.substr(32, 4) == CrcText(Crc16(body)), crc_matches) << h;
    EXPECT_EQ(frame.substr(kBodyFramePos - 1, frame.size() - kBodyFramePos), body);
    EXPECT_EQ(frame.back(), ETX);
}

std::string Confirmation(const std::string& response) {
    return std::string(1, STX) + Header(response).substr(0, 30) + "00A5A5" + std::string(1, ETX);
}

std::string Rejection(const std::string& response) {
    return std::string(1, STX) + Header(response) + std::string(1, FS) + "R106" +
           std::string(1, ETX);
}

const std::string kApprovedPurchase =
    Body({"R000", "T00", "B12345", "P411111******1111", "F12345678", "JVISA", "L0000123"});

TEST(TerminalSimTcp, ApprovesAPurchaseSentInPiecesAndChecksTheConfirmation) {
    Simulator sim({"--listen", "127.0.0.1:0", "--count", "1", "--confirm-interval", "10",
                   "--response-delay", "10"});
    const int port = ListeningPort(sim);
    ASSERT_GT(port, 0);
    Peer program(Peer::Connect(port));
    const std::string request = Request(Body({"T00", "B12345"}));
    program.Send(request.substr(0, 7));
    program.Send(request.substr(7, 30));
    program.Send(request.substr(37));

    ExpectActivityConfirmation(program.ReadFrame());
    const std::string response = program.ReadFrame();
    ExpectResponse(response, kApprovedPurchase, true);
    program.Send(Confirmation(response));

    auto f = Fields(sim.ReadLine());
    EXPECT_EQ(f["request"], "ok");
    EXPECT_EQ(f["type"], "00");
    EXPECT_EQ(f["amount"], "12345");
    EXPECT_EQ(f["confirmations"], "1");
    EXPECT_EQ(f["answer"], "approve");
    EXPECT_EQ(f["code"], "000");
    EXPECT_EQ(f["reply"], "confirm");
    EXPECT_EQ(f["end"], "reply");
    const std::string body = Body({"T00", "B12345"});
    EXPECT_EQ(f["req_header"], "B001%20%20%20%20%20%20%20%201808161430050000" +
                                   LengthText(body.size()) + CrcText(Crc16(body)));
    EXPECT_EQ(f["req_body"], "%1CT00%1CB12345");

    // The simulator ends once the program has closed its side.
    program.Close();
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(TerminalSimTcp, RepeatsTheResponseWithTheRightChecksumAfterARejection) {
    Simulator sim({"--listen", "127.0.0.1:0", "--count", "1", "--scenario", "crc-error-once",
                   "--confirmations", "0", "--response-delay", "10"});
    const int port = ListeningPort(sim);
    ASSERT_GT(port, 0);
    Peer program(Peer::Connect(port));
    program.Send(Request(Body({"T00", "B12345"})));

    const std::string bad = program.ReadFrame();
    ExpectResponse(bad, kApprovedPurchase, false);
    program.Send(Rejection(bad));
    const std::string good = program.ReadFrame();
    ExpectResponse(good, kApprovedPurchase, true);
    program.Send(Confirmation(good));

    auto f = Fields(sim.ReadLine());
    EXPECT_EQ(f["answer"], "bad-crc+approve");
    EXPECT_EQ(f["first_reply"], "reject");
    EXPECT_EQ(f["reply"], "confirm");
    EXPECT_EQ(f["confirmations"], "0");
}

// A response body of 256 bytes or more has a length text that does not begin with "00"; only
// then does a confirmation that copies 28 header bytes instead of 30 differ from the right one.
TEST(TerminalSimTcp, JudgesTheConfirmationByTheFirstThirtyHeaderBytes) {
    const std::string batch(300, '7');
    struct Case {
        const char* name;
        bool thirty;
        const char* reply;
    } cases[] = {{"30 header bytes", true, "confirm"}, {"28 header bytes", false, "unexpected"}};
    Simulator sim({"--listen", "127.0.0.1:0", "--confirmations", "0", "--response-delay", "0",
                   "--batch", batch});
    const int port = ListeningPort(sim);
    ASSERT_GT(port, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer program(Peer::Connect(port));
        program.Send(Request(Body({"T10", "B500", "FABCDEFGH"})));
        const std::string response = program.ReadFrame();
        const std::string body = Body({"R000", "T10", "B500", "P411111******1111", "F12345678",
                                       "JVISA", ("L" + batch).c_str()});
        ExpectResponse(response, body, true);
        ASSERT_EQ(Header(response).substr(28, 2), "01");
        program.Send(c.thirty ? Confirmation(response)
                              : std::string(1, STX) + Header(response).substr(0, 28) + "0000A5A5" +
                                    std::string(1, ETX));
        auto f = Fields(sim.ReadLine());
        EXPECT_EQ(f["auth"], "ABCDEFGH");
        EXPECT_EQ(f["reply"], c.reply);
        program.Close();
    }
}

// Requests the terminal must not act on; one simulator serves them one connection after another.
TEST(TerminalSimTcp, ReportsBadRequestsAndLeavesThemUnanswered) {
    const std::string body = Body({"T00", "B100"});
    std::string wrong_crc = Request(body);
    wrong_crc[36] = wrong_crc[36] == '0' ? '1' : '0';
    std::string wrong_length = Request(body);
    wrong_length[32] = 'A';
    struct Case {
        const char* name;
        std::string frame;
        const char* request;
        const char* reason;
    } cases[] = {
        {"checksum", wrong_crc, "bad-crc", ""},
        {"length", wrong_length, "bad-length", ""},
        {"no STX", Request(body).substr(1), "bad-frame", "no-stx"},
        {"hour 24", Request(body, "180816243005"), "bad-frame", "datetime"},
        {"empty field", Request(Body({"T00", "", "B100"})), "bad-frame", "field"},
    };
    Simulator sim({"--listen", "127.0.0.1:0", "--confirm-interval", "0", "--response-delay", "0"});
    const int port = ListeningPort(sim);
    ASSERT_GT(port, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer program(Peer::Connect(port));
        program.Send(c.frame);
        // The program gives up and closes its side; the simulator has sent nothing by then.
        program.ShutdownWrite();
        auto f = Fields(sim.ReadLine());
        EXPECT_TRUE(program.ClosedWithoutData());
        EXPECT_EQ(f["request"], c.request);
        EXPECT_EQ(f["reason"], c.reason);
        EXPECT_EQ(f["answer"], "none");
        EXPECT_EQ(f["end"], "closed");
    }
}

TEST(TerminalSimTcp, DisconnectScenarioClosesRightAfterTheRequest) {
    Simulator sim({"--listen", "127.0.0.1:0", "--count", "1", "--scenario", "disconnect"});
    const int port = ListeningPort(sim);
    ASSERT_GT(port, 0);
    Peer program(Peer::Connect(port));
    program.Send(Request(Body({"T04", "B100"})));
    EXPECT_TRUE(program.ClosedWithoutData());
    auto f = Fields(sim.ReadLine());
    EXPECT_EQ(f["answer"], "disconnect");
    EXPECT_EQ(sim.Wait(), 0);
}

// The program opens the port for a run and closes it at its end; the next run opens it again.
TEST(TerminalSimPty, ServesOneTransactionPerOpeningOfThePort) {
    Simulator sim({"--pty", "--count", "2", "--confirmations", "0", "--response-delay", "0"});
    const std::string line = sim.ReadLine();
    ASSERT_EQ(line.rfind("pty /dev/", 0), 0u) << line;
    const std::string path = line.substr(4);
    for (const char* amount : {"100", "200"}) {
        SCOPED_TRACE(amount);
        Peer program(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        program.Send(Request(Body({"T00", (std::string("B") + amount).c_str()})));
        const std::string response = program.ReadFrame();
        ASSERT_FALSE(response.empty());
        program.Send(Confirmation(response));
        auto f = Fields(sim.ReadLine());
        EXPECT_EQ(f["link"], "serial");
        EXPECT_EQ(f["amount"], amount);
        EXPECT_EQ(f["reply"], "confirm");
    }
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(TerminalSimCommandLine, RefusesBadOptionsWithExitCodeTwo) {
    struct Case {
        std::vector<std::string> args;
        const char* names;  // what the message must mention
    } cases[] = {
        {{"--scenario", "refund-everything"}, "refund-everything"},
        {{"--scenario", "decline:1234"}, "1234"},
        {{"--count", "0"}, "--count"},
        {{"--confirm-interval", "-5"}, "--confirm-interval"},
        {{"--listen", "localhost:80"}, "localhost"},
        {{"--listen", "127.0.0.1"}, "--listen"},
        {{"--terminal-id", "1234"}, "--terminal-id"},
        {{"--pty", "--listen", "127.0.0.1:0"}, "exclude"},
        {{"--pty", "--scenario", "disconnect"}, "TCP"},
        {{"--pty", "--scenario", "reset"}, "TCP"},
        {{"--scenario", "code:1234"}, "1234"},
        {{"--scenario", "code"}, "code"},
        {{"--no-such-option"}, "--no-such-option"},
        {{"--count"}, "--count"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        Simulator sim(c.args);
        EXPECT_EQ(sim.Wait(), 2);
        EXPECT_NE(sim.Stderr().find(c.names), std::string::npos);
    }
}

}  // namespace
}  // namespace vendilox
