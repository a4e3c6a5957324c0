#include "control/CommandLine.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake_ui.hpp"
#include "protocol/cp1250.hpp"
#include "protocol/text.hpp"

namespace vendilox {
namespace {

using platform::TBoxIcon;
using platform::TBoxOwner;
using Params = std::vector<std::string>;

class CommandLineFixture {
  protected:
    bool Read(const Params& params) {
        return ReadCommandLine(params, request, boxes, app, caption);
    }

    platform::fake::FakeMessageBox boxes;
    platform::fake::FakeApplication app{boxes};
    platform::fake::FakeStatusCaption caption;
    TTransactionRequest request;
};

// --- Refused command lines -------------------------------------------------------------------

struct TRefusedCase {
    const char* Name;
    Params Args;
    std::string_view Message;
};

class CommandLineRefusedTest : public CommandLineFixture,
                               public ::testing::TestWithParam<TRefusedCase> {};

TEST_P(CommandLineRefusedTest, ShowsOneBoxThenEndsWithExitCode1) {
    const TRefusedCase& c = GetParam();
    // The exit code and the end request come only after the user has closed the box.
    int exitCodeWhileOpen = -1;
    bool terminatedWhileOpen = true;
    boxes.OnShow = [&](const platform::fake::TShownBox&) {
        exitCodeWhileOpen = app.ExitCode();
        terminatedWhileOpen = app.Terminated();
    };

    EXPECT_FALSE(Read(c.Args));

    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0],
              (platform::fake::TShownBox{std::string("Chybné údaje"_w1250), std::string(c.Message),
                                         TBoxIcon::Information, TBoxOwner::TaskModal}));
    EXPECT_EQ(exitCodeWhileOpen, 0);
    EXPECT_FALSE(terminatedWhileOpen);
    EXPECT_EQ(app.ExitCode(), 1);
    EXPECT_EQ(app.TerminateCalls, 1);
    EXPECT_TRUE(caption.History.empty()) << "no title after a failed check";
}

const std::string_view kCount = "Špatný počet parametrů!"_w1250;
const std::string_view kType = "Špatný typ transakce.Povolené hodnoty jsou 0,4,10,60."_w1250;
const std::string_view kAmount = "Maximální délka částky je 18 znaků!"_w1250;
const std::string_view kAuth = "Délka autorizačního kódu musí být 8 znaků!"_w1250;
const std::string_view kInvoice = "Číslo faktury musí být dlouhé max. 16 znaků!"_w1250;

const std::string_view kControl = "Parametry obsahují nepovolené znaky!"_w1250;

const std::string k18(18, '1'), k19(19, '1'), k16(16, 'F'), k17(17, 'F');

INSTANTIATE_TEST_SUITE_P(
    Checks, CommandLineRefusedTest,
    ::testing::Values(
        TRefusedCase{"NoParameters", {}, kCount}, TRefusedCase{"OneParameter", {"0"}, kCount},
        TRefusedCase{"TwoParameters", {"0", "100"}, kCount},
        TRefusedCase{"TypeFive", {"5", "100", "12345678"}, kType},
        TRefusedCase{"NegativeType", {"-4", "100", "12345678"}, kType},
        TRefusedCase{"WrongTypeBeforeLongAmount", {"5", k19, "1", k17}, kType},
        TRefusedCase{"Amount19", {"0", k19, "12345678"}, kAmount},
        TRefusedCase{"LongAmountBeforeShortAuthCode", {"0", k19, "1", k17}, kAmount},
        TRefusedCase{"AuthCode7", {"0", "100", "1234567"}, kAuth},
        TRefusedCase{"AuthCode9ForClosing", {"60", "100", "123456789"}, kAuth},
        TRefusedCase{"ShortAuthCodeBeforeLongInvoice", {"0", "100", "1", k17}, kAuth},
        TRefusedCase{"Invoice17", {"0", "100", "12345678", k17}, kInvoice},
        // Bytes that would add a field to the request or end its frame early.
        TRefusedCase{"InvoiceWithFieldSeparator",
                     {"0", "100", "12345678",
                      "X\x1C"
                      "B1"},
                     kControl},
        TRefusedCase{"RefundCodeWithFieldSeparator",
                     {"10", "100",
                      "12\x1C"
                      "B9999"},
                     kControl},
        TRefusedCase{"AmountWithEtx", {"0", "1\x03", "12345678"}, kControl},
        TRefusedCase{"AmountWithTab", {"0", "1\t0", "12345678"}, kControl},
        TRefusedCase{"AuthCodeWithDel", {"0", "100", "1234567\x7F"}, kControl},
        TRefusedCase{"InvoiceWithLineFeed", {"0", "100", "12345678", "A\nB"}, kControl},
        TRefusedCase{
            "LongInvoiceBeforeControlByte", {"0", "100", "12345678", k17 + "\x1C"}, kInvoice}),
    [](const auto& info) { return std::string(info.param.Name); });

