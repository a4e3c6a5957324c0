// Receive reassembly: joins the chunks a link delivers into messages and tells activity
// confirmations (a frame without FS) from final responses (a frame with FS).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vendilox {

class IReassemblyHost {
  public:
    virtual void LogLine(std::string_view line) = 0;
    virtual void HandleActivityConfirmation() = 0;
    // 0: dealt with (also when not recognised); 1: answered as a checksum error. May raise;
    // the reassembly state then stays as it was right before the call.
    virtual int HandleFinalResponse(const std::string& message) = 0;

  protected:
    ~IReassemblyHost() = default;
};

class TReceiveReassembly {
  public:
    // Far above any frame (they stay below 1 KiB): what a terminal sends past this without
    // finishing a frame is dropped instead of held without bound. When a chunk would take the
    // buffer past it, the buffered bytes are dropped, PartialFrame is cleared, one log line says
    // so, and the chunk is then handled as if it had arrived with nothing buffered; a chunk
    // that alone would leave more than this in the buffer is dropped too. The buffer therefore
    // never holds more than kMaxBuffer bytes.
    static constexpr std::size_t kMaxBuffer = 64 * 1024;

    explicit TReceiveReassembly(IReassemblyHost& host) : host_(host) {}

    // Takes one chunk from a link: logs it, joins it with what is buffered, and hands complete
    // messages to the host. A frame is judged by the FS inside it alone: a confirmation is
    // handed over and leaves the buffer, and the bytes after its ETX are then taken in the same
    // call as if they had arrived as the next chunk; after a final response the call stops and
    // keeps what follows. Bytes in the buffer in front of a frame's STX are dropped with a log
    // line. Catches nothing: when HandleFinalResponse raises, the state is what the steps before
    // the call made it and the closing log lines are not written.
    void HandleReceivedData(std::string_view chunk);

    // The send step clears PartialFrame before every request and leaves the buffer alone.
    void SetPartialFrame(bool value) { partialFrame_ = value; }

    const std::string& ReceiveBuffer() const { return receiveBuffer_; }
    bool PartialFrame() const { return partialFrame_; }

  private:
    // Handles one chunk without its first log line. true: a confirmation was handed over and
    // next holds the bytes after it, to be taken as the next chunk.
    bool TakeChunk(std::string_view chunk, std::string& next);
    // Empties the buffer, clears PartialFrame and logs that unfinished data were dropped.
    void DiscardUnfinished();

    IReassemblyHost& host_;
    std::string receiveBuffer_;
    bool partialFrame_ = false;
};

}  // namespace vendilox
