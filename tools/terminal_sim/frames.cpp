#include "frames.hpp"

#include <ctime>

#include "protocol/frame.hpp"

namespace vendilox::sim {

namespace {

constexpr std::string_view kIdentifier = "B001";
// The flag field of the terminal's frames; its last digit is odd, as the terminal sends it.
constexpr std::string_view kTerminalFlags = "0001";
// The flag field every request carries.
constexpr std::string_view kRequestFlags = "0000";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsUpperHex(std::string_view text) {
    for (char c : text) {
        if (!IsDigit(c) && !(c >= 'A' && c <= 'F'))
            return false;
    }
    return true;
}

int TwoDigits(std::string_view text, std::size_t at) {
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// Twelve digits that form a date and time: yymmddhhnnss.
bool IsDateTime(std::string_view text) {
    if (text.size() != 12)
        return false;
    for (char c : text) {
        if (!IsDigit(c))
            return false;
    }
    const int month = TwoDigits(text, 2), day = TwoDigits(text, 4);
    const int hour = TwoDigits(text, 6), minute = TwoDigits(text, 8), second = TwoDigits(text, 10);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 &&
           second <= 59;
}

// The header field at a 1-based header position.
std::string_view Field(std::string_view header, std::size_t pos, std::size_t width) {
    return header.substr(pos - 1, width);
}

RequestCheck Bad(RequestCheck check, const char* reason) {
    check.status = RequestStatus::BadFrame;
    check.reason = reason;
    return check;
}

// Takes the body's fields apart; false when a field is empty, which no request has.
bool ReadFields(std::string_view body, RequestCheck& check) {
    std::size_t start = 1;  // after the opening FS
    while (start <= body.size()) {
        std::size_t end = body.find(FS, start);
        if (end == std::string_view::npos)
            end = body.size();
        const std::string_view field = body.substr(start, end - start);
        if (field.empty())
            return false;
        const std::string value(field.substr(1));
        switch (field[0]) {
            case 'T':
                check.type = value;
                check.has_type = true;
                break;
            case 'B':
                check.amount = value;
                check.has_amount = true;
                break;
            case 'S':
                check.invoice = value;
                break;
            case 'F':
                check.auth = value;
                break;
            case 'L':
                check.closing = value;
                break;
            default:
                return false;
        }
        start = end + 1;
    }
    return true;
}

std::string Header(const TerminalData& terminal, std::string_view datetime, std::string_view body,
                   bool corrupt_crc) {
    std::uint16_t crc = Crc16(body);
    // Any non-zero mask changes the text; this one changes all four digits.
    if (corrupt_crc)
        crc = static_cast<std::uint16_t>(crc ^ 0x5A5A);
    std::string header;
    header.append(kIdentifier).append(terminal.terminal_id).append(datetime);
    header.append(kTerminalFlags).append(LengthText(body.size())).append(CrcText(crc));
    return header;
}

void AddField(std::string& body, char tag, std::string_view value) {
    body.push_back(FS);
    body.push_back(tag);
    body.append(value);
}

}  // namespace

const char* RequestStatusName(RequestStatus status) {
    switch (status) {
        case RequestStatus::Ok:
            return "ok";
        case RequestStatus::BadFrame:
            return "bad-frame";
        case RequestStatus::BadLength:
            return "bad-length";
        case RequestStatus::BadCrc:
            return "bad-crc";
    }
    return "bad-frame";
}

RequestCheck CheckRequest(std::string_view frame) {
    RequestCheck check;
    if (frame.empty() || frame.front() != STX)
        return Bad(check, "no-stx");
    if (frame.back() != ETX)
        return Bad(check, "no-etx");
    check.header = std::string(frame.substr(1, header::kLength));
    if (frame.size() < kHeaderOnlyFrameLength)
        return Bad(check, "short");
    for (char c : check.header) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7E)
            return Bad(check, "header-bytes");
    }
    const std::string_view h = check.header;
    if (Field(h, header::kIdentifierPos, header::kIdentifierWidth) != kIdentifier) {
        return Bad(check, "identifier");
    }
    if (!IsDateTime(Field(h, header::kDateTimePos, header::kDateTimeWidth))) {
        return Bad(check, "datetime");
    }
    if (Field(h, header::kFlagsPos, header::kFlagsWidth) != kRequestFlags)
        return Bad(check, "flags");
    const std::string_view length_text = Field(h, header::kBodyLengthPos, header::kBodyLengthWidth);
    const std::string_view crc_text = Field(h, header::kBodyCrcPos, header::kBodyCrcWidth);
    if (!IsUpperHex(length_text))
        return Bad(check, "length-text");
    if (!IsUpperHex(crc_text))
        return Bad(check, "crc-text");
    if (frame.size() == kHeaderOnlyFrameLength || frame[kBodyFramePos - 1] != FS) {
        return Bad(check, "no-body");
    }
    check.body = std::string(frame.substr(kBodyFramePos - 1, frame.size() - kBodyFramePos));
    if (!ReadFields(check.body, check))
        return Bad(check, "field");
    if (!check.has_type)
        return Bad(check, "no-type");
    if (LengthText(check.body.size()) != length_text) {
        check.status = RequestStatus::BadLength;
    } else if (CrcText(Crc16(check.body)) != crc_text) {
        check.status = RequestStatus::BadCrc;
    } else {
        check.status = RequestStatus::Ok;
    }
    return check;
}

std::string HeaderNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%y%m%d%H%M%S", &local);
    return text;
}

std::string ActivityConfirmation(const TerminalData& terminal, std::string_view datetime) {
    std::string frame(1, STX);
    frame.append(Header(terminal, datetime, "", false));
    frame.push_back(ETX);
    return frame;
}

std::string FinalResponse(const TerminalData& terminal, const RequestCheck& request,
                          std::string_view code, std::string_view datetime, bool corrupt_crc) {
    const bool approved = code == "000";
    const bool closing = request.type == "60";
    std::string body;
    AddField(body, 'R', code);
    AddField(body, 'T', request.type);
    if (request.has_amount)
        AddField(body, 'B', request.amount);
    if (!closing)
        AddField(body, 'P', terminal.card);
    if (!closing && approved)
        AddField(body, 'F', terminal.auth_code);
    if (!closing)
        AddField(body, 'J', terminal.card_name);
    AddField(body, 'L', terminal.batch);

    std::string frame(1, STX);
    frame.append(Header(terminal, datetime, body, corrupt_crc));
    frame.append(body);
    frame.push_back(ETX);
    return frame;
}

const char* ReplyName(Reply reply) {
    switch (reply) {
        case Reply::Confirm:
            return "confirm";
        case Reply::Reject:
            return "reject";
        case Reply::Unexpected:
            return "unexpected";
        case Reply::Partial:
            return "partial";
        case Reply::None:
            return "none";
    }
    return "none";
}

Reply ClassifyReply(std::string_view response, std::string_view reply_frame) {
    const std::string_view header = response.substr(1, header::kLength);
    std::string confirm(1, STX);
    confirm.append(header.substr(0, 30)).append("00A5A5").push_back(ETX);
    std::string reject(1, STX);
    reject.append(header).append(1, FS).append("R106").push_back(ETX);
    if (reply_frame == confirm)
        return Reply::Confirm;
    if (reply_frame == reject)
        return Reply::Reject;
    return Reply::Unexpected;
}

std::string EncodeValue(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x21 && b <= 0x7E && c != '%') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0xF]);
        }
    }
    return out;
}

}  // namespace vendilox::sim
