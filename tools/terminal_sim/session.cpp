#include "session.hpp"

#include <cstdio>

#include "protocol/frame.hpp"

namespace vendilox::sim {

namespace {

using std::chrono::milliseconds;

const Clock::time_point kStart = Clock::now();

std::string Ms(Clock::duration d) {
    return std::to_string(std::chrono::duration_cast<milliseconds>(d).count());
}

const char* EndOf(Event event) {
    switch (event) {
        case Event::PeerClosed:
            return "closed";
        case Event::Stopped:
            return "stopped";
        case Event::NextPeer:
            return "next";
        case Event::Timeout:
            return "timeout";
        case Event::Data:
            break;
    }
    return "closed";
}

}  // namespace

std::string FormatLine(long txn, const char* link, const Options& options, const Outcome& o) {
    std::string line;
    auto add = [&line](const char* key, std::string_view value) {
        if (!line.empty())
            line.push_back(' ');
        line.append(key).push_back('=');
        line.append(EncodeValue(value));
    };
    add("txn", std::to_string(txn));
    add("link", link);
    add("scenario", options.scenario_text);
    add("request", o.request);
    add("reason",
        o.check.status == RequestStatus::BadFrame && o.request != "none" ? o.check.reason : "");
    add("type", o.check.type);
    add("amount", o.check.amount);
    add("invoice", o.check.invoice);
    add("auth", o.check.auth);
    add("closing", o.check.closing);
    add("confirmations", std::to_string(o.confirmations));
    add("answer", o.answer);
    add("code", o.code);
    add("first_reply", o.first_reply);
    add("first_reply_ms", o.first_reply_ms);
    add("reply", ReplyName(o.reply));
    add("reply_ms", o.reply_ms);
    add("end", o.end);
    add("req_header", o.check.header);
    add("req_body", o.check.body);
    add("reply_bytes", o.reply_bytes);
    return line;
}

void Session::Trace(const char* direction, std::string_view bytes) const {
    if (!options_.verbose || bytes.empty())
        return;
    std::fprintf(stderr, "[%8.3f] %s %s %s\n",
                 std::chrono::duration<double>(Clock::now() - kStart).count(), link_.Name(),
                 direction, HexDump(bytes).c_str());
}

std::optional<Outcome> Session::Run(std::string& inbox) {
    Outcome out;

    std::string frame;
    const std::optional<bool> read = ReadRequest(inbox, frame, out);
    if (!read)
        return std::nullopt;
    if (!*read)
        return out;

    const Clock::time_point request_end = Clock::now();
    out.check = CheckRequest(frame);
    out.request = RequestStatusName(out.check.status);
    if (out.check.status != RequestStatus::Ok) {
        // A terminal does not act on a request it cannot trust; the program's own time-out ends
        // the run.
        HoldWithoutResponse(request_end, false, inbox, out);
        return out;
    }

    switch (options_.scenario) {
        case Scenario::Disconnect:
            link_.Disconnect();
            out.answer = "disconnect";
            out.end = "disconnect";
            return out;
        case Scenario::Silent:
            HoldWithoutResponse(request_end, false, inbox, out);
            return out;
        case Scenario::ConfirmOnly:
            HoldWithoutResponse(request_end, true, inbox, out);
            return out;
        default:
            break;
    }

    // The together scenario holds its last confirmation back and writes it with the response.
    const bool together = options_.scenario == Scenario::Together && options_.confirmations > 0;
    Clock::time_point at = request_end;
    for (long k = 0; k < options_.confirmations - (together ? 1 : 0); ++k) {
        at += milliseconds(options_.confirm_interval_ms);
        if (!Pause(at, inbox, out) || !SendConfirmation(out))
            return out;
    }
    if (together)
        at += milliseconds(options_.confirm_interval_ms);
    at += milliseconds(options_.response_delay_ms);
    if (!Pause(at, inbox, out))
        return out;

    if (options_.scenario == Scenario::Garbage) {
        out.answer = "garbage";
        if (!SendFrame(options_.garbage, false, inbox, out))
            return out;
        HoldWithoutResponse(request_end, false, inbox, out);
        return out;
    }

    const bool crc_error_first = options_.scenario == Scenario::CrcErrorOnce;
    const bool chunked =
        options_.scenario == Scenario::Chunked || (crc_error_first && options_.chunk_size_given);
    out.code = options_.scenario == Scenario::Decline ? options_.decline_code
               : options_.scenario == Scenario::Code  ? options_.response_code
                                                      : "000";
    out.answer = crc_error_first                       ? "bad-crc"
                 : options_.scenario == Scenario::Code ? "code"
                 : out.code == "000"                   ? "approve"
                                                       : "decline";
    std::string response =
        FinalResponse(options_.terminal, out.check, out.code, HeaderNow(), crc_error_first);
    std::string piece = response;
    if (together) {
        piece = ActivityConfirmation(options_.terminal, HeaderNow()) + response;
        ++out.confirmations;
    }
    if (!SendFrame(piece, chunked, inbox, out))
        return out;
    AwaitReply(response, inbox, out);
    if (options_.scenario == Scenario::Reset && out.end == "reply") {
        // The reset comes in the program's close wait, after its answer was judged.
        if (!Pause(Clock::now() + milliseconds(200), inbox, out))
            return out;
        link_.Reset();
        out.end = "reset";
    }

    if (crc_error_first) {
        out.first_reply = ReplyName(out.reply);
        out.first_reply_ms = out.reply_ms;
        // The program asked for the response again; any other answer ends the transaction.
        if (out.reply != Reply::Reject)
            return out;
        if (!Pause(Clock::now() + milliseconds(options_.response_delay_ms), inbox, out))
            return out;
        out.answer = "bad-crc+approve";
        out.reply = Reply::None;
        out.reply_ms.clear();
        out.reply_bytes.clear();
        response = FinalResponse(options_.terminal, out.check, out.code, HeaderNow(), false);
        if (!SendFrame(response, chunked, inbox, out))
            return out;
        AwaitReply(response, inbox, out);
    }
    return out;
}

std::optional<bool> Session::ReadRequest(std::string& inbox, std::string& frame, Outcome& out) {
    // Before the request's first byte the terminal waits without limit.
    Clock::time_point deadline = Clock::time_point::max();
    Trace("rx", inbox);
    for (;;) {
        const std::size_t etx = inbox.find(ETX);
        if (etx != std::string::npos) {
            frame = inbox.substr(0, etx + 1);
            inbox.erase(0, etx + 1);
            return true;
        }
        if (!inbox.empty() && deadline == Clock::time_point::max()) {
            deadline = Clock::now() + milliseconds(options_.request_timeout_ms);
        }
        const std::size_t before = inbox.size();
        const Event event = link_.Wait(deadline, inbox, false);
        Trace("rx", std::string_view(inbox).substr(before));
        if (event == Event::Data)
            continue;
        if (event == Event::Stopped && inbox.empty())
            return std::nullopt;
        out.end = EndOf(event);
        if (!inbox.empty()) {
            out.request = "bad-frame";
            out.check.reason = "incomplete";
            out.check.header = inbox.substr(1, header::kLength);
            inbox.clear();
        }
        return false;
    }
}

bool Session::Replay(const ReplayPlan& plan, std::string& inbox) {
    Outcome out;
    std::string request;
    const std::optional<bool> read = ReadRequest(inbox, request, out);
    if (!read)
        return false;

    long number = 0;
    bool all_same = true;
    auto compare = [&](const std::string& recorded, const std::string& got, bool is_request) {
        const bool same = SameFrame(recorded, got, is_request);
        all_same = all_same && same;
        std::printf("replay frame=%ld recorded=%s got=%s same=%s\n", ++number,
                    EncodeValue(recorded).c_str(), EncodeValue(got).c_str(), same ? "yes" : "no");
        std::fflush(stdout);
    };
    compare(plan.request, *read ? request : inbox, true);

    bool open = *read;
    for (const ReplayStep& step : plan.steps) {
        if (!step.from_program) {
            open = open && Pause(Clock::now() + milliseconds(step.delay_ms), inbox, out) &&
                   SendFrame(step.bytes, false, inbox, out);
            continue;
        }
        // The program's frame of this place: whatever it sent up to its next ETX.
        std::string got;
        const Clock::time_point deadline = Clock::now() + milliseconds(options_.reply_timeout_ms);
        while (open) {
            const std::size_t etx = inbox.find(ETX);
            if (etx != std::string::npos) {
                got = inbox.substr(0, etx + 1);
                inbox.erase(0, etx + 1);
                break;
            }
            const std::size_t before = inbox.size();
            const Event event = link_.Wait(deadline, inbox, false);
            Trace("rx", std::string_view(inbox).substr(before));
            if (event == Event::Data)
                continue;
            got = inbox;
            inbox.clear();
            open = event == Event::Timeout;
            break;
        }
        compare(step.bytes, got, false);
    }
    std::printf("replay run=%s chunks=%ld frames=%ld same=%s\n", EncodeValue(plan.run).c_str(),
                plan.chunks, number, all_same ? "yes" : "no");
    std::fflush(stdout);
    return true;
}

bool Session::Pause(Clock::time_point until, std::string& inbox, Outcome& outcome) {
    for (;;) {
        const std::size_t before = inbox.size();
        const Event event = link_.Wait(until, inbox, false);
        Trace("rx", std::string_view(inbox).substr(before));
        if (event == Event::Timeout)
            return true;
        if (event == Event::Data)
            continue;
        outcome.end = EndOf(event);
        return false;
    }
}

bool Session::SendFrame(std::string_view bytes, bool chunked, std::string& inbox,
                        Outcome& outcome) {
    const std::size_t piece =
        chunked ? static_cast<std::size_t>(options_.chunk_size) : bytes.size();
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (at > 0 &&
            !Pause(Clock::now() + milliseconds(options_.chunk_delay_ms), inbox, outcome)) {
            return false;
        }
        const std::string_view part = bytes.substr(at, piece);
        Trace("tx", part);
        if (!link_.Send(part)) {
            outcome.end = "closed";
            return false;
        }
    }
    return true;
}

