// Feeds arbitrary bytes to the response parser. Only the two documented errors may leave it;
// anything else, and any broken promise about the record, aborts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/frame.hpp"
#include "protocol/host.hpp"
#include "protocol/response.hpp"
#include "protocol/text.hpp"

namespace {

using namespace vendilox;

class SilentHost : public IProtocolHost {
  public:
    void LogLine(std::string_view) override {}
    void ShowInputError(std::string_view, std::string_view) override { std::abort(); }
};

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void CheckRecord(const TTransactionResult& r, const TResponseFrames& f) {
    using R = TTransactionResult;
    Require(r.ResponseCode.size() <= R::kResponseCode);
    Require(r.StatusText.size() <= R::kStatusText);
    Require(r.TerminalNumber.size() <= R::kTerminalNumber);
    Require(r.BatchNumber.size() <= R::kBatchNumber);
    Require(r.TypeCode.size() <= R::kTypeCode);
    Require(r.TypeName.size() <= R::kTypeName);
    Require(r.CardTypeCode.size() <= R::kCardTypeCode);
    Require(r.CardName.size() <= R::kCardName);
    Require(r.CardNumber.size() <= R::kCardNumber);
    Require(r.AuthorizationCode.size() <= R::kAuthorizationCode);
    Require(r.TransactionDate.size() <= R::kTransactionDate);
    Require(r.TransactionTime.size() <= R::kTransactionTime);
    Require(r.HeaderFlag == "0" || r.HeaderFlag == "1");
    // An amount below one unit is padded to three digits before the comma goes in (0,05).
    Require(r.AmountText.size() == std::max<std::size_t>(r.AmountDigits.size(), 3) + 1);
    Require(f.ResponseCrc.size() <= header::kBodyCrcWidth);
    Require(f.ConfirmFrame.size() <= kHeaderOnlyFrameLength);
    Require(f.ConfirmFrame.front() == STX && f.ConfirmFrame.back() == ETX);
    Require(f.RejectFrame.front() == STX && f.RejectFrame.back() == ETX);
}

}  // namespace

// The first byte chooses how many of the following bytes form the request's amount (0 to 19);
// the rest is the received message.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view amount;
    if (!input.empty()) {
        const std::size_t n = static_cast<unsigned char>(input.front()) % 20;
        input.remove_prefix(1);
        amount = input.substr(0, n);
        input.remove_prefix(amount.size());
    }

    TTransactionResult result;
    TResponseFrames frames;
    try {
        if (ParseResponse(input, amount, result, frames)) {
            CheckRecord(result, frames);
            SilentHost host;
            CheckResponseCrc(frames.ResponseCrc, frames.ResponseBody, host);
            // A second response is parsed on top of the first.
            if (ParseResponse(input, amount, result, frames))
                CheckRecord(result, frames);
        } else {
            Require(input.find(FS) == std::string_view::npos);
        }
    } catch (const EConvertError&) {
    } catch (const ERangeError&) {
    }
    return 0;
}
