// Feeds receive reassembly arbitrary sequences of chunks, with a host whose final-response
// handler sometimes answers 1 and sometimes raises, and checks what it hands over.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/frame.hpp"
#include "protocol/reassembly.hpp"

namespace {

using namespace vendilox;

struct HostFailure {};

void Require(bool condition) {
    if (!condition)
        std::abort();
}

class ChoosingHost : public IReassemblyHost {
  public:
    void LogLine(std::string_view) override {}
    void HandleActivityConfirmation() override {}
    int HandleFinalResponse(const std::string& message) override {
        // A message is empty or runs up to its first ETX, and ends there.
        Require(message.empty() || message.find(ETX) == message.size() - 1);
        if (Throw)
            throw HostFailure{};
        return Result;
    }

    int Result = 0;
    bool Throw = false;
};

}  // namespace

// The input is a sequence of records: a control byte, a length byte, then that many bytes of the
// chunk (fewer at the end of the input). Control bits: 1 the handler answers 1, 2 it raises,
// 4 the send step clears PartialFrame first, 8 the chunk is repeated 64 times so that the
// buffer's cap is reached within short inputs.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    ChoosingHost host;
    TReceiveReassembly reassembly(host);
    while (input.size() >= 2) {
        const auto control = static_cast<unsigned char>(input[0]);
        const std::size_t length = static_cast<unsigned char>(input[1]);
        input.remove_prefix(2);
        const std::string_view piece = input.substr(0, length);
        input.remove_prefix(piece.size());

        std::string chunk(piece);
        if (control & 8) {
            chunk.clear();
            for (int i = 0; i < 64; ++i)
                chunk.append(piece);
        }
        host.Result = control & 1;
        host.Throw = (control & 2) != 0;
        if (control & 4)
            reassembly.SetPartialFrame(false);
        try {
            reassembly.HandleReceivedData(chunk);
        } catch (const HostFailure&) {
        }
        Require(reassembly.ReceiveBuffer().size() <= TReceiveReassembly::kMaxBuffer);
    }
    return 0;
}