// --- Accepted command lines ------------------------------------------------------------------

struct TAcceptedCase {
    const char* Name;
    Params Args;
    std::int32_t Type;
    std::string Amount;
    std::string AuthCode;
    std::string Invoice;
    std::string_view Title;
};

class CommandLineAcceptedTest : public CommandLineFixture,
                                public ::testing::TestWithParam<TAcceptedCase> {};

TEST_P(CommandLineAcceptedTest, FillsTheRequestAndShowsTheTitle) {
    const TAcceptedCase& c = GetParam();
    EXPECT_TRUE(Read(c.Args));

    EXPECT_EQ(request.TransactionType, c.Type);
    EXPECT_EQ(request.Amount, c.Amount);
    EXPECT_EQ(request.AuthCode, c.AuthCode);
    EXPECT_EQ(request.InvoiceNumber, c.Invoice);
    EXPECT_EQ(request.TerminalId, "        ");
    EXPECT_EQ(caption.History, std::vector<std::string>{std::string(c.Title)});
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(app.ExitCode(), 0);
    EXPECT_FALSE(app.Terminated());
}

const std::string_view kPurchase = "Nákup na terminálu"_w1250;

INSTANTIATE_TEST_SUITE_P(
    Checks, CommandLineAcceptedTest,
    ::testing::Values(
        TAcceptedCase{"PurchaseWithoutInvoice",
                      {"0", "12345", "12345678"},
                      0,
                      "12345",
                      "12345678",
                      "",
                      kPurchase},
        TAcceptedCase{"Invoice16", {"0", "1", "12345678", k16}, 0, "1", "12345678", k16, kPurchase},
        TAcceptedCase{"FiveParametersIgnoreTheInvoice",
                      {"0", "1", "12345678", "INV1", "x"},
                      0,
                      "1",
                      "12345678",
                      "",
                      kPurchase},
        TAcceptedCase{"FiveParametersDoNotCheckTheFourth",
                      {"0", "1", "12345678", k17, "x"},
                      0,
                      "1",
                      "12345678",
                      "",
                      kPurchase},
        TAcceptedCase{"UnreadFourthParameterIsNotChecked",
                      {"0", "1", "12345678", "X\x1C", "x"},
                      0,
                      "1",
                      "12345678",
                      "",
                      kPurchase},
        TAcceptedCase{
            "Amount18", {"4", k18, "12345678"}, 4, k18, "12345678", "", "Storno platby"_w1250},
        TAcceptedCase{
            "AmountIsNotJudgedHere", {"0", "abc", "12345678"}, 0, "abc", "12345678", "", kPurchase},
        TAcceptedCase{"Refund",
                      {"10", "250", "ABCDEFGH"},
                      10,
                      "250",
                      "ABCDEFGH",
                      "",
                      "Návrat transakce"_w1250},
        TAcceptedCase{"Closing",
                      {"60", "0", "00000000"},
                      60,
                      "0",
                      "00000000",
                      "",
                      "Uzávěrka terminálu"_w1250},
        TAcceptedCase{"TypeWithLeadingBlank",
                      {" 60", "0", "00000000"},
                      60,
                      "0",
                      "00000000",
                      "",
                      "Uzávěrka terminálu"_w1250},
        TAcceptedCase{"TypeWithPlusSign",
                      {"+4", "1", "12345678"},
                      4,
                      "1",
                      "12345678",
                      "",
                      "Storno platby"_w1250}),
    [](const auto& info) { return std::string(info.param.Name); });

