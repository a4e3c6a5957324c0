#include "response.hpp"

#include <array>
#include <cstdint>
#include <optional>

#include "cp1250.hpp"
#include "frame.hpp"
#include "text.hpp"

namespace vendilox {

namespace {

struct TCodeText {
    std::int32_t Value;
    std::string_view Text;
};

// Texts by the value of the response code; every other value is "Nezpracováno".
constexpr std::array<TCodeText, 13> kStatusTable = {{
    {0, "Transakce provedena"_w1250},
    {1, "Transakce provedena"_w1250},
    {50, "Chyba"_w1250},
    {51, "Server není připojen"_w1250},
    {53, "Server připojen-chybný požadavek"_w1250},
    {60, "Zrušeno prodávajícím"_w1250},
    {61, "Zrušeno zákazníkem"_w1250},
    {62, "Zákazník odmítl částku"_w1250},
    {63, "Vypršení doby pro zrušení"_w1250},
    {100, "Nepovolená transakce"_w1250},
    {101, "Špatný typ karty"_w1250},
    {103, "Špatná vstupní hodnota"_w1250},
    {106, "Chyba CRC"_w1250},
}};
constexpr std::string_view kStatusOther = "Nezpracováno"_w1250;

// Names by the value of the type code; any other value leaves the name as it was.
constexpr std::array<TCodeText, 4> kTypeTable = {{
    {0, "nákup na terminálu"_w1250},
    {4, "storno platby"_w1250},
    {10, "návrat transakce"_w1250},
    {60, "uzávěrka terminálu"_w1250},
}};

// Card names whose beginning tells the card type when the card number does not.
struct TCardTypeRow {
    std::string_view Name;
    std::string_view Code;
};
constexpr std::array<TCardTypeRow, 3> kCardTypeTable = {{
    {"Amex", "4"},
    {"Visa", "0"},
    {"Master", "1"},
}};

// The answer's body and checksum field: the response code that stands for a checksum error, and
// the fixed tail of the confirmation header.
constexpr std::string_view kRejectField = "R106";
constexpr std::string_view kConfirmTail = "00A5A5";
constexpr std::size_t kConfirmHeaderCopied = 30;

// A response pads its amount with leading zeros; at most this many are removed.
constexpr int kMaxLeadingZeros = 15;

std::string_view StatusFor(std::int32_t value) {
    for (const auto& row : kStatusTable) {
        if (row.Value == value)
            return row.Text;
    }
    return kStatusOther;
}

// The value of a response code of one to three decimal digits; nothing for any other text.
std::optional<std::int32_t> StatusCodeValue(std::string_view code) {
    if (code.empty() || code.size() > 3)
        return std::nullopt;
    std::int32_t value = 0;
    for (char c : code) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The card rules for the first character of the card number, when it is a digit.
void ApplyCardDigit(char first, TTransactionResult& result) {
    switch (first) {
        case '3':
            result.CardName = "Amex";
            result.CardTypeCode = "4";
            break;
        case '4':
            result.CardName = "Visa";
            result.CardTypeCode = "0";
            break;
        case '5':
            result.CardName = "Master";
            result.CardTypeCode = "1";
            break;
        case '6':
            result.CardName = "Maestro";
            break;
        default:
            result.CardName = "neznámý"_w1250;
            break;
    }
}

}  // namespace

std::string_view StatusApproved() {
    return "Transakce provedena"_w1250;
}
std::string_view StatusRefundApproved() {
    return "Transakce zrušena"_w1250;
}
std::string_view StatusCrcError() {
    return "Chyba CRC"_w1250;
}
std::string_view TypeNameRefund() {
    return "návrat transakce"_w1250;
}

bool ParseResponse(std::string_view frame, std::string_view requestAmount,
                   TTransactionResult& result, TResponseFrames& frames) {
    if (frame.find(FS) == std::string_view::npos)
        return false;

    const std::string header = Substring(frame, 2, header::kLength);
    frames.ResponseCrc = Substring(frame, 1 + header::kBodyCrcPos, header::kBodyCrcWidth);

    // The last character of the flag field; anything but a decimal digit raises EConvertError.
    const std::int32_t flag =
        StrToInt(Substring(frame, 1 + header::kFlagsPos + header::kFlagsWidth - 1, 1));
    result.HeaderFlag = flag % 2 == 0 ? "0" : "1";

    std::string reject;
    reject.reserve(header.size() + kRejectField.size() + 3);
    reject.push_back(STX);
    reject.append(header);
    reject.push_back(FS);
    reject.append(kRejectField);
    reject.push_back(ETX);
    frames.RejectFrame = std::move(reject);

    std::string confirm;
    confirm.reserve(kHeaderOnlyFrameLength);
    confirm.push_back(STX);
    confirm.append(Substring(header, 1, kConfirmHeaderCopied));
    confirm.append(kConfirmTail);
    confirm.push_back(ETX);
    frames.ConfirmFrame = std::move(confirm);

    // Everything after the FS at the body's frame position, less the closing ETX.
    const auto frameLength = static_cast<std::int64_t>(frame.size());
    const std::int64_t bodyStart = kBodyFramePos + 1;
    frames.ResponseBody = Substring(frame, bodyStart, frameLength - bodyStart);

    std::string amount;
    std::optional<char> cardFirst;
    bool hasCode = false;
    std::string_view rest = frames.ResponseBody;
    while (!rest.empty()) {
        std::string_view field;
        const auto fs = rest.find(FS);
        if (fs == std::string_view::npos) {
            field = rest;
            rest = {};
        } else {
            field = rest.substr(0, fs);
            rest.remove_prefix(fs + 1);
        }

        // An empty field (FS at the start of the body, or two in a row) raises ERangeError.
        switch (CharAt(field, 1)) {
            case 'B':
                amount = field.substr(1);
                break;
            case 'F':
                result.AuthorizationCode = Substring(field, 2, 8);
                break;
            case 'J':
                result.CardName = Substring(field, 2, 10);
                break;
            case 'L':
                result.BatchNumber = Substring(field, 2, 52);
                break;
            case 'P':
                result.CardNumber = Substring(field, 2, 19);
                // A P field of only its tag raises ERangeError once the number is emptied.
                cardFirst = CharAt(field, 2);
                break;
            case 'R':
                result.ResponseCode = Substring(field, 2, 3);
                hasCode = true;
                break;
            case 'T':
                result.TypeCode = Substring(field, 2, 2);
                break;
            default:
                break;
        }
    }

    if (amount.empty())
        amount = requestAmount;
    // Removing stops at an empty amount, so an amount of zeros only reads as no amount rather
    // than ending the parse of an otherwise good response.
    for (int removed = 0; removed < kMaxLeadingZeros && !amount.empty() && amount.front() == '0';
         ++removed) {
        amount.erase(0, 1);
    }
    result.AmountDigits = amount;
    // Less than one unit still reads as an amount: '5' is 0,05, not ,5.
    if (amount.size() < 3)
        amount.insert(0, 3 - amount.size(), '0');
    result.AmountText = Insert(",", amount, static_cast<std::int64_t>(amount.size()) - 1);

    result.TerminalNumber = Substring(header, header::kTerminalIdPos, header::kTerminalIdWidth);

    // The header holds yymmddhhnnss; the report wants mm/dd/20yy and hh:nn:ss.
    std::string date = Insert("/", Substring(header, header::kDateTimePos + 2, 4), 3);
    date.append("/20");
    date.append(Substring(header, header::kDateTimePos, 2));
    result.TransactionDate = std::move(date);

    std::string time = Substring(header, header::kDateTimePos + 6, 6);
    time = Insert(":", time, 5);
    time = Insert(":", time, 3);
    result.TransactionTime = std::move(time);

    // Only a code of decimal digits from this very response is looked up: a missing or damaged
    // one (with the checksum unchecked, one bad byte) must never read as an approval.
    if (const std::optional<std::int32_t> status =
            hasCode ? StatusCodeValue(result.ResponseCode) : std::nullopt) {
        result.StatusText = StatusFor(*status);
        if (*status == 1)
            result.ResponseCode = "000";
    } else {
        result.StatusText = kStatusOther;
    }

    const std::int32_t type = CodeValue(result.TypeCode);
    for (const auto& row : kTypeTable) {
        if (row.Value == type) {
            result.TypeName = row.Text;
            break;
        }
    }

    if (cardFirst && *cardFirst >= '0' && *cardFirst <= '9') {
        ApplyCardDigit(*cardFirst, result);
    } else if (!result.CardName.empty()) {
        for (const auto& row : kCardTypeTable) {
            if (StartsWithNoCase(result.CardName, row.Name)) {
                result.CardTypeCode = row.Code;
                break;
            }
        }
    }
    return true;
}

bool CheckResponseCrc(std::string_view ResponseCrc, std::string_view ResponseBody,
                      IProtocolHost& host) {
    std::string data(1, FS);
    data.append(ResponseBody);
    host.LogLine("Prijmuta data pro vypocet CRC: " + data);
    const std::string computed = CrcText(Crc16(data));
    host.LogLine("CRC vypocitane z dat: " + computed);
    host.LogLine("CRC obsazene v hlavicce: " + std::string(ResponseCrc));
    return EqualsNoCase(ResponseCrc, computed);
}

}  // namespace vendilox
