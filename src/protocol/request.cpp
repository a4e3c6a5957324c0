#include "request.hpp"

#include <string_view>
#include <utility>

#include "cp1250.hpp"
#include "frame.hpp"
#include "text.hpp"

namespace vendilox {

namespace {

constexpr std::string_view kIdentifier = "B001";
constexpr std::string_view kFlags = "0000";
// The whole closing field: tag L, "0010010000", "+", 22 zeros, "+", 18 zeros.
constexpr std::string_view kClosingField = "L0010010000+0000000000000000000000+000000000000000000";
static_assert(kClosingField.size() == 53);

void AppendTwoDigits(std::string& out, int value) {
    // The clock gives values in range; the modulo keeps a wrong one from writing other bytes
    // than digits into the header.
    const int v = ((value % 100) + 100) % 100;
    out.push_back(static_cast<char>('0' + v / 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

// The amount goes into the frame as typed, so only plain decimal digits may pass: a sign, a
// blank or a hexadecimal prefix would reach the terminal and the report as they are. Leading
// zeros are allowed. Returns the value; raises EConvertError for any other text, and for a
// value above the largest amount the terminal takes.
std::int64_t AmountValue(std::string_view amount) {
    constexpr std::size_t kMaxDigits = 18;
    constexpr std::int64_t kMaxAmount = 2147483647;
    bool plain = !amount.empty() && amount.size() <= kMaxDigits;
    std::int64_t value = 0;
    for (std::size_t i = 0; plain && i < amount.size(); ++i) {
        const char c = amount[i];
        plain = c >= '0' && c <= '9';
        value = value * 10 + (c - '0');
    }
    if (!plain || value > kMaxAmount)
        throw EConvertError("'" + std::string(amount) + "' is not a valid integer value");
    return value;
}

}  // namespace

std::string FormatRequestTime(const TDateTime& moment) {
    std::string out;
    out.reserve(12);
    AppendTwoDigits(out, moment.Year);
    AppendTwoDigits(out, moment.Month);
    AppendTwoDigits(out, moment.Day);
    AppendTwoDigits(out, moment.Hour);
    AppendTwoDigits(out, moment.Minute);
    AppendTwoDigits(out, moment.Second);
    return out;
}

bool BuildRequest(std::int32_t TransactionType, std::string AuthCode, std::string Amount,
                  std::string TerminalId, std::string InvoiceNumber, const TDateTime& now,
                  IProtocolHost& host, std::string& OutgoingRequest) {
    std::string header;
    header.reserve(header::kLength);
    header.append(kIdentifier);
    header.append(TerminalId);
    header.append(FormatRequestTime(now));
    header.append(kFlags);

    std::string body(1, FS);

    // A text that is no plain amount leaves here, before anything is logged, shown or stored.
    if (AmountValue(Amount) == 0) {
        host.ShowInputError("Špatné údaje"_w1250, "Částka nemůže být 0 Kč!"_w1250);
        return false;
    }

    switch (TransactionType) {
        case 0:
            body.append("T00");
            body.push_back(FS);
            body.append("B").append(Amount);
            if (!InvoiceNumber.empty()) {
                body.push_back(FS);
                body.append("S").append(InvoiceNumber);
            }
            break;
        case 4:
            body.append("T04");
            body.push_back(FS);
            body.append("B").append(Amount);
            break;
        case 10:
            body.append("T10");
            body.push_back(FS);
            body.append("B").append(Amount);
            body.push_back(FS);
            body.append("F").append(AuthCode);
            break;
        case 60:
            body.append("T60");
            body.push_back(FS);
            body.append(kClosingField);
            break;
        default:
            // The command-line checks let no other type through; the body then stays one FS.
            break;
    }

    header.append(LengthText(body.size()));
    host.LogLine("Retezec pro vypocet CRC: " + body);
    const std::string crc = CrcText(Crc16(body));
    host.LogLine("CRC: " + crc);
    header.append(crc);

    std::string frame;
    frame.reserve(header.size() + body.size() + 2);
    frame.push_back(STX);
    frame.append(header);
    frame.append(body);
    frame.push_back(ETX);
    OutgoingRequest = std::move(frame);
    return true;
}

}  // namespace vendilox
