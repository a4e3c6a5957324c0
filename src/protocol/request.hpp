// The request that starts an operation on the terminal.
#pragma once

#include <cstdint>
#include <string>

#include "host.hpp"

namespace vendilox {

// The operation as the command line gave it, validated by the command-line checks.
struct TTransactionRequest {
    std::int32_t TransactionType = 0;  // 0 purchase, 4 payment void, 10 refund, 60 closing
    std::string AuthCode;              // 8 bytes; sent only with a refund
    std::string Amount;                // as the caller passed it; not yet known to be a number
    std::string TerminalId;            // eight spaces
    std::string InvoiceNumber;         // sent only with a purchase; empty when not given
};

// A local date and time, as the clock of the platform gives it.
struct TDateTime {
    int Year = 0;  // four digits
    int Month = 0;
    int Day = 0;
    int Hour = 0;  // 0 to 23
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;  // 0 to 999: the request leaves it out, the journal's time stamps need it
};

// "yymmddhhnnss": two digits each of year, month, day, hour, minute and second.
std::string FormatRequestTime(const TDateTime& moment);

// Composes the request frame for the moment now into OutgoingRequest and logs its checksum
// lines. Amount must be one to eighteen decimal digits (leading zeros allowed, sent as typed)
// with a value up to 2147483647. Returns false, having shown the zero-amount box, when its value
// is 0; raises EConvertError for any other text. A refused or failed composition leaves
// OutgoingRequest as it was.
bool BuildRequest(std::int32_t TransactionType, std::string AuthCode, std::string Amount,
                  std::string TerminalId, std::string InvoiceNumber, const TDateTime& now,
                  IProtocolHost& host, std::string& OutgoingRequest);

}  // namespace vendilox
