#include "options.hpp"

#include <arpa/inet.h>
#include <getopt.h>

#include <charconv>
#include <string_view>

#include "protocol/cp1250.hpp"

namespace vendilox::sim {

namespace {

constexpr long kMaxMs = 3'600'000;

const char kHelp[] = R"(Usage: vendilox-terminal-sim [OPTION]...
Plays a payment terminal for vendilox_ecr, over TCP or a serial line, so that the program and a
POS integration can be tried without a terminal. Each transaction is: the program's request is
read and checked, the terminal answers as the scenario says, and the program's answer to the
response is checked. One line per transaction goes to standard output.

Link (one of):
  --listen ADDR:PORT      listen for the program's TCP connection (default 127.0.0.1:2050);
                          port 0 picks a free port. First output line: "listening ADDR:PORT".
                          One transaction per connection, connections served one after another.
  --pty                   create a pseudo-terminal and play the terminal on its master side;
                          first output line: "pty PATH", the port name for the settings file.
                          The program may close and reopen the port between transactions.
  --serial PATH           use a serial device (raw, 9600 baud, 8N1); first line: "serial PATH".

Scenario:
  --scenario NAME         how the terminal answers (default approve):
      approve             activity confirmations, then an approving response (code 000)
      decline[:CODE]      the same, but declined with response code CODE (1 to 3 digits,
                          default 61); a declined response carries no authorization code
      crc-error-once      a response with a wrong checksum first; after the program's
                          checksum-error frame, the same response with the right checksum
      silent              never answers
      confirm-only        activity confirmations every --confirm-interval, never a response
                          (without end unless --confirmations is given)
      slow                like approve, with 3 confirmations 2000 ms apart unless
                          --confirmations / --confirm-interval say otherwise
      chunked             like approve, the response written in pieces of --chunk-size bytes
                          with --chunk-delay between them
      garbage[:HEX]       confirmations, then bytes that are not a frame instead of the
                          response: by default "NOT A FRAME" ETX FS "?", or the bytes written
                          in HEX (pairs of hexadecimal digits)
      disconnect          closes the connection right after the request (TCP only)
      together            like approve, but the last activity confirmation and the response
                          are written in one piece, as one TCP read may deliver them
      code:TEXT           like approve, but the response code is TEXT, sent as given: 0 to 3
                          printable characters, digits or not (code: gives an empty R field)
      reset               like approve, and once the program has confirmed the response, the
                          connection is reset 200 ms later (TCP only)

Timing (milliseconds, 0 to 3600000):
  --confirmations N       activity confirmations before the response (default 1)
  --confirm-interval MS   from the request to the first confirmation and between
                          confirmations (default 200)
  --response-delay MS     from the last confirmation (or the request) to the response
                          (default 300)
  --reply-timeout MS      how long the program's answer to a response is awaited (default 5000)
  --request-timeout MS    how long a request that has begun may take to complete (default 10000)
  --chunk-size N          bytes per piece in the chunked scenario (default 4); given with
                          crc-error-once, both of its responses are sent in such pieces
  --chunk-delay MS        pause between pieces in the chunked scenario (default 50)

Response content (texts in UTF-8, sent in Windows-1250):
  --terminal-id ID        terminal identifier in the header, exactly 8 characters
                          (default 87654321)
  --card TEXT             card number after P (default 411111******1111)
  --card-name TEXT        card name after J (default VISA)
  --auth-code TEXT        authorization code after F (default 12345678)
  --batch TEXT            batch number after L (default 0000123)
  The response echoes the request's T and B fields, carries the current local time in the
  header and the response code in R. A terminal closing (T60) carries no card fields.

Replay of a run from the program's transaction journal (instead of a scenario):
  --replay FILE           plays the terminal's side of a journalled run: the program's
                          request is awaited, then the recorded chunks are sent in their order,
                          with the pauses they arrived with; a chunk recorded after one of the
                          program's frames waits for the program's frame of that place. Frames
                          whose card number the journal masked get the checksum the terminal's
                          frame had: recomputed where the program found it right, as recorded
                          where it found it wrong. Output: one line per frame of the program,
                          "replay frame=N recorded=... got=... same=yes|no" (the request's date
                          and time are not compared), then "replay run=ID chunks=N frames=N
                          same=yes|no". The simulator ends once the program has closed its side.
  --run ID                the run to replay (the "run" of its records); default: the file's
                          last run

Other:
  --count N               end after N transactions (default: run until SIGTERM or SIGINT)
  --verbose               every byte sent and received, in hexadecimal, on standard error
  -h, --help              this text

Output: one line per transaction, blank-separated key=value pairs, always the same keys in this
order; bytes outside 0x21-0x7E and '%' in values are written %XX:
  txn               number of the transaction, from 1
  link              tcp or serial
  scenario          the scenario as given
  request           ok, bad-frame, bad-length, bad-crc (a bad request is not answered), or
                    none (the program closed the link without sending a request)
  reason            for bad-frame: no-stx, no-etx, short, header-bytes, identifier, datetime,
                    flags, length-text, crc-text, no-body, field, no-type, incomplete
  type amount invoice auth closing
                    the request's T, B, S, F and L field values
  confirmations     activity confirmations sent
  answer            approve, decline, code, garbage, disconnect, none; for crc-error-once bad-crc
                    (the program accepted the wrong checksum) or bad-crc+approve
  code              response code of the last response sent
  first_reply first_reply_ms
                    crc-error-once only: the program's answer to the response with the wrong
                    checksum, and how long after it
  reply             the program's answer to the last response (or, without a response, to
                    anything sent): confirm, reject, unexpected, partial or none
  reply_ms          ms from the last byte of the response to the answer's last byte
  end               reply, timeout, closed (by the program), next (a new request or
                    connection came), stopped (signal), disconnect or reset
  req_header req_body reply_bytes
                    the request's header and body, and the bytes of the answer, exactly

Bytes the program sends after its answer was judged are reported on a line of their own,
"late txn=N bytes=...", since the program has nothing more to send then.

With --count, the simulator ends after the last transaction once the program has closed its side
of the link (TCP, --pty); on a --serial device, at once.

Exit status: 0 when stopped or after --count transactions, 1 when the link fails, 2 for a bad
command line.
)";

