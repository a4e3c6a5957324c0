// One transaction as the terminal plays it: the request is read and checked, the scenario's
// confirmations and response are sent, and the program's answer is awaited and judged.
#pragma once

#include <optional>
#include <string>

#include "frames.hpp"
#include "link.hpp"
#include "options.hpp"
#include "replay.hpp"

namespace vendilox::sim {

// What one transaction came to; the fields of the output line.
struct Outcome {
    std::string request = "none";  // ok, bad-frame, bad-length, bad-crc, none
    RequestCheck check;
    long confirmations = 0;
    std::string answer = "none";
    std::string code;
    std::string first_reply, first_reply_ms;
    Reply reply = Reply::None;
    std::string reply_ms;
    std::string reply_bytes;
    std::string end;
};

// The output line of a transaction: blank-separated key=value pairs, always the same keys.
std::string FormatLine(long txn, const char* link, const Options& options, const Outcome& outcome);

class Session {
  public:
    Session(const Options& options, Link& link) : options_(options), link_(link) {}

    // Plays one transaction; bytes already received (a serial line may hold the next request)
    // are taken from inbox, and what follows the transaction stays there. Empty when a stop
    // came before any byte of a request.
    std::optional<Outcome> Run(std::string& inbox);

    // Plays the terminal's side of a journalled run and prints one line per frame of the
    // program, compared with the recorded one, and a closing line. False when a stop came before
    // any byte of a request.
    bool Replay(const ReplayPlan& plan, std::string& inbox);

    // After a transaction's line: keeps the link until the program closes it, another request
    // or connection comes, or a stop. Bytes the program sends meanwhile are reported on a "late"
    // line, since a program has nothing more to send once it has answered.
    void HoldAfter(long txn, std::string& inbox);

  private:
    // Reads the request, everything up to its first ETX, into frame. A request that has begun
    // must complete within the request time-out. False, with outcome.end saying why, when no
    // whole request came; outcome.request is then "none" or "bad-frame" (nullopt: a stop before
    // its first byte).
    std::optional<bool> ReadRequest(std::string& inbox, std::string& frame, Outcome& outcome);
    // Waits until the moment while collecting bytes; false when the program closed the link or
    // a stop came, with outcome.end saying which.
    bool Pause(Clock::time_point until, std::string& inbox, Outcome& outcome);
    bool SendFrame(std::string_view bytes, bool chunked, std::string& inbox, Outcome& outcome);
    bool SendConfirmation(Outcome& outcome);
    // Waits for the program's answer to a response; fills reply, reply_ms, reply_bytes and end.
    void AwaitReply(std::string_view response, std::string& inbox, Outcome& outcome);
    // For scenarios that send no response: keeps the link (and the confirm-only scenario's
    // confirmations) until the program closes it, the next request or connection, or a stop.
    void HoldWithoutResponse(Clock::time_point request_end, bool confirming, std::string& inbox,
                             Outcome& outcome);
    void Trace(const char* direction, std::string_view bytes) const;

    const Options& options_;
    Link& link_;
};

}  // namespace vendilox::sim