bool Session::SendConfirmation(Outcome& outcome) {
    const std::string frame = ActivityConfirmation(options_.terminal, HeaderNow());
    Trace("tx", frame);
    if (!link_.Send(frame)) {
        outcome.end = "closed";
        return false;
    }
    ++outcome.confirmations;
    return true;
}

void Session::AwaitReply(std::string_view response, std::string& inbox, Outcome& outcome) {
    const Clock::time_point sent = Clock::now();
    const Clock::time_point deadline = sent + milliseconds(options_.reply_timeout_ms);
    for (;;) {
        const std::size_t etx = inbox.find(ETX);
        if (etx != std::string::npos) {
            outcome.reply_bytes = inbox.substr(0, etx + 1);
            inbox.erase(0, etx + 1);
            outcome.reply = ClassifyReply(response, outcome.reply_bytes);
            outcome.reply_ms = Ms(Clock::now() - sent);
            outcome.end = "reply";
            return;
        }
        const std::size_t before = inbox.size();
        const Event event = link_.Wait(deadline, inbox, false);
        Trace("rx", std::string_view(inbox).substr(before));
        if (event == Event::Data)
            continue;
        outcome.reply = inbox.empty() ? Reply::None : Reply::Partial;
        outcome.reply_bytes = inbox;
        inbox.clear();
        outcome.end = EndOf(event);
        return;
    }
}

