#include "control/Journal.hpp"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

#include "protocol/cp1250.hpp"
#include "protocol/frame.hpp"

namespace vendilox {

namespace files = platform::files;
using nlohmann::json;

namespace {

constexpr std::string_view kPrefix = "vendilox-journal-";
constexpr std::string_view kSuffix = ".jsonl";

std::string Digits(int value, int width) {
    std::string text = std::to_string(value < 0 ? 0 : value);
    if (static_cast<int>(text.size()) < width)
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    return text;
}

std::string DayText(const TDateTime& t) {
    return Digits(t.Year, 4) + Digits(t.Month, 2) + Digits(t.Day, 2);
}

// Local time to the millisecond, "YYYY-MM-DDTHH:MM:SS.mmm".
std::string TimeStamp(const TDateTime& t) {
    return Digits(t.Year, 4) + "-" + Digits(t.Month, 2) + "-" + Digits(t.Day, 2) + "T" +
           Digits(t.Hour, 2) + ":" + Digits(t.Minute, 2) + ":" + Digits(t.Second, 2) + "." +
           Digits(t.Millisecond, 3);
}

std::chrono::sys_days DayNumber(int year, int month, int day) {
    using namespace std::chrono;
    return sys_days(std::chrono::year{year} / static_cast<unsigned>(month) /
                    static_cast<unsigned>(day));
}

// The day of a journal file's name, when it is exactly the journal's name with a real date.
bool DayOfName(std::string_view name, std::string_view prefix, std::chrono::sys_days& day) {
    if (name.size() != prefix.size() + 8 + kSuffix.size() ||
        name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - kSuffix.size()) != kSuffix) {
        return false;
    }
    const std::string_view digits = name.substr(prefix.size(), 8);
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
    }
    const int number = std::stoi(std::string(digits));
    const std::chrono::year_month_day ymd{
        std::chrono::year{number / 10000},
        std::chrono::month{static_cast<unsigned>(number / 100 % 100)},
        std::chrono::day{static_cast<unsigned>(number % 100)}};
    if (!ymd.ok())
        return false;
    day = std::chrono::sys_days(ymd);
    return true;
}

// A text of the program (Windows-1250) for a record: UTF-8, which maps every byte to a
// character of its own, so the bytes come back exactly. JSON escapes the control bytes itself.
std::string Text(std::string_view cp1250) {
    return Cp1250ToUtf8(cp1250);
}

// One line of the file: the record without a line end or any other byte that does not print
// inside it. JSON escapes the bytes below 0x20; DEL and the C1 controls (bytes that Windows-1250
// leaves undefined) would pass through raw, so they get the same escape.
std::string Line(const json& record) {
    const std::string dumped = record.dump();
    std::string line;
    line.reserve(dumped.size() + 1);
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < dumped.size(); ++i) {
        const auto b = static_cast<unsigned char>(dumped[i]);
        unsigned code = 0x100;
        if (b == 0x7F) {
            code = b;
        } else if (b == 0xC2 && i + 1 < dumped.size() &&
                   static_cast<unsigned char>(dumped[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(dumped[i + 1]) <= 0x9F) {
            code = static_cast<unsigned char>(dumped[++i]);
        }
        if (code == 0x100) {
            line.push_back(dumped[i]);
            continue;
        }
        line += "\\u00";
        line.push_back(kHex[code >> 4]);
        line.push_back(kHex[code & 0xF]);
    }
    line.push_back('\n');
    return line;
}

json ResultRecord(const TTransactionResult& r) {
    return json{{"ResponseCode", Text(r.ResponseCode)},
                {"StatusText", Text(r.StatusText)},
                {"TerminalNumber", Text(r.TerminalNumber)},
                {"BatchNumber", Text(r.BatchNumber)},
                {"TypeCode", Text(r.TypeCode)},
                {"TypeName", Text(r.TypeName)},
                {"CardTypeCode", Text(r.CardTypeCode)},
                {"CardName", Text(r.CardName)},
                {"CardNumber", Text(MaskCardNumber(r.CardNumber))},
                {"AuthorizationCode", Text(r.AuthorizationCode)},
                {"TransactionDate", Text(r.TransactionDate)},
                {"TransactionTime", Text(r.TransactionTime)},
                {"AmountDigits", Text(r.AmountDigits)},
                {"AmountText", Text(r.AmountText)},
                {"HeaderFlag", Text(r.HeaderFlag)}};
}

}  // namespace

std::string JournalFileName(const TDateTime& day) {
    return std::string(kPrefix) + DayText(day) + std::string(kSuffix);
}

std::string JournalRunId(const TDateTime& start, std::uint64_t processId) {
    return DayText(start) + "-" + Digits(start.Hour, 2) + Digits(start.Minute, 2) +
           Digits(start.Second, 2) + "." + Digits(start.Millisecond, 3) + "-" +
           std::to_string(processId);
}

void PruneJournal(std::string_view directory, const TDateTime& today, std::int32_t days) {
    if (days <= 0)
        return;
    // The Path setting is used as written, like PathToTxt: what follows its last separator
    // belongs to the file names.
    const std::string start = std::string(directory) + std::string(kPrefix);
    const std::size_t cut = start.find_last_of("/\\");
    const std::string place = cut == std::string::npos ? "." : start.substr(0, cut + 1);
    const std::string prefix = cut == std::string::npos ? start : start.substr(cut + 1);
    const std::string base = cut == std::string::npos ? "" : place;

    std::vector<std::string> names;
    if (!files::ListDirectory(place, names))
        return;
    const auto oldestKept =
        DayNumber(today.Year, today.Month, today.Day) - std::chrono::days{days - 1};
    for (const std::string& name : names) {
        std::chrono::sys_days day;
        if (!DayOfName(name, prefix, day) || day >= oldestKept)
            continue;
        const std::string path = base + name;
        if (files::Inspect(path).Kind == files::TPathKind::RegularFile)
            files::RemoveFile(path);
    }
}

