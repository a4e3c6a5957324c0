// Receive reassembly: joins the chunks a link delivers into messages and tells activity
// confirmations (no FS) from final responses (with FS).
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
    // finishing a frame is dropped instead of held without bound.
    static constexpr std::size_t kMaxBuffer = 64 * 1024;

    explicit TReceiveReassembly(IReassemblyHost& host) : host_(host) {}

    void HandleReceivedData(std::string_view chunk);

    // The send step clears PartialFrame before every request and leaves the buffer alone.
    void SetPartialFrame(bool value) { partialFrame_ = value; }

    const std::string& ReceiveBuffer() const { return receiveBuffer_; }
    bool PartialFrame() const { return partialFrame_; }

private:
    IReassemblyHost& host_;
    std::string receiveBuffer_;
    bool partialFrame_ = false;
};

}  // namespace vendilox
