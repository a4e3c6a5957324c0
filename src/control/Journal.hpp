// The transaction journal: what the program sent and received, what it made of the terminal's
// response and how the run ended, one JSON line per event, appended to a file a day that
// outlives the run. When a till loses the program after the terminal approved, or a payment is
// disputed later, the journal says what the terminal answered; the simulator can replay it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "control/Settings.hpp"
#include "platform/application.hpp"
#include "platform/files.hpp"
#include "platform/window.hpp"
#include "protocol/card_mask.hpp"
#include "protocol/request.hpp"
#include "protocol/response.hpp"

namespace vendilox {

// "vendilox-journal-YYYYMMDD.jsonl", the file of the day.
std::string JournalFileName(const TDateTime& day);

// Deletes the journal files in the journal's place (directory is the Path setting, with its
// trailing separator) whose day lies days or more before today: days = 1 keeps only today's
// file. days = 0 keeps all. Only regular files with exactly the journal's name are touched.
void PruneJournal(std::string_view directory, const TDateTime& today, std::int32_t days);

// The run's identity in every record: its start, to the millisecond, and the process id.
std::string JournalRunId(const TDateTime& start, std::uint64_t processId);

class TJournal {
  public:
    // Told once, with a line for the log, when the journal cannot be written; the run goes on
    // without it.
    using TFailureReport = std::function<void(std::string_view line)>;

    TJournal(platform::IClock& clock, TFailureReport onFailure);
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // Prunes old files and opens the day's file, when the settings name a journal.
    void Open(const TSettings& settings, std::uint64_t processId);
    bool Active() const { return file_.IsOpen(); }
    const std::string& RunId() const { return runId_; }
    const std::string& FilePath() const { return path_; }

    // The program's version, its parameters as given and, when they passed the checks, as
    // checked (request is null otherwise), the link and the settings.
    void Start(std::string_view version, const std::vector<std::string>& params,
               const TTransactionRequest* request, const TSettings& settings);
    // A frame handed to the link; error is the link's refusal, when it refused.
    void Sent(std::string_view frame, std::string_view error = {});
    // One chunk as it arrived. Its record waits until no card number is open in it, so that
    // the number's last four are known when it is masked.
    void Received(std::string_view chunk);
    // A final response taken apart: its checksum verdict and the record made of it. Written
    // through to the device before it returns, so an answer that follows it is never missing.
    void Response(std::string_view message, const TResponseFrames& frames, bool crcMatches,
                  bool accepted, const TTransactionResult& result);
    // A message handed over as a final response that holds no field.
    void UnrecognisedResponse(std::string_view message);
    // A final response that could not be taken apart.
    void ResponseError(std::string_view message, std::string_view error);
    // The report, written to path or not (error).
    void Report(std::string_view path, std::string_view error = {});
    // The end of the run; written through to the device.
    void End(int exitCode, std::string_view caption, platform::TColor colour);

  private:
    struct TChunk {
        std::string At;
        std::size_t Length;
    };
    // Writes the received records whose bytes are final; with force, all of them.
    void WriteReceived(bool force);
    // Completes the record with the run, the time and the event, and appends it as one line.
    void Write(const char* event, nlohmann::json& record, bool toDevice,
               const std::string& at = {});
    void Fail(std::string_view what);

    platform::IClock& clock_;
    TFailureReport onFailure_;
    platform::files::TFile file_;
    std::string path_;
    std::string runId_;
    TCardMaskStream received_;
    std::vector<TChunk> chunks_;
    bool failed_ = false;
};

}  // namespace vendilox
