// The terminal's final response: its parse into the result record, the two answer frames,
// and the check of its body checksum.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "host.hpp"

namespace vendilox {

// The outcome of the operation, as the result file reports it. Every field starts empty and a
// parse sets only those for which the response has a source.
struct TTransactionResult {
    // The most characters each field holds. The amount fields hold a longer amount whole, since
    // cutting it would report a different amount than the terminal sent.
    static constexpr std::size_t kResponseCode = 4, kStatusText = 32, kTerminalNumber = 9,
                                 kBatchNumber = 52, kTypeCode = 4, kTypeName = 19,
                                 kCardTypeCode = 4, kCardName = 19, kCardNumber = 21,
                                 kAuthorizationCode = 9, kTransactionDate = 11,
                                 kTransactionTime = 11, kAmountDigits = 19, kAmountText = 20,
                                 kHeaderFlag = 2;

    std::string ResponseCode;
    std::string StatusText;
    std::string TerminalNumber;
    std::string BatchNumber;
    std::string TypeCode;
    std::string TypeName;
    std::string CardTypeCode;
    std::string CardName;
    std::string CardNumber;
    std::string AuthorizationCode;
    std::string TransactionDate;
    std::string TransactionTime;
    std::string AmountDigits;
    std::string AmountText;
    std::string HeaderFlag;
};

// The texts of the last accepted parse that the answer to the terminal is made of.
struct TResponseFrames {
    std::string ResponseCrc;   // header positions 33 to 36 as received
    std::string ResponseBody;  // the body without its opening FS and without the closing ETX
    std::string ConfirmFrame;  // sent when the response is accepted
    std::string RejectFrame;   // sent when the checksum is wrong and checking is on
};

// Status texts the transaction flow compares against.
std::string_view StatusApproved();        // "Transakce provedena"
std::string_view StatusRefundApproved();  // "Transakce zrušena"
std::string_view StatusCrcError();        // "Chyba CRC"
std::string_view TypeNameRefund();        // "návrat transakce"

// Takes one received message apart. false: it holds no FS and nothing changed. Raises
// EConvertError (flag digit) or ERangeError (empty field, P field of only its tag); what was
// stored before the error stays. requestAmount is the fallback when the response has no amount.
bool ParseResponse(std::string_view frame, std::string_view requestAmount,
                   TTransactionResult& result, TResponseFrames& frames);

// Recomputes the checksum over FS + body, logs three lines and compares without regard to case.
bool CheckResponseCrc(std::string_view ResponseCrc, std::string_view ResponseBody,
                      IProtocolHost& host);

}  // namespace vendilox