TJournal::TJournal(platform::IClock& clock, TFailureReport onFailure)
    : clock_(clock), onFailure_(std::move(onFailure)) {}

void TJournal::Open(const TSettings& settings, std::uint64_t processId) {
    if (settings.JournalPath.empty() || failed_ || file_.IsOpen())
        return;
    const TDateTime now = clock_.LocalNow();
    runId_ = JournalRunId(now, processId);
    PruneJournal(settings.JournalPath, now, settings.JournalDays);
    // A run stays in the file of the day it started, so one file holds all of it.
    path_ = settings.JournalPath + JournalFileName(now);
    if (file_.OpenForAppend(path_) != files::TFile::TOpenStatus::Opened)
        Fail("otevřít"_w1250);
}

void TJournal::Fail(std::string_view what) {
    file_.Close();
    if (failed_)
        return;
    failed_ = true;
    if (onFailure_) {
        std::string line("Deník transakcí nelze "_w1250);
        line += what;
        line += ": ";
        line += path_;
        onFailure_(line);
    }
}

void TJournal::Write(const char* event, json& record, bool toDevice, const std::string& at) {
    if (!file_.IsOpen())
        return;
    record["run"] = runId_;
    record["ts"] = at.empty() ? TimeStamp(clock_.LocalNow()) : at;
    record["event"] = event;
    if (!file_.Write(Line(record))) {
        Fail("zapsat"_w1250);
        return;
    }
    if (toDevice && !file_.Flush())
        Fail("zapsat"_w1250);
}

void TJournal::WriteReceived(bool force) {
    std::size_t settled = force ? received_.Pending() : received_.Settled();
    std::size_t written = 0;
    for (const TChunk& chunk : chunks_) {
        if (chunk.Length > settled)
            break;
        json record{{"chunk", Text(received_.Take(chunk.Length))}};
        Write("received", record, false, chunk.At);
        settled -= chunk.Length;
        ++written;
    }
    chunks_.erase(chunks_.begin(), chunks_.begin() + static_cast<std::ptrdiff_t>(written));
}

void TJournal::Start(std::string_view version, const std::vector<std::string>& params,
                     const TTransactionRequest* request, const TSettings& settings) {
    json given = json::array();
    for (const std::string& param : params)
        given.push_back(Text(param));
    json checked = nullptr;
    if (request != nullptr) {
        checked = json{{"TransactionType", request->TransactionType},
                       {"Amount", Text(request->Amount)},
                       {"AuthCode", Text(request->AuthCode)},
                       {"TerminalId", Text(request->TerminalId)},
                       {"InvoiceNumber", Text(request->InvoiceNumber)}};
    }
    json link =
        settings.LinkType == 1
            ? json{{"type", "tcp"}, {"host", Text(settings.TcpAddress)}, {"port", settings.TcpPort}}
            : json{{"type", "serial"}, {"port", Text(settings.SerialPortName)}};
    json record{{"version", std::string(version)},
                {"params", given},
                {"request", checked},
                {"link", link},
                {"settings",
                 {{"timeout_ms", settings.TimeoutMs},
                  {"crc_check", settings.CrcCheck},
                  {"debug", settings.DebugMode},
                  {"result_file", Text(settings.OutputPath)},
                  {"journal_days", settings.JournalDays}}}};
    WriteReceived(true);
    Write("start", record, false);
}

void TJournal::Sent(std::string_view frame, std::string_view error) {
    json record{{"frame", Text(MaskCardNumbers(frame))}};
    if (!error.empty())
        record["error"] = Text(error);
    WriteReceived(true);
    Write("sent", record, false);
}

void TJournal::Received(std::string_view chunk) {
    if (!file_.IsOpen())
        return;
    chunks_.push_back({TimeStamp(clock_.LocalNow()), chunk.size()});
    received_.Append(chunk);
    WriteReceived(false);
}

void TJournal::Response(std::string_view message, const TResponseFrames& frames, bool crcMatches,
                        bool accepted, const TTransactionResult& result) {
    json record{{"frame", Text(MaskCardNumbers(message))},
                {"crc",
                 {{"header", Text(frames.ResponseCrc)},
                  {"computed", CrcText(Crc16(std::string(1, FS) + frames.ResponseBody))},
                  {"matches", crcMatches}}},
                {"accepted", accepted},
                {"result", ResultRecord(result)}};
    WriteReceived(true);
    Write("response", record, true);
}

void TJournal::UnrecognisedResponse(std::string_view message) {
    json record{{"frame", Text(MaskCardNumbers(message))}, {"recognised", false}};
    WriteReceived(true);
    Write("response", record, true);
}

void TJournal::ResponseError(std::string_view message, std::string_view error) {
    json record{{"frame", Text(MaskCardNumbers(message))}, {"error", Text(error)}};
    WriteReceived(true);
    Write("response", record, true);
}

void TJournal::Report(std::string_view path, std::string_view error) {
    json record{{"file", Text(path)}, {"written", error.empty()}};
    if (!error.empty())
        record["error"] = Text(error);
    WriteReceived(true);
    Write("report", record, false);
}

void TJournal::End(int exitCode, std::string_view caption, platform::TColor colour) {
    json record{{"exit_code", exitCode},
                {"status", Text(caption)},
                {"colour", colour == platform::TColor::Blue ? "blue" : "red"}};
    WriteReceived(true);
    Write("end", record, true);
    file_.Close();
}

}  // namespace vendilox