void Session::HoldWithoutResponse(Clock::time_point request_end, bool confirming,
                                  std::string& inbox, Outcome& outcome) {
    const bool serial = std::string_view(link_.Name()) == "serial";
    const long planned = options_.confirmations;  // -1: without end
    auto next_confirmation = [&] {
        if (!confirming || (planned >= 0 && outcome.confirmations >= planned))
            return Clock::time_point::max();
        return request_end +
               milliseconds(options_.confirm_interval_ms) * (outcome.confirmations + 1);
    };
    for (;;) {
        // On a serial line a new request is the only sign that the next program run has begun.
        if (serial && !inbox.empty() && inbox.front() == STX) {
            outcome.end = "next";
            return;
        }
        if (!inbox.empty()) {
            outcome.reply = Reply::Unexpected;
            outcome.reply_bytes += inbox;
            inbox.clear();
        }
        const std::size_t before = inbox.size();
        const Event event = link_.Wait(next_confirmation(), inbox, true);
        Trace("rx", std::string_view(inbox).substr(before));
        if (event == Event::Data)
            continue;
        if (event == Event::Timeout) {
            if (!SendConfirmation(outcome))
                return;
            continue;
        }
        outcome.end = EndOf(event);
        return;
    }
}

void Session::HoldAfter(long txn, std::string& inbox) {
    const bool serial = std::string_view(link_.Name()) == "serial";
    for (;;) {
        if (serial && !inbox.empty() && inbox.front() == STX)
            return;
        if (!inbox.empty()) {
            std::printf("late txn=%ld bytes=%s\n", txn, EncodeValue(inbox).c_str());
            std::fflush(stdout);
            inbox.clear();
        }
        const std::size_t before = inbox.size();
        const Event event = link_.Wait(Clock::time_point::max(), inbox, true);
        Trace("rx", std::string_view(inbox).substr(before));
        if (event != Event::Data)
            return;
    }
}

}  // namespace vendilox::sim
