#include "protocol/response.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "protocol/cp1250.hpp"
#include "protocol/frame.hpp"
#include "protocol/text.hpp"
#include "support.hpp"

namespace vendilox {
namespace {

using test::MakeFrame;
using test::RecordingProtocolHost;

// Terminal 87654321, 14:30:05 on 16 August 2018, flag field ending in an odd digit.
const std::string kHeader =
    "B001"
    "87654321"
    "180816143005"
    "0001"
    "0047"
    "1A2B";

std::string HeaderWithFlag(char flag) {
    std::string h = kHeader;
    h[27] = flag;
    return h;
}

struct TParsed {
    TTransactionResult Result;
    TResponseFrames Frames;
};

TParsed Parse(std::string_view frame, std::string_view requestAmount = "") {
    TParsed p;
    EXPECT_TRUE(ParseResponse(frame, requestAmount, p.Result, p.Frames));
    return p;
}

TParsed ParseFields(std::initializer_list<std::string_view> fields,
                    std::string_view requestAmount = "") {
    return Parse(MakeFrame(kHeader, fields), requestAmount);
}

TEST(ParseResponse, WorkedResponseFieldByField) {
    const std::string frame = MakeFrame(
        kHeader,
        {"R000", "T00", "B000000012345", "P4111111111111111", "F12345678", "JVISA", "L0000123"});
    const TParsed p = Parse(frame);
    const TTransactionResult& r = p.Result;
    EXPECT_EQ(r.ResponseCode, "000");
    EXPECT_EQ(r.StatusText, "Transakce provedena"_w1250);
    EXPECT_EQ(r.TerminalNumber, "87654321");
    EXPECT_EQ(r.BatchNumber, "0000123");
    EXPECT_EQ(r.TypeCode, "00");
    EXPECT_EQ(r.TypeName, "nákup na terminálu"_w1250);
    EXPECT_EQ(r.CardName, "Visa");
    EXPECT_EQ(r.CardTypeCode, "0");
    EXPECT_EQ(r.CardNumber, "4111111111111111");
    EXPECT_EQ(r.AuthorizationCode, "12345678");
    EXPECT_EQ(r.TransactionDate, "08/16/2018");
    EXPECT_EQ(r.TransactionTime, "14:30:05");
    EXPECT_EQ(r.AmountDigits, "12345");
    EXPECT_EQ(r.AmountText, "123,45");
    EXPECT_EQ(r.HeaderFlag, "1");

    EXPECT_EQ(p.Frames.ResponseCrc, "1A2B");
    EXPECT_EQ(p.Frames.ResponseBody, frame.substr(38, frame.size() - 39));
    EXPECT_EQ(p.Frames.ResponseBody.substr(0, 5), "R000\x1C");
}

TEST(ParseResponse, AnswerFrames) {
    const TParsed p = ParseFields({"R000"});
    EXPECT_EQ(p.Frames.ConfirmFrame,
              "\x02"
              "B00187654321180816143005000100"
              "00A5A5\x03");
    EXPECT_EQ(p.Frames.ConfirmFrame.size(), kHeaderOnlyFrameLength);
    EXPECT_EQ(p.Frames.RejectFrame, "\x02" + kHeader + "\x1CR106\x03");
    EXPECT_EQ(p.Frames.RejectFrame.size(), 43u);
}

TEST(ParseResponse, NoFsChangesNothing) {
    TTransactionResult r;
    r.StatusText = "old";
    TResponseFrames f;
    f.ResponseCrc = "old";
    EXPECT_FALSE(ParseResponse("\x02" + kHeader + "\x03", "100", r, f));
    EXPECT_FALSE(ParseResponse("", "100", r, f));
    EXPECT_EQ(r.StatusText, "old");
    EXPECT_EQ(f.ResponseCrc, "old");
}

struct StatusCase {
    const char* Name;
    std::vector<std::string> Fields;
    std::string ResponseCode;
    std::string_view StatusText;
};

class StatusTableTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusTableTest, TextByCodeValue) {
    const StatusCase& c = GetParam();
    std::string frame = "\x02" + kHeader;
    for (const auto& f : c.Fields)
        frame += FS + f;
    frame += ETX;
    const TParsed p = Parse(frame);
    EXPECT_EQ(p.Result.ResponseCode, c.ResponseCode);
    EXPECT_EQ(p.Result.StatusText, c.StatusText);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusTableTest,
    ::testing::Values(StatusCase{"R000", {"R000"}, "000", "Transakce provedena"_w1250},
                      StatusCase{"R001BecomesZero", {"R001"}, "000", "Transakce provedena"_w1250},
                      StatusCase{"R050", {"R050"}, "050", "Chyba"_w1250},
                      StatusCase{"R051", {"R051"}, "051", "Server není připojen"_w1250},
                      StatusCase{"R053", {"R053"}, "053", "Server připojen-chybný požadavek"_w1250},
                      StatusCase{"R060", {"R060"}, "060", "Zrušeno prodávajícím"_w1250},
                      StatusCase{"R061", {"R061"}, "061", "Zrušeno zákazníkem"_w1250},
                      StatusCase{"R062", {"R062"}, "062", "Zákazník odmítl částku"_w1250},
                      StatusCase{"R063", {"R063"}, "063", "Vypršení doby pro zrušení"_w1250},
                      StatusCase{"R100", {"R100"}, "100", "Nepovolená transakce"_w1250},
                      StatusCase{"R101", {"R101"}, "101", "Špatný typ karty"_w1250},
                      StatusCase{"R103", {"R103"}, "103", "Špatná vstupní hodnota"_w1250},
                      StatusCase{"R106", {"R106"}, "106", "Chyba CRC"_w1250},
                      StatusCase{"R999", {"R999"}, "999", "Nezpracováno"_w1250},
                      StatusCase{"Negative", {"R-01"}, "-01", "Nezpracováno"_w1250},
                      StatusCase{"ShortCode", {"R5"}, "5", "Nezpracováno"_w1250},
                      StatusCase{"KeepsThreeCharacters", {"R0501"}, "050", "Chyba"_w1250},
                      StatusCase{"OneDigit", {"R0"}, "0", "Transakce provedena"_w1250},
                      StatusCase{"TwoDigitsOne", {"R01"}, "000", "Transakce provedena"_w1250},
                      StatusCase{
                          "LaterRCounts", {"R050", "R000"}, "000", "Transakce provedena"_w1250},
                      // A code that is not one to three digits is never looked up, so no damage
                      // to it can read as an approval; the code column keeps what came.
                      StatusCase{"Letters", {"Rabc"}, "abc", "Nezpracováno"_w1250},
                      StatusCase{"HexPrefix", {"R0x6"}, "0x6", "Nezpracováno"_w1250},
                      StatusCase{"LeadingBlank", {"R 5"}, " 5", "Nezpracováno"_w1250},
                      StatusCase{"TrailingLetter", {"R00X"}, "00X", "Nezpracováno"_w1250},
                      StatusCase{"PlusSign", {"R+00"}, "+00", "Nezpracováno"_w1250},
                      StatusCase{"ControlByte", {"R0\x010"}, "0\x010", "Nezpracováno"_w1250},
                      StatusCase{"EmptyCode", {"R"}, "", "Nezpracováno"_w1250},
                      StatusCase{"NoRField", {"T00"}, "", "Nezpracováno"_w1250},
                      StatusCase{"LowerCaseTagIgnored", {"r050"}, "", "Nezpracováno"_w1250}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ParseResponse, StatusTextFitsItsField) {
    const TParsed p = ParseFields({"R053"});
    EXPECT_EQ(p.Result.StatusText.size(), TTransactionResult::kStatusText);
}

TEST(ParseResponse, TypeTable) {
    const struct {
        std::string Field;  // empty: no T field
        std::string TypeCode;
        std::string_view TypeName;
    } cases[] = {
        {"T00", "00", "nákup na terminálu"_w1250}, {"T04", "04", "storno platby"_w1250},
        {"T10", "10", "návrat transakce"_w1250},   {"T60", "60", "uzávěrka terminálu"_w1250},
        {"T4", "4", "storno platby"_w1250},        {"T600", "60", "uzávěrka terminálu"_w1250},
        {"", "", "nákup na terminálu"_w1250},      {"T07", "07", "previous"},
        {"T", "", "nákup na terminálu"_w1250},
    };
    for (const auto& c : cases) {
        TTransactionResult r;
        r.TypeName = "previous";
        TResponseFrames f;
        const std::string frame =
            c.Field.empty() ? MakeFrame(kHeader, {"R000"}) : MakeFrame(kHeader, {"R000", c.Field});
        ASSERT_TRUE(ParseResponse(frame, "", r, f));
        EXPECT_EQ(r.TypeCode, c.TypeCode) << c.Field;
        EXPECT_EQ(r.TypeName, c.TypeName) << c.Field;
    }
    EXPECT_EQ(TypeNameRefund(), "návrat transakce"_w1250);
}

struct CardCase {
    const char* Name;
    std::vector<std::string> Fields;
    std::string CardName;  // after the parse
    std::string CardTypeCode;
};

class CardRulesTest : public ::testing::TestWithParam<CardCase> {};

// Every case starts from a record that already holds a card name and code, so that "unchanged"
// is visible.
TEST_P(CardRulesTest, NameAndCode) {
    const CardCase& c = GetParam();
    TTransactionResult r;
    r.CardName = "Visa";
    r.CardTypeCode = "9";
    TResponseFrames f;
    std::string frame = "\x02" + kHeader + "\x1CR000";
    for (const auto& field : c.Fields)
        frame += FS + field;
    frame += ETX;
    ASSERT_TRUE(ParseResponse(frame, "", r, f));
    EXPECT_EQ(r.CardName, c.CardName);
    EXPECT_EQ(r.CardTypeCode, c.CardTypeCode);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CardRulesTest,
    ::testing::Values(CardCase{"Amex", {"P371449635398431"}, "Amex", "4"},
                      CardCase{"Visa", {"P4111111111111111"}, "Visa", "0"},
                      CardCase{"Master", {"P5500000000000004"}, "Master", "1"},
                      CardCase{"MaestroKeepsCode", {"P6759649826438453"}, "Maestro", "9"},
                      CardCase{"OtherDigitUnknown", {"P9000"}, std::string("neznámý"_w1250), "9"},
                      CardCase{"ZeroUnknown", {"P0000"}, std::string("neznámý"_w1250), "9"},
                      CardCase{"DigitOverridesJ", {"JAMEX", "P4111"}, "Visa", "0"},
                      CardCase{"MaskedUsesName", {"P******1234", "JMASTERCARD"}, "MASTERCARD", "1"},
                      CardCase{"NameCutToTenMatchesNoRow",
                               {"P******1234", "JAMERICAN EXPRESS"},
                               "AMERICAN E",
                               "9"},
                      CardCase{"NoPUsesName", {"JVISA ELECTRON"}, "VISA ELECT", "0"},
                      CardCase{"MixedCaseName", {"JMasterCard"}, "MasterCard", "1"},
                      CardCase{"MaestroNameNoRow", {"JMaestro"}, "Maestro", "9"},
                      CardCase{"PreviousNameStillCounts", {}, "Visa", "0"},
                      CardCase{"LastPCounts", {"P4111", "P*111", "JAMEX"}, "AMEX", "4"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ParseResponse, EmptyCardNameChangesNoCode) {
    const TParsed p = ParseFields({"R000", "PX123"});
    EXPECT_EQ(p.Result.CardNumber, "X123");
    EXPECT_EQ(p.Result.CardName, "");
    EXPECT_EQ(p.Result.CardTypeCode, "");
}

TEST(ParseResponse, FieldsKeepTheirMostCharacters) {
    const TParsed p =
        ParseFields({"R00099", "T0000", "F" + std::string("ABCDEFGHIJ"), "J" + std::string(15, 'j'),
                     "L" + std::string(60, 'l'), "P1" + std::string(24, '2')});
    EXPECT_EQ(p.Result.ResponseCode, "000");
    EXPECT_EQ(p.Result.TypeCode, "00");
    EXPECT_EQ(p.Result.AuthorizationCode, "ABCDEFGH");
    EXPECT_EQ(p.Result.CardName, std::string("neznámý"_w1250));  // the digit 1 names it
    EXPECT_EQ(p.Result.BatchNumber, std::string(52, 'l'));
    EXPECT_EQ(p.Result.CardNumber, "1" + std::string(18, '2'));

    const TParsed named = ParseFields({"J" + std::string(15, 'j')});
    EXPECT_EQ(named.Result.CardName, std::string(10, 'j'));
}

struct AmountCase {
    const char* Name;
    std::vector<std::string> Fields;
    std::string RequestAmount;
    std::string Digits;
    std::string Text;
};

class AmountTest : public ::testing::TestWithParam<AmountCase> {};

TEST_P(AmountTest, DigitsAndText) {
    const AmountCase& c = GetParam();
    std::string frame = "\x02" + kHeader + "\x1CR000";
    for (const auto& field : c.Fields)
        frame += FS + field;
    frame += ETX;
    TTransactionResult r;
    TResponseFrames f;
    ASSERT_NO_THROW(ParseResponse(frame, c.RequestAmount, r, f));
    EXPECT_EQ(r.AmountDigits, c.Digits);
    EXPECT_EQ(r.AmountText, c.Text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AmountTest,
    ::testing::Values(
        AmountCase{"Padded", {"B000000012345"}, "", "12345", "123,45"},
        AmountCase{"FifteenZerosAtMost", {"B" + std::string(18, '0') + "5"}, "", "0005", "00,05"},
        AmountCase{"ExactlyFifteenZeros", {"B" + std::string(15, '0')}, "", "", "0,00"},
        AmountCase{"SixteenZeros", {"B" + std::string(16, '0')}, "", "0", "0,00"},
        // An amount of zeros only reads as no amount instead of failing the whole parse.
        AmountCase{"OneZero", {"B0"}, "", "", "0,00"},
        AmountCase{"ThreeZeros", {"B000"}, "", "", "0,00"},
        AmountCase{"FourteenZeros", {"B" + std::string(14, '0')}, "", "", "0,00"},
        AmountCase{"ZeroRequestAmount", {}, "0", "", "0,00"},
        AmountCase{"NothingAnywhere", {}, "", "", "0,00"},
        AmountCase{"TwoDigits", {"B50"}, "", "50", "0,50"},
        // Less than a whole unit is shown with its leading zero and two decimals; the digits of the
        // summary column stay as they came.
        AmountCase{"OneDigit", {"B5"}, "", "5", "0,05"},
        AmountCase{"TagAloneTakesRequest", {"B"}, "250", "250", "2,50"},
        AmountCase{"NoFieldTakesRequest", {}, "0250", "250", "2,50"},
        AmountCase{"LaterBCounts", {"B100", "B200"}, "", "200", "2,00"},
        AmountCase{"LaterEmptyBTakesRequest", {"B100", "B"}, "7", "7", "0,07"},
        // Cutting a long amount to the field would report a different amount than was sent.
        AmountCase{"LongerThanTheFieldKeptWhole",
                   {"B" + std::string(25, '9')},
                   "",
                   std::string(25, '9'),
                   std::string(23, '9') + ",99"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ParseResponse, FlagDigitModuloTwo) {
    const std::pair<char, const char*> cases[] = {{'0', "0"}, {'1', "1"}, {'4', "0"},
                                                  {'7', "1"}, {'8', "0"}, {'9', "1"}};
    for (const auto& [digit, flag] : cases) {
        const TParsed p = Parse(MakeFrame(HeaderWithFlag(digit), {"R000"}));
        EXPECT_EQ(p.Result.HeaderFlag, flag) << digit;
    }
}

TEST(ParseResponse, ShapesOfTheBody) {
    const TParsed plain = ParseFields({"R050", "T04", "B100"});
    const TParsed trailingFs = Parse("\x02" + kHeader +
                                     "\x1CR050\x1CT04\x1C"
                                     "B100\x1C\x03");
    EXPECT_EQ(trailingFs.Result.StatusText, plain.Result.StatusText);
    EXPECT_EQ(trailingFs.Result.TypeName, plain.Result.TypeName);
    EXPECT_EQ(trailingFs.Result.AmountText, plain.Result.AmountText);

    // Unknown tags are passed over.
    const TParsed other = ParseFields({"S123", "x1", "R050", "Z"});
    EXPECT_EQ(other.Result.StatusText, "Chyba"_w1250);

    // A body that is only the opening FS: no fields, the request's amount, the header's data.
    const TParsed bare = Parse("\x02" + kHeader + "\x1C\x03", "100");
    EXPECT_EQ(bare.Frames.ResponseBody, "");
    EXPECT_EQ(bare.Result.AmountText, "1,00");
    EXPECT_EQ(bare.Result.TerminalNumber, "87654321");
}

TEST(ParseResponse, ShortFrameIsReadByPosition) {
    // The FS sits inside the header's place; positions past the end read as empty texts.
    const std::string frame =
        "\x02"
        "B001\x1C"
        "12345678901234567890123";
    ASSERT_EQ(frame.size(), 29u);
    const TParsed p = Parse(frame, "100");
    EXPECT_EQ(p.Frames.ResponseCrc, "");
    EXPECT_EQ(p.Frames.ResponseBody, "");
    EXPECT_EQ(p.Result.HeaderFlag, "1");
    EXPECT_EQ(p.Result.TerminalNumber,
              "\x1C"
              "1234567");
    EXPECT_EQ(p.Frames.ConfirmFrame, "\x02" + frame.substr(1) + "00A5A5\x03");
}

TEST(ParseResponse, LaterResponseParsesOnTopOfTheFirst) {
    TTransactionResult r;
    TResponseFrames f;
    ASSERT_TRUE(ParseResponse(MakeFrame(kHeader, {"R000", "T10", "P4111", "F12345678", "L77"}),
                              "100", r, f));
    ASSERT_TRUE(ParseResponse(MakeFrame(kHeader, {"R050", "JAMEX"}), "100", r, f));
    EXPECT_EQ(r.StatusText, "Chyba"_w1250);
    EXPECT_EQ(r.TypeName, "návrat transakce"_w1250);
    EXPECT_EQ(r.CardNumber, "4111");
    EXPECT_EQ(r.AuthorizationCode, "12345678");
    EXPECT_EQ(r.BatchNumber, "77");
    // The card number's first digit counted only in the first parse; now the name decides.
    EXPECT_EQ(r.CardName, "AMEX");
    EXPECT_EQ(r.CardTypeCode, "4");
}

TEST(ParseResponse, LaterResponseWithoutCodeIsNotApproved) {
    // The first response's code stays in the record, but it is not this response's outcome.
    TTransactionResult r;
    TResponseFrames f;
    ASSERT_TRUE(ParseResponse(MakeFrame(kHeader, {"R000", "T00"}), "100", r, f));
    ASSERT_TRUE(ParseResponse(MakeFrame(kHeader, {"T00"}), "100", r, f));
    EXPECT_EQ(r.ResponseCode, "000");
    EXPECT_EQ(r.StatusText, "Nezpracováno"_w1250);
}

// Every field of both records, by name, so that a failure can say which ones changed.
std::vector<std::pair<std::string, std::string*>> AllFields(TTransactionResult& r,
                                                            TResponseFrames& f) {
    return {{"ResponseCode", &r.ResponseCode},
            {"StatusText", &r.StatusText},
            {"TerminalNumber", &r.TerminalNumber},
            {"BatchNumber", &r.BatchNumber},
            {"TypeCode", &r.TypeCode},
            {"TypeName", &r.TypeName},
            {"CardTypeCode", &r.CardTypeCode},
            {"CardName", &r.CardName},
            {"CardNumber", &r.CardNumber},
            {"AuthorizationCode", &r.AuthorizationCode},
            {"TransactionDate", &r.TransactionDate},
            {"TransactionTime", &r.TransactionTime},
            {"AmountDigits", &r.AmountDigits},
            {"AmountText", &r.AmountText},
            {"HeaderFlag", &r.HeaderFlag},
            {"ResponseCrc", &f.ResponseCrc},
            {"ResponseBody", &f.ResponseBody},
            {"ConfirmFrame", &f.ConfirmFrame},
            {"RejectFrame", &f.RejectFrame}};
}

enum class ErrorKind { Convert, Range };

struct FailureCase {
    const char* Name;
    std::string Frame;
    ErrorKind Error;
    const char* Message;  // of a conversion error
    std::set<std::string> Changed;
};

class FailurePointTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailurePointTest, StoredBeforeTheErrorStays) {
    const FailureCase& c = GetParam();
    TTransactionResult r;
    TResponseFrames f;
    for (auto& [name, field] : AllFields(r, f))
        *field = "old";

    try {
        ParseResponse(c.Frame, "100", r, f);
        FAIL() << "no error raised";
    } catch (const EConvertError& e) {
        EXPECT_EQ(c.Error, ErrorKind::Convert);
        EXPECT_STREQ(e.what(), c.Message);
    } catch (const ERangeError&) {
        EXPECT_EQ(c.Error, ErrorKind::Range);
    }

    std::set<std::string> changed;
    for (auto& [name, field] : AllFields(r, f)) {
        if (*field != "old")
            changed.insert(name);
    }
    EXPECT_EQ(changed, c.Changed);
}

const std::set<std::string> kBeforeFields = {"ResponseCrc", "HeaderFlag", "RejectFrame",
                                             "ConfirmFrame", "ResponseBody"};

std::set<std::string> BeforeFieldsAnd(std::initializer_list<std::string> more) {
    std::set<std::string> s = kBeforeFields;
    s.insert(more);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailurePointTest,
    ::testing::Values(FailureCase{"FlagLetter",
                                  MakeFrame(HeaderWithFlag('A'), {"R000"}),
                                  ErrorKind::Convert,
                                  "'A' is not a valid integer value",
                                  {"ResponseCrc"}},
                      FailureCase{"FlagBlank",
                                  MakeFrame(HeaderWithFlag(' '), {"R000"}),
                                  ErrorKind::Convert,
                                  "' ' is not a valid integer value",
                                  {"ResponseCrc"}},
                      FailureCase{"FlagSign",
                                  MakeFrame(HeaderWithFlag('+'), {"R000"}),
                                  ErrorKind::Convert,
                                  "'+' is not a valid integer value",
                                  {"ResponseCrc"}},
                      FailureCase{"TooShortForFlag",
                                  "\x02"
                                  "B001\x1C\x03",
                                  ErrorKind::Convert,
                                  "'' is not a valid integer value",
                                  {"ResponseCrc"}},
                      FailureCase{"EmptyFieldInTheMiddle", MakeFrame(kHeader, {"R000", "", "T00"}),
                                  ErrorKind::Range, nullptr, BeforeFieldsAnd({"ResponseCode"})},
                      FailureCase{"EmptyFirstField", MakeFrame(kHeader, {"", "R000"}),
                                  ErrorKind::Range, nullptr, kBeforeFields},
                      FailureCase{"PTagAlone", MakeFrame(kHeader, {"R000", "P", "T00"}),
                                  ErrorKind::Range, nullptr,
                                  BeforeFieldsAnd({"ResponseCode", "CardNumber"})}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CheckResponseCrc, ComparesWithoutRegardToCase) {
    const struct {
        std::string Crc;
        std::string Body;
        bool Equal;
    } cases[] = {
        {"d3bd", "", true},
        {"D3BD", "", true},
        {"9930",
         "T00\x1C"
         "B100",
         true},
        {"9931",
         "T00\x1C"
         "B100",
         false},
        {"D3B", "", false},
        {"D3BD ", "", false},
        {"", "", false},
    };
    for (const auto& c : cases) {
        RecordingProtocolHost host;
        EXPECT_EQ(CheckResponseCrc(c.Crc, c.Body, host), c.Equal) << c.Crc;
    }
}

TEST(CheckResponseCrc, LogsThreeLines) {
    RecordingProtocolHost host;
    EXPECT_TRUE(CheckResponseCrc("9930",
                                 "T00\x1C"
                                 "B100",
                                 host));
    const std::vector<std::string> expected = {
        "Prijmuta data pro vypocet CRC: \x1CT00\x1C"
        "B100",
        "CRC vypocitane z dat: 9930",
        "CRC obsazene v hlavicce: 9930",
    };
    EXPECT_EQ(host.Log, expected);
}

TEST(ParseResponse, CheckedAfterParseOfAWellFormedResponse) {
    // The checksum a terminal writes covers FS + the stored body: a round trip through both.
    const std::string body =
        "\x1CR000\x1CT00\x1C"
        "B100";
    std::string header = kHeader.substr(0, 32) + CrcText(Crc16(body));
    const TParsed p = Parse("\x02" + header + body + "\x03");
    RecordingProtocolHost host;
    EXPECT_TRUE(CheckResponseCrc(p.Frames.ResponseCrc, p.Frames.ResponseBody, host));
}

TEST(StatusTexts, HeldInWindows1250) {
    EXPECT_EQ(StatusApproved(), "Transakce provedena");
    EXPECT_EQ(StatusRefundApproved(),
              "Transakce zru\x9A"
              "ena");
    EXPECT_EQ(StatusCrcError(), "Chyba CRC");
    EXPECT_EQ(TypeNameRefund(), "n\xE1vrat transakce");
}

}  // namespace
}  // namespace vendilox