long ParseNumber(std::string_view option, const char* text, long min, long max) {
    const std::string_view value(text);
    long number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
        number < min || number > max) {
        throw UsageError(std::string(option) + ": '" + std::string(value) +
                         "' is not a number from " + std::to_string(min) + " to " +
                         std::to_string(max));
    }
    return number;
}

// A text for a response field: converted to Windows-1250, without control bytes, which would
// break the frame.
std::string ParseText(std::string_view option, const char* text) {
    const std::string utf8(text);
    const std::string bytes = Utf8ToCp1250(utf8);
    if (Cp1250ToUtf8(bytes) != utf8) {
        throw UsageError(std::string(option) + ": '" + utf8 +
                         "' has characters that Windows-1250 lacks");
    }
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            throw UsageError(std::string(option) + ": control characters are not allowed");
        }
    }
    return bytes;
}

std::string ParseHex(const std::string& text) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    if (text.empty() || text.size() % 2 != 0) {
        throw UsageError(
            "--scenario garbage:HEX: an even, non-zero number of hexadecimal digits is needed");
    }
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]), low = nibble(text[i + 1]);
        if (high < 0 || low < 0)
            throw UsageError("--scenario garbage:HEX: '" + text + "' is not hexadecimal");
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

void ParseScenario(Options& options, const std::string& text) {
    const std::size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const bool has_arg = colon != std::string::npos;
    const std::string arg = has_arg ? text.substr(colon + 1) : "";
    options.scenario_text = text;

    struct Row {
        const char* name;
        Scenario scenario;
        bool takes_arg;
    };
    static constexpr Row kRows[] = {
        {"approve", Scenario::Approve, false},
        {"decline", Scenario::Decline, true},
        {"crc-error-once", Scenario::CrcErrorOnce, false},
        {"silent", Scenario::Silent, false},
        {"confirm-only", Scenario::ConfirmOnly, false},
        {"slow", Scenario::Slow, false},
        {"chunked", Scenario::Chunked, false},
        {"garbage", Scenario::Garbage, true},
        {"disconnect", Scenario::Disconnect, false},
        {"together", Scenario::Together, false},
        {"code", Scenario::Code, true},
        {"reset", Scenario::Reset, false},
    };
    for (const Row& row : kRows) {
        if (name != row.name)
            continue;
        if (has_arg && !row.takes_arg)
            throw UsageError("--scenario " + name + " takes no argument");
        options.scenario = row.scenario;
        if (row.scenario == Scenario::Decline && has_arg) {
            if (arg.empty() || arg.size() > 3 ||
                arg.find_first_not_of("0123456789") != std::string::npos) {
                throw UsageError("--scenario decline:CODE: '" + arg +
                                 "' is not a code of 1 to 3 digits");
            }
            options.decline_code = std::string(3 - arg.size(), '0') + arg;
        }
        if (row.scenario == Scenario::Code) {
            if (!has_arg || arg.size() > 3 ||
                arg.find_first_not_of("!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                      "[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~ ") !=
                    std::string::npos) {
                throw UsageError("--scenario code:TEXT: '" + arg +
                                 "' is not 0 to 3 printable characters");
            }
            options.response_code = arg;
        }
        if (row.scenario == Scenario::Garbage) {
            options.garbage = has_arg ? ParseHex(arg) : std::string("NOT A FRAME\x03\x1C?");
        }
        return;
    }
    throw UsageError("--scenario: unknown scenario '" + name + "' (see --help)");
}

void ParseListen(Options& options, const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        throw UsageError("--listen: '" + text + "' is not ADDR:PORT, e.g. 127.0.0.1:0");
    }
    options.listen_address = text.substr(0, colon);
    in_addr address{};
    if (inet_pton(AF_INET, options.listen_address.c_str(), &address) != 1) {
        throw UsageError("--listen: '" + options.listen_address +
                         "' is not a numeric IPv4 address");
    }
    options.listen_port = static_cast<std::uint16_t>(
        ParseNumber("--listen port", text.c_str() + colon + 1, 0, 65535));
}

enum OptionId {
    kListen = 1000,
    kPty,
    kSerial,
    kScenario,
    kCount,
    kConfirmations,
    kConfirmInterval,
    kResponseDelay,
    kReplyTimeout,
    kRequestTimeout,
    kChunkSize,
    kChunkDelay,
    kTerminalId,
    kCard,
    kCardName,
    kAuthCode,
    kBatch,
    kVerbose,
    kReplay,
    kRun,
};

}  // namespace

