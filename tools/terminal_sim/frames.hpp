// The terminal's side of the frames: checking the program's request, composing the terminal's
// activity confirmations and final responses, and recognising the program's answer to a response.
// Pure functions over byte strings; the simulator's I/O lives elsewhere.
#pragma once

#include <string>
#include <string_view>

namespace vendilox::sim {

// How a received request frame fared.
enum class RequestStatus { Ok, BadFrame, BadLength, BadCrc };

struct RequestCheck {
    RequestStatus status = RequestStatus::BadFrame;
    // For BadFrame, a short word saying what is wrong ("no-stx", "short", "datetime", ...).
    std::string reason;
    std::string header;  // the 36 header bytes, as far as the frame has them
    std::string body;    // from the opening FS up to the byte before ETX
    // Field values after their tags; a later field with the same tag overrides an earlier one.
    std::string type, amount, invoice, auth, closing;
    bool has_type = false, has_amount = false;
};

// Checks one request frame: STX, a 36-byte header of the request's fixed layout, a body of
// tagged fields, ETX, and the body's length and checksum texts in the header.
RequestCheck CheckRequest(std::string_view frame);

const char* RequestStatusName(RequestStatus status);

// What the terminal puts into its frames besides the request's echo.
struct TerminalData {
    std::string terminal_id = "87654321";  // header positions 5 to 12, exactly 8 bytes
    std::string card = "411111******1111";
    std::string card_name = "VISA";
    std::string auth_code = "12345678";
    std::string batch = "0000123";
};

// The date and time text of a header ("yymmddhhnnss") for the current local time.
std::string HeaderNow();

// A header-only frame (38 bytes, no FS): the terminal is at work on the request.
std::string ActivityConfirmation(const TerminalData& terminal, std::string_view datetime);

// A final response to the request, with the response code (three characters: "000" approves).
// A decline carries no authorization code; a terminal closing carries no card data. When
// corrupt_crc is set, the header's checksum text differs from the body's checksum.
std::string FinalResponse(const TerminalData& terminal, const RequestCheck& request,
                          std::string_view code, std::string_view datetime, bool corrupt_crc);

// How the program answered a final response.
enum class Reply { Confirm, Reject, Unexpected, Partial, None };

const char* ReplyName(Reply reply);

// Compares one frame the program sent back with the two answers a final response allows: the
// confirmation (STX + the response header's first 30 bytes + "00A5A5" + ETX) and the
// checksum-error frame (STX + the whole response header + FS + "R106" + ETX).
Reply ClassifyReply(std::string_view response, std::string_view reply_frame);

// A value for the simulator's output lines: bytes 0x21 to 0x7E stay as they are, except '%';
// every other byte becomes %XX (upper-case hexadecimal), so a value never holds a blank.
std::string EncodeValue(std::string_view bytes);

}  // namespace vendilox::sim