class CommandLineTypeTest : public CommandLineFixture, public ::testing::Test {};

TEST_F(CommandLineTypeTest, TypeThatIsNoIntegerRaisesConversionError) {
    for (const std::string type : {"abc", "60 ", ""}) {
        SCOPED_TRACE("type '" + type + "'");
        try {
            Read({type, "100", "12345678"});
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + type + "' is not a valid integer value");
        }
    }
    // The error is the caller's to report; nothing was shown and no end was requested here.
    EXPECT_TRUE(boxes.Shown.empty());
    EXPECT_EQ(app.ExitCode(), 0);
    EXPECT_FALSE(app.Terminated());
    EXPECT_TRUE(caption.History.empty());
}

// --- Splitting the command line --------------------------------------------------------------

struct TSplitCase {
    const char* Name;
    std::string CommandLine;
    Params Expected;
};

class SplitCommandLineTest : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SplitCommandLineTest, GivesTheParameters) {
    EXPECT_EQ(SplitWindowsCommandLine(GetParam().CommandLine), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLineTest,
    ::testing::Values(
        TSplitCase{"Plain", "prog.exe 0 100 12345678", {"prog.exe", "0", "100", "12345678"}},
        TSplitCase{"QuotedProgramName",
                   "\"C:\\Program Files\\POS\\vendilox_ecr.exe\" 10 250",
                   {"C:\\Program Files\\POS\\vendilox_ecr.exe", "10", "250"}},
        TSplitCase{"EmptyQuotedSkipped", "p 0 \"\" 12345678", {"p", "0", "12345678"}},
        TSplitCase{"EmptyQuotedFourthIsAbsent", "p 0 1 12345678 \"\"", {"p", "0", "1", "12345678"}},
        TSplitCase{"EmptyQuotesBeforeText", "p \"\"x", {"p", "x"}},
        TSplitCase{"TabsAndRepeatedBlanks", "  p\t\t0 \t 1  ", {"p", "0", "1"}},
        TSplitCase{"ControlCodes",
                   "p\x01"
                   "a\x0B"
                   "b\x1F"
                   "c\x7F"
                   "d",
                   {"p", "a", "b",
                    "c\x7F"
                    "d"}},
        TSplitCase{"HighBytesBelongToTheParameter", "p \xE8\xEDslo", {"p", "\xE8\xEDslo"}},
        TSplitCase{"QuotedBlankKept", "p \" 60\"", {"p", " 60"}},
        TSplitCase{"QuotesInsideAWord", "p ab\"c d\"e", {"p", "abc de"}},
        TSplitCase{"AdjoiningQuotedStretches", "p \"a\"\"b\"", {"p", "ab"}},
        TSplitCase{"UnclosedQuoteRunsToTheEnd", "p \"a b", {"p", "a b"}},
        TSplitCase{"LoneQuoteAtTheEnd", "p a \"", {"p", "a"}}, TSplitCase{"Empty", "", {}},
        TSplitCase{"NulEndsTheCommandLine", std::string("p a\0b c", 7), {"p", "a"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SplitCommandLine, EveryCodeFrom1To32Separates) {
    for (int code = 1; code <= 32; ++code) {
        SCOPED_TRACE(code);
        std::string commandLine = "p";
        commandLine += static_cast<char>(code);
        commandLine += "x";
        EXPECT_EQ(SplitWindowsCommandLine(commandLine), (Params{"p", "x"}));
    }
}

TEST(ParamsFromArgv, DropsTheProgramNameAndEmptyArguments) {
    const char* argv[] = {"vendilox_ecr", "0", "", "100", "12345678", "", nullptr};
    EXPECT_EQ(ParamsFromArgv(6, argv), (Params{"0", "100", "12345678"}));
    EXPECT_TRUE(ParamsFromArgv(1, argv).empty());
}

}  // namespace
}  // namespace vendilox