const char* HelpText() {
    return kHelp;
}

Options ParseOptions(int argc, char** argv) {
    static const option kLong[] = {
        {"listen", required_argument, nullptr, kListen},
        {"pty", no_argument, nullptr, kPty},
        {"serial", required_argument, nullptr, kSerial},
        {"scenario", required_argument, nullptr, kScenario},
        {"count", required_argument, nullptr, kCount},
        {"confirmations", required_argument, nullptr, kConfirmations},
        {"confirm-interval", required_argument, nullptr, kConfirmInterval},
        {"response-delay", required_argument, nullptr, kResponseDelay},
        {"reply-timeout", required_argument, nullptr, kReplyTimeout},
        {"request-timeout", required_argument, nullptr, kRequestTimeout},
        {"chunk-size", required_argument, nullptr, kChunkSize},
        {"chunk-delay", required_argument, nullptr, kChunkDelay},
        {"terminal-id", required_argument, nullptr, kTerminalId},
        {"card", required_argument, nullptr, kCard},
        {"card-name", required_argument, nullptr, kCardName},
        {"auth-code", required_argument, nullptr, kAuthCode},
        {"batch", required_argument, nullptr, kBatch},
        {"verbose", no_argument, nullptr, kVerbose},
        {"replay", required_argument, nullptr, kReplay},
        {"run", required_argument, nullptr, kRun},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };

    Options options;
    int links = 0;
    bool confirmations_given = false, interval_given = false;
    opterr = 0;  // the messages below say more than getopt's
    optind = 1;
    for (;;) {
        const int id = getopt_long(argc, argv, ":h", kLong, nullptr);
        if (id == -1)
            break;
        const char* arg = optarg;
        switch (id) {
            case 'h':
                options.help = true;
                break;
            case kListen:
                ParseListen(options, arg);
                options.link = LinkMode::Tcp;
                ++links;
                break;
            case kPty:
                options.link = LinkMode::Pty;
                ++links;
                break;
            case kSerial:
                options.serial_path = arg;
                if (options.serial_path.empty())
                    throw UsageError("--serial: the device path is empty");
                options.link = LinkMode::Serial;
                ++links;
                break;
            case kScenario:
                ParseScenario(options, arg);
                break;
            case kCount:
                options.count = ParseNumber("--count", arg, 1, 1'000'000'000);
                break;
            case kConfirmations:
                options.confirmations = ParseNumber("--confirmations", arg, 0, 1'000'000);
                confirmations_given = true;
                break;
            case kConfirmInterval:
                options.confirm_interval_ms = ParseNumber("--confirm-interval", arg, 0, kMaxMs);
                interval_given = true;
                break;
            case kResponseDelay:
                options.response_delay_ms = ParseNumber("--response-delay", arg, 0, kMaxMs);
                break;
            case kReplyTimeout:
                options.reply_timeout_ms = ParseNumber("--reply-timeout", arg, 0, kMaxMs);
                break;
            case kRequestTimeout:
                options.request_timeout_ms = ParseNumber("--request-timeout", arg, 0, kMaxMs);
                break;
            case kChunkSize:
                options.chunk_size = ParseNumber("--chunk-size", arg, 1, 65536);
                options.chunk_size_given = true;
                break;
            case kChunkDelay:
                options.chunk_delay_ms = ParseNumber("--chunk-delay", arg, 0, kMaxMs);
                break;
            case kTerminalId:
                options.terminal.terminal_id = ParseText("--terminal-id", arg);
                if (options.terminal.terminal_id.size() != 8) {
                    throw UsageError("--terminal-id: '" + std::string(arg) +
                                     "' does not have exactly 8 characters");
                }
                break;
            case kCard:
                options.terminal.card = ParseText("--card", arg);
                break;
            case kCardName:
                options.terminal.card_name = ParseText("--card-name", arg);
                break;
            case kAuthCode:
                options.terminal.auth_code = ParseText("--auth-code", arg);
                break;
            case kBatch:
                options.terminal.batch = ParseText("--batch", arg);
                break;
            case kVerbose:
                options.verbose = true;
                break;
            case kReplay:
                options.replay_file = arg;
                if (options.replay_file.empty())
                    throw UsageError("--replay: the journal file's path is empty");
                break;
            case kRun:
                options.replay_run = arg;
                break;
            case ':':
                throw UsageError(std::string(argv[optind - 1]) + ": a value is needed");
            default:
                throw UsageError(std::string("unknown option '") + argv[optind - 1] +
                                 "' (see --help)");
        }
    }
    if (optind < argc)
        throw UsageError(std::string("unexpected argument '") + argv[optind] + "' (see --help)");
    if (links > 1)
        throw UsageError("--listen, --pty and --serial exclude each other; give one");
    if (!options.replay_run.empty() && options.replay_file.empty())
        throw UsageError("--run needs --replay FILE");
    if (options.scenario == Scenario::Disconnect && options.link != LinkMode::Tcp) {
        throw UsageError("--scenario disconnect needs a TCP link: a serial line cannot be hung up");
    }
    if (options.scenario == Scenario::Reset && options.link != LinkMode::Tcp) {
        throw UsageError("--scenario reset needs a TCP link: a serial line cannot be reset");
    }
    if (options.scenario == Scenario::Slow) {
        if (!confirmations_given)
            options.confirmations = 3;
        if (!interval_given)
            options.confirm_interval_ms = 2000;
    }
    if (options.scenario == Scenario::ConfirmOnly && !confirmations_given) {
        // Endless confirmations without a pause between them would flood the program.
        if (options.confirm_interval_ms == 0) {
            throw UsageError(
                "--scenario confirm-only without --confirmations needs a --confirm-interval above "
                "0");
        }
        options.confirmations = -1;
    }
    return options;
}

}  // namespace vendilox::sim
