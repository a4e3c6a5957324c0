// One transaction of the window object, played on the fake platform in virtual time: what goes
// on the wire and when, what the window shows, what lands in the result file, the exit code and
// whether the program ends.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "control/Unit1.hpp"
#include "flow_support.hpp"
#include "platform/fake/fake_platform.hpp"
#include "protocol/card_mask.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox {
namespace {

using namespace flowtest;
using platform::TBoxIcon;
using platform::TBoxOwner;
using platform::TColor;
using platform::TControlId;
using platform::fake::FakeClientSocket;
using platform::fake::FakePlatform;
using platform::fake::FakeWindow;
using platform::fake::TSentBytes;
using platform::fake::TShownBox;

// A purchase of '100' without invoice number composed at 14:30:05 on 16 August 2018.
const std::string kRequest =
    STX + std::string("B001        18081614300500000009") + "9930" + FS + "T00" + FS + "B100" + ETX;
const std::vector<std::string> kPurchaseParams = {"0", "100", "00000000"};

const std::vector<std::string> kApprovedFields = {
    "R000", "T00", "B000000012345", "P4111111111111111", "F12345678", "JVISA", "L0000123"};

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

// The report of the approved purchase. Built in a function: clang 14 crashes on converted
// texts inside a braced list that initializes a namespace-scope object.
std::string ApprovedReport() {
    return Lines({
        "000|87654321|0000123|00|0|4111111111111111|12345678|08/16/2018|14:30:05|12345|1|",
        std::string(35, '-'),
        W("Stav po zpracování: Transakce provedena"_w1250),
        W("Číslo terminálu POS: 87654321"_w1250),
        W("Číslo dávky: 0000123"_w1250),
        W("Typ transakce: nákup na terminálu"_w1250),
        W("Typ karty: Visa"_w1250),
        W("Číslo karty: 4111111111111111"_w1250),
        W("Autorizační kód: 12345678"_w1250),
        W("Datum transakce: 08/16/2018"_w1250),
        W("Čas transakce: 14:30:05"_w1250),
        W("Částka transakce: 123,45 Kč"_w1250),
    });
}

// Every table row prints as its name when a case fails.
template <class Case>
requires requires(const Case& c) {
    c.Name;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.Name;
}

class FlowTest : public ::testing::Test {
  protected:
    FlowTest() { p.App.SetTitle("Vendilox"); }

    void UseTcp() { ini.ConnectionType = "TCP"; }
    bool Tcp() const { return ini.ConnectionType == "TCP"; }

    // Writes the settings and shows the window, which runs the start-up at time 0.
    void Start(std::vector<std::string> params = kPurchaseParams) {
        WriteFile(dir.IniPath(), ini.Text(dir.Dir()));
        StartWithoutSettings(std::move(params), dir.ExePath());
    }
    void StartWithoutSettings(std::vector<std::string> params, const std::string& exePath) {
        form = std::make_unique<TForm1>(p.CreateForm1(), std::move(params), exePath);
        p.Window.Show();
    }

    // The request leaves at once over the serial link, after the connect over TCP.
    std::uint64_t RequestAt() const { return Tcp() ? p.ClientSocket1.Outcome.AfterMs : 0; }

    // The terminal sends bytes at a time over the configured link.
    void Terminal(std::uint64_t at, std::string bytes) {
        if (Tcp())
            p.ClientSocket1.InjectRead(at, std::move(bytes));
        else
            p.CommPort1.InjectData(at, std::move(bytes));
    }
    const std::vector<TSentBytes>& Sent() const {
        return Tcp() ? p.ClientSocket1.Sent : p.CommPort1.Writes;
    }
    // The result file's bytes, nullopt when there is none. While the window object holds the
    // file, it is read through the holder, as nobody else can on Windows.
    std::optional<std::string> Result() const {
        if (form && form->OutputFile.IsOpen() && form->OutputFile.Path() == dir.ResultPath()) {
            std::string content;
            if (!form->OutputFile.ReadBack(content))
                return std::nullopt;
            return content;
        }
        return ReadFile(dir.ResultPath());
    }
    const std::vector<std::string>& Log() const { return p.Memo1.Lines; }
    bool LogHas(const std::string& line) const {
        return std::find(Log().begin(), Log().end(), line) != Log().end();
    }
    void ExpectErrorBox(const std::string& message) const {
        ASSERT_FALSE(p.Boxes.Shown.empty());
        EXPECT_EQ(p.Boxes.Shown.back(),
                  (TShownBox{"Vendilox", message, TBoxIcon::Error, TBoxOwner::Window}));
    }
    // The end of a run that failed: exit code 1 and the end of the program requested.
    void ExpectFailedRun() const {
        EXPECT_EQ(p.App.ExitCode(), 1);
        EXPECT_TRUE(p.App.Terminated());
    }
    void ExpectHeldOpen() const {
        EXPECT_TRUE(p.Window.HasSystemMenuIcon());
        EXPECT_FALSE(p.Window.Closed);
        EXPECT_FALSE(p.App.Terminated());
        EXPECT_EQ(p.App.ExitCode(), 0);
    }

