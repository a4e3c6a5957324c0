#include "replay.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "protocol/cp1250.hpp"
#include "protocol/frame.hpp"

namespace vendilox::sim {

namespace {

using nlohmann::json;

// Milliseconds since the epoch of a record's local time stamp "YYYY-MM-DDTHH:MM:SS.mmm".
long long Millis(const std::string& ts) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    if (std::sscanf(ts.c_str(), "%d-%d-%dT%d:%d:%d.%d", &y, &mo, &d, &h, &mi, &s, &ms) != 7)
        throw ReplayError("a record's time stamp '" + ts + "' cannot be read");
    using namespace std::chrono;
    const sys_days day = year{y} / static_cast<unsigned>(mo) / static_cast<unsigned>(d);
    return duration_cast<milliseconds>(day.time_since_epoch()).count() +
           ((h * 60LL + mi) * 60 + s) * 1000 + ms;
}

std::string Bytes(const json& record, const char* key) {
    return Utf8ToCp1250(record.at(key).get<std::string>());
}

// The responses the program took apart, masked as recorded, with whether it found their
// checksum right.
struct Judged {
    std::string frame;
    bool matches;
};

// Gives every frame of the stream that the program judged right the checksum of its bytes as
// they are now, so that a masked card number does not make it wrong. A frame judged wrong keeps
// the recorded checksum, which is still wrong for it.
void RestoreChecksums(std::string& stream, const std::vector<Judged>& judged) {
    std::size_t from = 0;
    for (const Judged& j : judged) {
        const std::size_t at = stream.find(j.frame, from);
        if (at == std::string::npos)
            continue;
        from = at + j.frame.size();
        // STX, 36 header bytes with the checksum text at 33 to 36, FS, body, ETX.
        if (!j.matches || j.frame.size() < 39 || j.frame[37] != FS)
            continue;
        const std::string covered = j.frame.substr(37, j.frame.size() - 38);
        stream.replace(at + 33, 4, CrcText(Crc16(covered)));
    }
}

}  // namespace

ReplayPlan PlanReplay(std::string_view journal, std::string_view run) {
    std::vector<json> records;
    std::istringstream in{std::string(journal)};
    std::string last;
    for (std::string line; std::getline(in, line);) {
        // A line that a full disk cut short is skipped, like any other that is not a record.
        json record = json::parse(line, nullptr, false);
        if (record.is_discarded() || !record.is_object() || !record.contains("run") ||
            !record.contains("event")) {
            continue;
        }
        last = record.at("run").get<std::string>();
        records.push_back(std::move(record));
    }
    ReplayPlan plan;
    plan.run = run.empty() ? last : std::string(run);
    if (plan.run.empty())
        throw ReplayError("the journal holds no run");

    struct Event {
        bool from_program;
        std::string bytes;
        long long at;
    };
    std::vector<Event> events;
    std::vector<Judged> judged;
    for (const json& r : records) {
        if (r.at("run") != plan.run)
            continue;
        const std::string event = r.at("event");
        if (event == "sent" && !r.contains("error")) {
            events.push_back({true, Bytes(r, "frame"), Millis(r.at("ts"))});
        } else if (event == "received") {
            events.push_back({false, Bytes(r, "chunk"), Millis(r.at("ts"))});
        } else if (event == "response" && r.contains("crc")) {
            judged.push_back({Bytes(r, "frame"), r.at("crc").at("matches").get<bool>()});
        }
    }
    const auto request =
        std::find_if(events.begin(), events.end(), [](const Event& e) { return e.from_program; });
    if (request == events.end())
        throw ReplayError("run " + plan.run + " is not in the journal, or sent no request");
    plan.request = request->bytes;

    // The chunks as one stream, their checksums restored, then cut where they were cut.
    std::string stream;
    for (const Event& e : events) {
        if (!e.from_program)
            stream += e.bytes;
    }
    RestoreChecksums(stream, judged);
    std::size_t offset = 0;
    for (Event& e : events) {
        if (e.from_program)
            continue;
        e.bytes = stream.substr(offset, e.bytes.size());
        offset += e.bytes.size();
    }

    long long previous = request->at;
    for (auto e = events.begin(); e != events.end(); ++e) {
        if (e == request)
            continue;
        ReplayStep step;
        step.from_program = e->from_program;
        step.bytes = e->bytes;
        step.delay_ms = static_cast<long>(std::max(0LL, e->at - previous));
        previous = e->at;
        if (!step.from_program)
            ++plan.chunks;
        plan.steps.push_back(std::move(step));
    }
    return plan;
}

bool SameFrame(std::string_view recorded, std::string_view got, bool request) {
    if (!request || recorded.size() != got.size() || recorded.size() < 25)
        return recorded == got;
    return recorded.substr(0, 13) == got.substr(0, 13) && recorded.substr(25) == got.substr(25);
}

}  // namespace vendilox::sim
