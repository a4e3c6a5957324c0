// A run of the program's transaction journal, turned into the terminal's part of it: the chunks
// the program received, in order and with their pauses, and the frames the program sent, which
// a replay awaits and compares. Pure functions over the journal's text.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vendilox::sim {

// The journal cannot be replayed; the message says why.
class ReplayError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ReplayStep {
    // true: await the program's next frame, whose recorded bytes are in bytes; false: send
    // bytes, delay_ms after the step before.
    bool from_program = false;
    std::string bytes;
    long delay_ms = 0;
};

struct ReplayPlan {
    std::string run;
    std::string request;  // the program's first frame, which starts the replay
    std::vector<ReplayStep> steps;
    long chunks = 0;
};

// The plan of one run of a journal file's text (JSON lines); run empty: the last run in it.
// Frames whose card number was masked get the checksum that makes them judged as the originals
// were (see --help). Raises ReplayError when the run is not there or has no request.
ReplayPlan PlanReplay(std::string_view journal, std::string_view run);

// Whether the program's frame is the recorded one; a request's date and time (header
// positions 13 to 24) differ from run to run and are not compared.
bool SameFrame(std::string_view recorded, std::string_view got, bool request);

}  // namespace vendilox::sim