    TTempDir dir;
    TIni ini;
    FakePlatform p;
    std::unique_ptr<TForm1> form;
};

// --- The whole purchase over each link --------------------------------------------------------

struct TLinkCase {
    const char* Name;
    bool Tcp;
};

class PurchaseTest : public FlowTest, public ::testing::WithParamInterface<TLinkCase> {};

TEST_P(PurchaseTest, ApprovedPurchaseIsConfirmedReportedAndClosesItself) {
    if (GetParam().Tcp)
        UseTcp();
    const std::uint64_t t0 = RequestAt();
    const std::string confirmation = ActivityConfirmation();
    const std::string response = TerminalFrame(kApprovedFields);
    Terminal(t0 + 300, confirmation);
    Terminal(t0 + 2000, response);
    Start();

    p.Loop.AdvanceTo(t0 + 2000 + 1000 + 3999);
    // The answer waits a second after the response, and the window another four.
    ASSERT_EQ(Sent(), (std::vector<TSentBytes>{{t0, kRequest},
                                               {t0 + 3000, ExpectedConfirmation(response)}}));
    EXPECT_EQ(p.Clock.Waits, (std::vector<platform::fake::FakeClock::TWait>{{t0 + 2000, 1000}}));
    EXPECT_FALSE(p.Window.Closed);

    const std::string body = response.substr(38, response.size() - 39);
    std::vector<std::string> expected;
    if (!GetParam().Tcp)
        expected.push_back(W("Otevřen port pro komunikaci..."_w1250));
    const std::vector<std::string> rest = {
        "Retezec pro vypocet CRC: " + (FS + std::string("T00") + FS + "B100"),
        "CRC: 9930",
        W("Odeslaná data(ASCII): "_w1250) + kRequest,
        W("Odeslaná data(HEX): "_w1250) + HexDump(kRequest),
        W("Přijmutá data: "_w1250) + confirmation,
        W("Přijmutá data: "_w1250) + confirmation,
        "Activity confirmation",
        W("Přijmutá data: "_w1250) + response,
        "Prijmuta data pro vypocet CRC: " + (FS + body),
        "CRC vypocitane z dat: " + CrcText(Crc16(FS + body)),
        "CRC obsazene v hlavicce: " + CrcText(Crc16(FS + body)),
        W("Odeslaná data: "_w1250) + ExpectedConfirmation(response),
        W("Přijmutá data: "_w1250),
        "Konec transakce",
    };
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(Log(), expected);

    EXPECT_EQ(p.Panel2.History, (std::vector<std::string>{W("Nákup na terminálu"_w1250),
                                                          W("Transakce provedena"_w1250)}));
    EXPECT_EQ(p.Panel2.Color(), TColor::Blue);
    EXPECT_EQ(Result(), ApprovedReport());
    EXPECT_TRUE(p.Boxes.Shown.empty());

    p.Loop.AdvanceTo(t0 + 7000);
    EXPECT_TRUE(p.Window.Closed);
    EXPECT_TRUE(p.App.Terminated());
    EXPECT_EQ(p.App.ExitCode(), 0);
    EXPECT_FALSE(p.CommPort1.IsOpen());
    EXPECT_FALSE(p.ClientSocket1.Active());
}

INSTANTIATE_TEST_SUITE_P(Links, PurchaseTest,
                         ::testing::Values(TLinkCase{"Serial", false}, TLinkCase{"Tcp", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- Outcomes of an accepted response -------------------------------------------------------

struct TOutcomeCase {
    const char* Name;
    std::vector<std::string> Params;
    std::vector<std::string> Fields;
    std::string Caption;
    TColor Color;
    bool ClosesItself;
    std::string SummaryStart;
};

class OutcomeTest : public FlowTest, public ::testing::WithParamInterface<TOutcomeCase> {};

TEST_P(OutcomeTest, CaptionColourReportAndClosing) {
    const TOutcomeCase& c = GetParam();
    Terminal(1000, TerminalFrame(c.Fields));
    Start(c.Params);
    p.Loop.AdvanceTo(5999);
    EXPECT_EQ(p.Panel2.Caption(), c.Caption);
    EXPECT_EQ(p.Panel2.Color(), c.Color);
    const std::string report = Result().value_or("");
    EXPECT_EQ(report.rfind(c.SummaryStart, 0), 0u) << report;
    EXPECT_NE(report.find(W("Stav po zpracování: "_w1250) + c.Caption + "\r\n"), std::string::npos);

    p.Loop.AdvanceTo(6000);
    if (c.ClosesItself) {
        EXPECT_TRUE(p.Window.Closed);
        EXPECT_TRUE(p.App.Terminated());
        EXPECT_EQ(p.App.ExitCode(), 0);
    } else {
        ExpectHeldOpen();
        p.Window.UserClose();  // the close button now works
        EXPECT_TRUE(p.Window.Closed);
        EXPECT_EQ(p.App.ExitCode(), 0);
    }
}

const std::vector<std::string> kRefundParams = {"10", "100", "12345678"};

INSTANTIATE_TEST_SUITE_P(Responses, OutcomeTest,
                         ::testing::Values(TOutcomeCase{"Declined",
                                                        kPurchaseParams,
                                                        {"R061", "T00", "B100"},
                                                        W("Zrušeno zákazníkem"_w1250),
                                                        TColor::Red,
                                                        false,
                                                        "061|"},
                                           TOutcomeCase{"ApprovedRefundReadsAsCancelled",
                                                        kRefundParams,
                                                        {"R000", "T10", "B100"},
                                                        W("Transakce zrušena"_w1250),
                                                        TColor::Blue,
                                                        true,
                                                        "000|"},
                                           TOutcomeCase{"DeclinedRefundKeepsItsStatus",
                                                        kRefundParams,
                                                        {"R050", "T10", "B100"},
                                                        "Chyba",
                                                        TColor::Red,
                                                        false,
                                                        "050|"},
                                           TOutcomeCase{"Code001IsApproved",
                                                        kPurchaseParams,
                                                        {"R001", "T00", "B100"},
                                                        W("Transakce provedena"_w1250),
                                                        TColor::Blue,
                                                        true,
                                                        "000|"},
                                           TOutcomeCase{"CodeNotANumberIsNoApproval",
                                                        kPurchaseParams,
                                                        {"R0x6", "T00", "B100"},
                                                        W("Nezpracováno"_w1250),
                                                        TColor::Red,
                                                        false,
                                                        "0x6|"},
                                           TOutcomeCase{"NoCodeIsNoApproval",
                                                        kPurchaseParams,
                                                        {"T00", "B100"},
                                                        W("Nezpracováno"_w1250),
                                                        TColor::Red,
                                                        false,
                                                        "|87654321|"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FlowTest, TerminalBytesThatWouldBreakTheReportAreWrittenAsQuestionMarks) {
    // The card fields of a masked card hold a column separator and line ends; the log keeps them
    // as they came.
    const std::string response =
        TerminalFrame({"R000", "T00", "B100", "P*111|1111", "F12\r\n3456", "JVI|SA\r\n"});
    Terminal(1000, response);
    Start();
    p.Loop.AdvanceTo(5999);
    EXPECT_TRUE(LogHas(W("Přijmutá data: "_w1250) + response));
    const std::string report = Result().value_or("");
    EXPECT_EQ(
        report.rfind("000|87654321||00||*111?1111|12??3456|08/16/2018|14:30:05|100|1|\r\n", 0), 0u)
        << report;
    EXPECT_NE(report.find("Typ karty: VI|SA??\r\n"), std::string::npos) << report;
    std::size_t lines = 0;
    for (std::size_t at = report.find('\n'); at != std::string::npos;
         at = report.find('\n', at + 1))
        ++lines;
    EXPECT_EQ(lines, 12u);
}

// --- Time-outs --------------------------------------------------------------------------------

TEST_F(FlowTest, NoAnswerShowsNotConnectedEveryFiveSecondsAndALateResponseStillCounts) {
    const std::string response = TerminalFrame(kApprovedFields);
    Terminal(12000, ActivityConfirmation());
    Terminal(12500, response);
    Start();
    const std::string notConnected = W("Terminál není připojen!"_w1250);

    p.Loop.AdvanceTo(4999);
    EXPECT_EQ(p.Panel2.Caption(), W("Nákup na terminálu"_w1250));
    p.Loop.AdvanceTo(5000);
    EXPECT_EQ(p.Panel2.Caption(), notConnected);
    EXPECT_EQ(p.Panel2.Color(), TColor::Blue);
    EXPECT_FALSE(p.Window.HasSystemMenuIcon());
    p.Loop.AdvanceTo(10000);
    EXPECT_EQ(std::count(p.Panel2.History.begin(), p.Panel2.History.end(), notConnected), 2);
    ExpectHeldOpen();  // the close button came at 9000
    EXPECT_EQ(Result(), "");

    // The confirmation stops the not-connected timer; the response is handled as usual, but the
    // window no longer closes by itself.
    p.Loop.AdvanceTo(30000);
    EXPECT_EQ(std::count(p.Panel2.History.begin(), p.Panel2.History.end(), notConnected), 2);
    EXPECT_EQ(p.Panel2.Caption(), W("Transakce provedena"_w1250));
    EXPECT_EQ(Sent().back(), (TSentBytes{13500, ExpectedConfirmation(response)}));
    EXPECT_EQ(Result(), ApprovedReport());
    ExpectHeldOpen();
}

TEST_F(FlowTest, NoResponseTimeOutCountsFromTheFirstConfirmation) {
    ini.Timeout = 10;
    for (std::uint64_t at : {1000, 4000, 7000, 10000})
        Terminal(at, ActivityConfirmation());
    Start();
    p.Loop.AdvanceTo(10999);
    EXPECT_EQ(p.Panel2.Caption(), W("Nákup na terminálu"_w1250));
    p.Loop.AdvanceTo(11000);
    EXPECT_EQ(p.Panel2.Caption(), W("Terminál neodpovídá!"_w1250));
    EXPECT_EQ(p.Panel2.Color(), TColor::Blue);
    EXPECT_TRUE(form->KeepOpen);
    p.Loop.AdvanceTo(15000);
    ExpectHeldOpen();
    EXPECT_EQ(Result(), "");
}

TEST_F(FlowTest, ZeroTimeOutWaitsForTheResponseWithoutLimit) {
    ini.Timeout = 0;
    Terminal(1000, ActivityConfirmation());
    Terminal(3600000, TerminalFrame(kApprovedFields));
    Start();
    p.Loop.AdvanceTo(3599999);
    EXPECT_TRUE(p.Timer2.Running());
    EXPECT_EQ(p.Timer2.Ticks, 0);
    EXPECT_EQ(p.Panel2.Caption(), W("Nákup na terminálu"_w1250));
    EXPECT_FALSE(p.Window.HasSystemMenuIcon());
    p.Loop.AdvanceTo(3600000 + 5000);
    EXPECT_EQ(Result(), ApprovedReport());
    EXPECT_TRUE(p.Window.Closed);
    EXPECT_EQ(p.App.ExitCode(), 0);
}

// --- Checksums ------------------------------------------------------------------------------

TEST_F(FlowTest, WrongChecksumIsRejectedAndTheRepeatedResponseAccepted) {
    ini.CrcCheck = true;
    const std::string bad = TerminalFrame(kApprovedFields, WithCrc("0000"));
    const std::string good = TerminalFrame(kApprovedFields);
    Terminal(1000, bad);
    Terminal(3000, good);
    Start();

    p.Loop.AdvanceTo(2999);
    const std::string reject = bad.substr(0, 37) + FS + "R106" + ETX;
    EXPECT_EQ(Sent().back(), (TSentBytes{2000, reject}));
    EXPECT_EQ(p.Panel2.Caption(), "Chyba CRC");
    EXPECT_EQ(p.Panel2.Color(), TColor::Red);
    EXPECT_EQ(Log().back(), "CRC obsazene v hlavicce: 0000");  // no "Konec transakce"
    EXPECT_EQ(Result(), "");

    p.Loop.AdvanceTo(7999);
    EXPECT_EQ(Sent().back(), (TSentBytes{4000, ExpectedConfirmation(good)}));
    EXPECT_EQ(p.Panel2.Caption(), W("Transakce provedena"_w1250));
    EXPECT_EQ(p.Panel2.Color(), TColor::Blue);
    EXPECT_EQ(Result(), ApprovedReport());
    p.Loop.AdvanceTo(8000);
    EXPECT_TRUE(p.Window.Closed);
    EXPECT_EQ(p.App.ExitCode(), 0);
}

TEST_F(FlowTest, RejectedResponseThatIsNeverRepeatedEndsInTheNoResponseTimeOut) {
    ini.CrcCheck = true;
    ini.Timeout = 30;
    Terminal(1000, TerminalFrame(kApprovedFields, WithCrc("0000")));
    Start();
    p.Loop.AdvanceTo(31999);
    EXPECT_EQ(p.Panel2.Caption(), "Chyba CRC");
    EXPECT_FALSE(p.Window.HasSystemMenuIcon());
    p.Loop.AdvanceTo(32000);
    EXPECT_EQ(p.Panel2.Caption(), W("Terminál neodpovídá!"_w1250));
    p.Loop.AdvanceTo(36000);
    ExpectHeldOpen();
    EXPECT_EQ(Result(), "");
}

TEST_F(FlowTest, WrongChecksumIsAcceptedWhenCheckingIsOff) {
    const std::string bad = TerminalFrame(kApprovedFields, WithCrc("0000"));
    Terminal(1000, bad);
    Start();
    p.Loop.AdvanceTo(6000);
    EXPECT_TRUE(LogHas("CRC obsazene v hlavicce: 0000"));
    EXPECT_EQ(Sent().back(), (TSentBytes{2000, ExpectedConfirmation(bad)}));
    EXPECT_EQ(Result(), ApprovedReport());
    EXPECT_TRUE(p.Window.Closed);
}

// --- Messages that cannot be used -----------------------------------------------------------

TEST_F(FlowTest, UnknownMessageIsNotAnsweredAndHoldsTheWindowOpen) {
    // A header-only frame with a field after its end: the confirmation is taken, and the field,
    // with no frame around it, is handed over as a message without a frame.
    Terminal(1000, ActivityConfirmation() + FS + "R000");
    Start();
    p.Loop.AdvanceTo(4999);
    EXPECT_EQ(p.Panel2.Caption(), W("Neznámý typ zprávy"_w1250));
    EXPECT_EQ(p.Panel2.Color(), TColor::Blue);
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Log().back(), "Konec transakce");
    EXPECT_FALSE(p.Window.HasSystemMenuIcon());
    p.Loop.AdvanceTo(5000);
    ExpectHeldOpen();
    EXPECT_EQ(Result(), "");
}

struct TParseErrorCase {
    const char* Name;
    bool Tcp;
    std::string Response;
    std::string Shown;
};

class ParseErrorTest : public FlowTest, public ::testing::WithParamInterface<TParseErrorCase> {};

TEST_P(ParseErrorTest, EndsTheRunWithTheErrorAndAnswersNothing) {
    if (GetParam().Tcp)
        UseTcp();
    Terminal(1000, GetParam().Response);
    Start();
    p.Loop.AdvanceTo(60000);
    ExpectErrorBox(GetParam().Shown);
    ExpectFailedRun();
    EXPECT_TRUE(form->KeepOpen);
    EXPECT_EQ(Sent().size(), 1u);  // only the request
    EXPECT_FALSE(LogHas("Konec transakce"));
    EXPECT_EQ(Result(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Responses, ParseErrorTest,
    ::testing::Values(TParseErrorCase{"EmptyFieldOverSerial", false,
                                      TerminalFrame({"R000", "", "T00"}), "Range check error."},
                      TParseErrorCase{"FlagLetterOverTcp", true,
                                      TerminalFrame({"R000"}, WithFlags("000X")),
                                      "'X' is not a valid integer value."}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FlowTest, ReportThatCannotBeWrittenEndsTheRunWithTheError) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "needs /dev/full";
    // The result file is a device on which every write fails for want of space.
    std::filesystem::create_directory(dir.Dir() + "full");
    std::filesystem::create_symlink("/dev/full", dir.Dir() + "full/vendilox.txt");
    ini.PathToTxt = dir.Dir() + "full/";
    Terminal(1000, TerminalFrame(kApprovedFields));
    Start();
    p.Loop.AdvanceTo(60000);
    ExpectErrorBox("Cannot write to file " + dir.Dir() + "full/vendilox.txt.");
    ExpectFailedRun();
    EXPECT_FALSE(p.Timer1.Running());
}

TEST_F(FlowTest, ConfirmationThatCannotBeSentEndsTheRunWithTheError) {
    Terminal(1000, TerminalFrame(kApprovedFields));
    p.Loop.Post(500, [&] { p.CommPort1.WriteError = "port gone"; });
    Start();
    p.Loop.AdvanceTo(60000);
    ExpectErrorBox("port gone.");
    ExpectFailedRun();
    EXPECT_EQ(Result(), "");
}

// --- Start-up failures ----------------------------------------------------------------------

struct TStartupErrorCase {
    const char* Name;
    std::function<void(const TTempDir&, TIni&, FakePlatform&)> Arrange;
    std::vector<std::string> Params;
    bool Tcp;
    bool ExeInMissingDirectory;  // the settings file cannot be written there
    std::function<std::string(const TTempDir&)> Shown;
    bool ResultFileCreated;
};

class StartupErrorTest : public FlowTest,
                         public ::testing::WithParamInterface<TStartupErrorCase> {};

TEST_P(StartupErrorTest, ShowsTheErrorAndEndsWithExitCodeOne) {
    const TStartupErrorCase& c = GetParam();
    if (c.Tcp)
        UseTcp();
    if (c.Arrange)
        c.Arrange(dir, ini, p);
    if (c.ExeInMissingDirectory)
        StartWithoutSettings(c.Params, dir.Dir() + "missing/vendilox_ecr");
    else
        Start(c.Params);
    p.Loop.AdvanceTo(60000);

    ExpectErrorBox(c.Shown(dir));
    ExpectFailedRun();
    EXPECT_TRUE(form->KeepOpen);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Result().has_value(), c.ResultFileCreated);
    if (c.ResultFileCreated) {
        EXPECT_EQ(Result(), "");
    }
    EXPECT_FALSE(p.Timer3.Running());
}

std::function<std::string(const TTempDir&)> Message(std::string text) {
    return [text](const TTempDir&) { return text; };
}

INSTANTIATE_TEST_SUITE_P(
    Startup, StartupErrorTest,
    ::testing::Values(
        TStartupErrorCase{"SettingsFileCannotBeWritten", nullptr, kPurchaseParams, false, true,
                          [](const TTempDir& d) {
                              return "Unable to write to " + d.Dir() + "missing/vendilox_ecr.ini.";
                          },
                          false},
        TStartupErrorCase{"ResultFileCannotBeCreated",
                          [](const TTempDir& d, TIni& ini, FakePlatform&) {
                              ini.PathToTxt = d.Dir() + "missing/";
                          },
                          kPurchaseParams, false, false,
                          [](const TTempDir& d) {
                              return "Cannot create file " + d.Dir() + "missing/vendilox.txt.";
                          },
                          false},
        TStartupErrorCase{"TypeIsNotAnInteger",
                          nullptr,
                          {"abc", "100", "00000000"},
                          false,
                          false,
                          Message("'abc' is not a valid integer value."),
                          true},
        TStartupErrorCase{"AmountIsNotAnIntegerOverSerial",
                          nullptr,
                          {"0", "12a", "00000000"},
                          false,
                          false,
                          Message("'12a' is not a valid integer value."),
                          true},
        TStartupErrorCase{"AmountIsNotAnIntegerOverTcp",
                          nullptr,
                          {"0", "12a", "00000000"},
                          true,
                          false,
                          Message("'12a' is not a valid integer value."),
                          true},
        TStartupErrorCase{"SignedAmountIsNoAmount",
                          nullptr,
                          {"0", "-500", "00000000"},
                          true,
                          false,
                          Message("'-500' is not a valid integer value."),
                          true},
        TStartupErrorCase{
            "SerialWriteFails",
            [](const TTempDir&, TIni&, FakePlatform& p) { p.CommPort1.WriteError = "queue full"; },
            kPurchaseParams, false, false, Message("queue full."), true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FlowTest, SettingsFileFarTooLargeEndsTheRunAtOnce) {
    WriteFile(dir.IniPath(), std::string(1024 * 1024 + 1, ';'));
    StartWithoutSettings(kPurchaseParams, dir.ExePath());
    ExpectErrorBox("Unable to write to " + dir.IniPath() + ".");
    ExpectFailedRun();
    EXPECT_EQ(p.CommPort1.OpenCalls, 0);
    EXPECT_EQ(Result(), std::nullopt);
}

TEST_F(FlowTest, FailedParameterCheckStartsNoLink) {
    Start({"0", "100"});
    p.Loop.AdvanceTo(60000);
    ASSERT_EQ(p.Boxes.Shown.size(), 1u);
    EXPECT_EQ(p.Boxes.Shown[0],
              (TShownBox{W("Chybné údaje"_w1250), W("Špatný počet parametrů!"_w1250),
                         TBoxIcon::Information, TBoxOwner::TaskModal}));
    ExpectFailedRun();
    EXPECT_EQ(p.CommPort1.OpenCalls, 0);
    EXPECT_EQ(Result(), "");  // created empty before the parameters were read
}

struct TZeroAmountCase {
    const char* Name;
    bool Tcp;
};

class ZeroAmountTest : public FlowTest, public ::testing::WithParamInterface<TZeroAmountCase> {};

TEST_P(ZeroAmountTest, RefusedAfterTheLinkIsUpAndNothingIsSent) {
    if (GetParam().Tcp)
        UseTcp();
    Start({"0", "000", "00000000"});
    p.Loop.AdvanceTo(60000);
    ASSERT_EQ(p.Boxes.Shown.size(), 1u);
    EXPECT_EQ(p.Boxes.Shown[0],
              (TShownBox{W("Špatné údaje"_w1250), W("Částka nemůže být 0 Kč!"_w1250),
                         TBoxIcon::Information, TBoxOwner::TaskModal}));
    if (GetParam().Tcp) {
        EXPECT_EQ(p.ClientSocket1.Activations, 1);
    } else {
        EXPECT_EQ(p.CommPort1.OpenCalls, 1);
    }
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(p.Window.Closed);
    ExpectFailedRun();
    EXPECT_FALSE(p.CommPort1.IsOpen());
    EXPECT_FALSE(p.ClientSocket1.Active());
    EXPECT_FALSE(p.Timer3.Running());
}

INSTANTIATE_TEST_SUITE_P(Links, ZeroAmountTest,
                         ::testing::Values(TZeroAmountCase{"Serial", false},
                                           TZeroAmountCase{"Tcp", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- The window -------------------------------------------------------------------------------

TEST_F(FlowTest, DebugModeShowsTheLogAndReportAndNeverClosesItself) {
    ini.Debug = true;
    Terminal(1000, TerminalFrame(kApprovedFields));
    Start();
    EXPECT_EQ(p.Window.WindowHeight, 365);
    const std::map<TControlId, FakeWindow::TControl> expected = {
        {TControlId::Panel2, {true, 6, 20, 445, 37}},
        {TControlId::Label2, {true, 6, 90, 21, 13}},
        {TControlId::Memo1, {true, 6, 108, 445, 103}},
        {TControlId::Label1, {true, 6, 216, 35, 13}},
        {TControlId::Memo3, {true, 6, 234, 445, 101}},
        {TControlId::Button1, {false, 243, 60, 94, 25}},
        {TControlId::Button2, {false, 345, 60, 109, 25}},
    };
    EXPECT_EQ(p.Window.Controls, expected);
    EXPECT_TRUE(form->FormCloseQuery());  // closing is allowed from the start

    p.Loop.AdvanceTo(2000 + 3 * 4000);
    EXPECT_EQ(p.Timer1.Ticks, 3);
    EXPECT_EQ(Result(), ApprovedReport());
    ExpectHeldOpen();
    p.Window.UserClose();
    EXPECT_TRUE(p.Window.Closed);
    EXPECT_EQ(p.App.ExitCode(), 0);
}

TEST_F(FlowTest, CloseRequestsAreRefusedUntilTheFirstCloseTimerTick) {
    Terminal(1000, TerminalFrame({"R061", "T00", "B100"}));  // declined: the window stays
    p.Loop.Post(500, [&] { p.Window.Close(); });
    p.Loop.Post(5999, [&] { p.Window.Close(); });
    Start();
    p.Loop.AdvanceTo(6000);
    EXPECT_EQ(p.Window.CloseRequests, 2);
    EXPECT_EQ(p.Window.ClosesGranted, 0);
    EXPECT_EQ(p.Window.Controls, FakeWindow(p.App).Controls);  // the design layout
    ExpectHeldOpen();
    p.Window.UserClose();
    EXPECT_TRUE(p.Window.Closed);
}

TEST_F(FlowTest, ShowEventsAfterTheStartUpRunNothing) {
    Terminal(1000, TerminalFrame({"R061", "T00", "B100"}));
    Start();
    p.Loop.AdvanceTo(6000);  // the first tick rebuilds the window, which is shown once more
    ASSERT_EQ(p.Window.ShowEvents, 2);
    EXPECT_FALSE(form->SkipNextShow);
    const std::size_t logLines = Log().size();
    const std::optional<std::string> report = Result();
    ASSERT_TRUE(report && !report->empty());

    p.Window.Show();  // the platform shows the window yet again (restored, say)
    p.Loop.AdvanceTo(20000);
    EXPECT_EQ(p.CommPort1.OpenCalls, 1);
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_EQ(Log().size(), logLines);
    EXPECT_EQ(Result(), report);  // not truncated by a second start-up
}

// --- The links ------------------------------------------------------------------------------

TEST_F(FlowTest, SerialPortThatCannotBeOpenedEndsTheRun) {
    p.CommPort1.OpenError = "no such port";
    Start();
    p.Loop.AdvanceTo(60000);
    EXPECT_EQ(p.Panel2.Caption(), W("Nelze otevřít port..."_w1250));
    EXPECT_EQ(Log(), (std::vector<std::string>{W("Nelze otevřít port..."_w1250)}));
    ASSERT_EQ(p.Boxes.Shown.size(), 1u);
    EXPECT_EQ(p.Boxes.Shown[0], (TShownBox{"Chyba",
                                           W("Nelze otevřít port "_w1250) + "\"COM3\"" +
                                               W(" pro komunikaci s terminálem!"_w1250),
                                           TBoxIcon::Error, TBoxOwner::Window}));
    ExpectFailedRun();
    EXPECT_TRUE(p.CommPort1.Writes.empty());
    EXPECT_FALSE(p.Timer3.Running());
}

TEST_F(FlowTest, SerialChunksPassWholeAndLineStatusErrorsOnlyLog) {
    const std::string stray("ab\0cd", 5);
    Terminal(100, stray);
    p.CommPort1.InjectLineStatusError(200);
    Terminal(1000, TerminalFrame(kApprovedFields));
    Start();
    p.Loop.AdvanceTo(6000);
    EXPECT_TRUE(LogHas(W("Přijmutá data: "_w1250) + stray));
    EXPECT_TRUE(LogHas("Line status error"));
    EXPECT_TRUE(p.Window.Closed);
    EXPECT_EQ(p.App.ExitCode(), 0);
}

TEST_F(FlowTest, PortThatFailsToCloseStillLetsTheSocketCloseAndIsShown) {
    p.CommPort1.CloseError = "port stuck";
    Terminal(1000, TerminalFrame(kApprovedFields));
    Start();
    // A socket left active beside the port (it never connects, so nothing more is sent).
    p.ClientSocket1.Outcome.Kind = FakeClientSocket::TOutcome::TKind::Never;
    p.ClientSocket1.SetActive(true);
    p.Loop.AdvanceTo(6000);
    EXPECT_TRUE(p.Window.Closed);
    EXPECT_FALSE(p.CommPort1.IsOpen());
    EXPECT_FALSE(p.ClientSocket1.Active());
    ExpectErrorBox("port stuck.");
    EXPECT_TRUE(p.App.Terminated());
    EXPECT_EQ(p.App.ExitCode(), 0);  // the transaction itself went through
    EXPECT_EQ(Result(), ApprovedReport());
}

struct TTcpFailureCase {
    const char* Name;
    std::function<void(FakeClientSocket&)> Arrange;
    std::size_t SentBeforeFailure;
};

class TcpFailureTest : public FlowTest, public ::testing::WithParamInterface<TTcpFailureCase> {};

TEST_P(TcpFailureTest, ReportedInCaptionLogAndBoxWithExitCodeOne) {
    UseTcp();
    GetParam().Arrange(p.ClientSocket1);
    Start();
    p.Loop.AdvanceTo(60000);
    const std::string text =
        W("Nelze navázat spojení s terminálem. (Host:127.0.0.1, Port:2050)"_w1250);
    EXPECT_EQ(p.Panel2.Caption(), W("Nelze navázat spojení"_w1250));
    EXPECT_EQ(Log().back(), text);
    ASSERT_EQ(p.Boxes.Shown.size(), 1u);
    EXPECT_EQ(p.Boxes.Shown[0], (TShownBox{"Chyba", text, TBoxIcon::Error, TBoxOwner::Window}));
    ExpectFailedRun();
    EXPECT_EQ(Sent().size(), GetParam().SentBeforeFailure);
    ASSERT_EQ(p.ClientSocket1.Errors.size(), 1u);
    EXPECT_EQ(p.ClientSocket1.Errors[0].CodeAfterHandler, p.ClientSocket1.Errors[0].CodeIn);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, TcpFailureTest,
    ::testing::Values(TTcpFailureCase{"Refused",
                                      [](FakeClientSocket& s) {
                                          s.Outcome.Kind =
                                              FakeClientSocket::TOutcome::TKind::Refuse;
                                      },
                                      0},
                      TTcpFailureCase{"ConnectNeverCompletes",
                                      [](FakeClientSocket& s) {
                                          s.Outcome.Kind = FakeClientSocket::TOutcome::TKind::Never;
                                      },
                                      0},
                      TTcpFailureCase{"ResetAfterTheRequest",
                                      [](FakeClientSocket& s) { s.InjectError(500); }, 1},
                      // The terminal never got its confirmation: the run failed, whatever the
                      // response said.
                      TTcpFailureCase{"ConfirmationCannotBeSent",
                                      [](FakeClientSocket& s) {
                                          s.InjectRead(1000, TerminalFrame(kApprovedFields));
                                          s.FailSendsFrom(1500);
                                      },
                                      1}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(FlowTest, ConnectionAttemptThatNeverCompletesEndsTheRunAfterItsBound) {
    UseTcp();
    p.ClientSocket1.Outcome.Kind = FakeClientSocket::TOutcome::TKind::Never;
    Start();
    p.Loop.AdvanceTo(platform::IClientSocket::kConnectTimeoutMs - 1);
    EXPECT_TRUE(p.Boxes.Shown.empty());
    EXPECT_FALSE(p.App.Terminated());
    p.Loop.AdvanceTo(platform::IClientSocket::kConnectTimeoutMs);
    ASSERT_EQ(p.Boxes.Shown.size(), 1u);
    EXPECT_EQ(p.Panel2.Caption(), W("Nelze navázat spojení"_w1250));
    ExpectFailedRun();
    EXPECT_TRUE(Sent().empty());
}

struct TSettledCase {
    const char* Name;
    std::vector<std::string> Fields;
    bool ClosesItself;
};

class SettledOutcomeTest : public FlowTest, public ::testing::WithParamInterface<TSettledCase> {};

TEST_P(SettledOutcomeTest, LinkErrorAfterTheConfirmationIsOnlyLogged) {
    // The terminal resets the connection in the close wait, after the confirmation went out and
    // the report was written: the outcome stands, and the caller learns it from the exit code.
    UseTcp();
    const std::string response = TerminalFrame(GetParam().Fields);
    Terminal(1000, response);
    p.ClientSocket1.InjectError(3000);
    Start();
    p.Loop.AdvanceTo(3000);
    ASSERT_EQ(Sent().back(), (TSentBytes{2000, ExpectedConfirmation(response)}));
    ASSERT_EQ(p.ClientSocket1.Errors.size(), 1u);
    EXPECT_EQ(Log().back(),
              W("Nelze navázat spojení s terminálem. (Host:127.0.0.1, Port:2050)"_w1250));
    EXPECT_TRUE(p.Boxes.Shown.empty());
    EXPECT_NE(p.Panel2.Caption(), W("Nelze navázat spojení"_w1250));
    EXPECT_FALSE(p.App.Terminated());

    p.Loop.AdvanceTo(6000);
    EXPECT_EQ(p.App.ExitCode(), 0);
    if (GetParam().ClosesItself) {
        EXPECT_TRUE(p.Window.Closed);
        EXPECT_EQ(Result(), ApprovedReport());
    } else {
        ExpectHeldOpen();
    }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, SettledOutcomeTest,
                         ::testing::Values(TSettledCase{"Approved", kApprovedFields, true},
                                           TSettledCase{
                                               "Declined", {"R061", "T00", "B100"}, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TTcpChunkCase {
    const char* Name;
    std::string Waiting;
    std::optional<std::string> Passed;  // nullopt: too big, nothing read
};

class TcpChunkTest : public FlowTest, public ::testing::WithParamInterface<TTcpChunkCase> {};

TEST_P(TcpChunkTest, ReadEventTakesAtMost4096BytesUpToTheFirstZero) {
    UseTcp();
    Terminal(100, GetParam().Waiting);
    Start();
    p.Loop.AdvanceTo(200);
    ASSERT_GE(Log().size(), 5u);
    const std::string& line = Log()[4];  // after the four lines of the request
    if (GetParam().Passed) {
        EXPECT_EQ(line, W("Přijmutá data: "_w1250) + *GetParam().Passed);
        EXPECT_EQ(p.ClientSocket1.Waiting(), "");
    } else {
        EXPECT_EQ(line, "TCP data jsou prilis velka!");
        EXPECT_EQ(p.ClientSocket1.Waiting(), GetParam().Waiting);
        EXPECT_EQ(Log().size(), 5u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TcpChunkTest,
    ::testing::Values(TTcpChunkCase{"Exactly4096", std::string(4096, 'A'), std::string(4096, 'A')},
                      TTcpChunkCase{"Over4096", std::string(4097, 'A'), std::nullopt},
                      TTcpChunkCase{"ZeroByteEndsTheText", std::string("ab\0cd", 5), "ab"}),
    [](const auto& info) { return std::string(info.param.Name); });

// --- The journal ---------------------------------------------------------------------------

class JournalFlowTest : public FlowTest {
  protected:
    JournalFlowTest() { ini.JournalPath = dir.Dir(); }
    std::string JournalFile() const { return dir.Dir() + "vendilox-journal-20180816.jsonl"; }
    static std::vector<nlohmann::json> Records(const std::string& text) {
        std::vector<nlohmann::json> records;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            records.push_back(nlohmann::json::parse(line));
        return records;
    }
    static std::string Bytes(const nlohmann::json& text) {
        return Utf8ToCp1250(text.get<std::string>());
    }
};

class JournalRunTest : public JournalFlowTest, public ::testing::WithParamInterface<TLinkCase> {};

TEST_P(JournalRunTest, ApprovedRunInOrderEveryFrameBackAndNoCardNumber) {
    if (GetParam().Tcp)
        UseTcp();
    const std::uint64_t t0 = RequestAt();
    const std::string confirmation = ActivityConfirmation();
    const std::string response = TerminalFrame(kApprovedFields);
    // The response comes in three chunks, the card number cut by both borders.
    const std::size_t pan = response.find("4111111111111111");
    const std::vector<std::string> parts = {response.substr(0, pan + 4),
                                            response.substr(pan + 4, 9), response.substr(pan + 13)};
    Terminal(t0 + 300, confirmation);
    for (std::size_t i = 0; i < parts.size(); ++i)
        Terminal(t0 + 2000 + 10 * i, parts[i]);
    Start();
    p.Loop.AdvanceTo(t0 + 7100);
    ASSERT_TRUE(p.App.Terminated());
    form->EndJournal();

    const std::string file = ReadFile(JournalFile()).value_or("");
    EXPECT_EQ(file.find("4111111111111111"), std::string::npos);
    EXPECT_EQ(file.find("1111111111"), std::string::npos);
    const auto records = Records(file);
    std::vector<std::string> events;
    for (const auto& r : records)
        events.push_back(r.at("event"));
    ASSERT_EQ(events, (std::vector<std::string>{"start", "sent", "received", "received", "received",
                                                "received", "response", "sent", "report", "end"}));
    EXPECT_EQ(records[0].at("request").at("Amount"), "100");
    EXPECT_EQ(records[0].at("link").at("type"), GetParam().Tcp ? "tcp" : "serial");
    // The frames sent, byte for byte and in order.
    ASSERT_EQ(Sent().size(), 2u);
    EXPECT_EQ(Bytes(records[1].at("frame")), Sent()[0].Bytes);
    EXPECT_EQ(Bytes(records[7].at("frame")), Sent()[1].Bytes);
    // The chunks as they came, each at its time, the card number's middle masked.
    std::string received;
    for (std::size_t i = 2; i < 6; ++i)
        received += Bytes(records[i].at("chunk"));
    EXPECT_EQ(received, MaskCardNumbers(confirmation + response));
    EXPECT_EQ(Bytes(records[4].at("chunk")), "11******1");
    const std::uint64_t at = t0 + 2010;
    EXPECT_EQ(records[4].at("ts"), "2018-08-16T14:30:0" + std::to_string(5 + at / 1000) + "." +
                                       std::string(at % 1000 < 100 ? "0" : "") +
                                       std::to_string(at % 1000));
    const auto& r = records[6];
    EXPECT_EQ(Bytes(r.at("frame")), MaskCardNumbers(response));
    EXPECT_EQ(r.at("crc").at("matches"), true);
    EXPECT_EQ(r.at("accepted"), true);
    EXPECT_EQ(r.at("result").at("CardNumber"), "411111******1111");
    EXPECT_EQ(r.at("result").at("AuthorizationCode"), "12345678");
    EXPECT_EQ(records[8].at("written"), true);
    EXPECT_EQ(records[9].at("exit_code"), 0);
    EXPECT_EQ(records[9].at("status"), "Transakce provedena");
    EXPECT_EQ(records[9].at("colour"), "blue");
}

INSTANTIATE_TEST_SUITE_P(Links, JournalRunTest,
                         ::testing::Values(TLinkCase{"Serial", false}, TLinkCase{"Tcp", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TWriteAheadCase {
    const char* Name;
    bool WrongCrc;
};

class JournalWriteAheadTest : public JournalFlowTest,
                              public ::testing::WithParamInterface<TWriteAheadCase> {};

// What a program stopped at the moment it hands its answer to the link leaves behind.
TEST_P(JournalWriteAheadTest, ResponseIsInTheFileBeforeTheAnswerGoesOut) {
    ini.CrcCheck = true;
    const std::string response =
        TerminalFrame(kApprovedFields, GetParam().WrongCrc ? WithCrc("0000") : THeader{});
    std::optional<std::string> atAnswer;
    p.CommPort1.OnWrite = [&](std::string_view bytes) {
        if (bytes != kRequest && !atAnswer)
            atAnswer = ReadFile(JournalFile());
    };
    Terminal(500, response);
    Start();
    p.Loop.AdvanceTo(1600);

    ASSERT_EQ(Sent().size(), 2u);
    ASSERT_TRUE(atAnswer.has_value());
    const auto records = Records(*atAnswer);
    ASSERT_FALSE(records.empty());
    const auto& last = records.back();
    EXPECT_EQ(last.at("event"), "response");
    EXPECT_EQ(last.at("crc").at("matches"), !GetParam().WrongCrc);
    EXPECT_EQ(last.at("accepted"), !GetParam().WrongCrc);
    EXPECT_EQ(Bytes(last.at("frame")), MaskCardNumbers(response));
}

INSTANTIATE_TEST_SUITE_P(Answers, JournalWriteAheadTest,
                         ::testing::Values(TWriteAheadCase{"Confirmation", false},
                                           TWriteAheadCase{"ChecksumError", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TJournalPlaceCase {
    const char* Name;
    std::optional<std::string> Path;  // within the test's directory; unset: no journal
    bool Fails;
};

class JournalPlaceTest : public FlowTest,
                         public ::testing::WithParamInterface<TJournalPlaceCase> {};

// The caller's contract is the result file and the exit code: a journal, written or not, changes
// neither, nor anything on the wire.
TEST_P(JournalPlaceTest, RunIsTheSameWithOrWithoutAJournal) {
    const TJournalPlaceCase& c = GetParam();
    WriteFile(dir.Dir() + "plain", "");
    if (c.Path)
        ini.JournalPath = dir.Dir() + *c.Path;
    const std::string response = TerminalFrame(kApprovedFields);
    Terminal(500, response);
    Start();
    p.Loop.AdvanceTo(5600);

    EXPECT_TRUE(p.Window.Closed);
    EXPECT_EQ(p.App.ExitCode(), 0);
    EXPECT_EQ(Result(), ApprovedReport());
    EXPECT_EQ(Sent(),
              (std::vector<TSentBytes>{{0, kRequest}, {1500, ExpectedConfirmation(response)}}));
    const std::string told = W("Deník transakcí nelze otevřít: "_w1250) +
                             ini.JournalPath.value_or("") + "vendilox-journal-20180816.jsonl";
    EXPECT_EQ(std::count(Log().begin(), Log().end(), told), c.Fails ? 1 : 0);
    EXPECT_EQ(Log().size(), 12u + (c.Fails ? 1 : 0));
    form->EndJournal();
    EXPECT_EQ(std::count(Log().begin(), Log().end(), told), c.Fails ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Places, JournalPlaceTest,
                         ::testing::Values(TJournalPlaceCase{"NoJournal", std::nullopt, false},
                                           TJournalPlaceCase{"Written", "", false},
                                           TJournalPlaceCase{"MissingDirectory", "missing/", true},
                                           TJournalPlaceCase{"FileInPlaceOfTheDirectory", "plain/",
                                                             true}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace vendilox
