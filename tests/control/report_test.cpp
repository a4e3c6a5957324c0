#include "control/Report.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif
#include <filesystem>
#include <string>

#include "platform/fake/fake_ui.hpp"
#include "protocol/cp1250.hpp"
#include "temp_dir.hpp"

namespace vendilox {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

// The record of an approved purchase of 123,45 paid by a Visa card.
TTransactionResult WorkedExample() {
    TTransactionResult r;
    r.ResponseCode = "000";
    r.StatusText = "Transakce provedena";
    r.TerminalNumber = "87654321";
    r.BatchNumber = "0000123";
    r.TypeCode = "00";
    r.TypeName = "nákup na terminálu"_w1250;
    r.CardTypeCode = "0";
    r.CardName = "Visa";
    r.CardNumber = "4111111111111111";
    r.AuthorizationCode = "12345678";
    r.TransactionDate = "08/16/2018";
    r.TransactionTime = "14:30:05";
    r.AmountDigits = "12345";
    r.AmountText = "123,45";
    r.HeaderFlag = "1";
    return r;
}

std::string WorkedExampleFixture() {
    return ReadBytes(std::filesystem::path(VENDILOX_CONTROL_FIXTURES) /
                     "report_worked_example.txt");
}

class ReportTest : public ::testing::Test {
  protected:
    TTempDir dir;
    const std::string path = dir.File("vendilox.txt");
    platform::fake::FakeReportMemo memo3;
    TOutputFile file;

    // The file's bytes; while the file is held, read through its holder, as nobody else can on
    // Windows.
    std::string Written() const {
        if (!file.IsOpen())
            return ReadBytes(path);
        std::string content;
        EXPECT_TRUE(file.ReadBack(content)) << "cannot read " << path << " back";
        return content;
    }
};

TEST_F(ReportTest, WorkedExampleGivesTheFixtureByteForByte) {
    memo3.AppendLine("a line of an earlier run");
    CreateOutputFile(memo3, path, file);
    EXPECT_TRUE(memo3.Lines.empty());
    EXPECT_EQ(Written(), "") << "created empty";

    WriteReport(WorkedExample(), memo3, file);
    const std::string expected = WorkedExampleFixture();
    EXPECT_EQ(memo3.Lines.size(), 12u);
    EXPECT_EQ(memo3.Text(), expected);
    EXPECT_EQ(Written(), expected);
}

TEST_F(ReportTest, SecondReportFollowsTheFirstWhileTheMemoShowsTheLatest) {
    CreateOutputFile(memo3, path, file);
    WriteReport(WorkedExample(), memo3, file);

    // An approved refund reports its own status while the response code stays "000".
    TTransactionResult refund = WorkedExample();
    refund.StatusText = "Transakce zrušena"_w1250;
    refund.TypeCode = "10";
    refund.TypeName = "návrat transakce"_w1250;
    WriteReport(refund, memo3, file);

    ASSERT_EQ(memo3.Lines.size(), 12u);
    EXPECT_EQ(memo3.Lines[0],
              "000|87654321|0000123|10|0|4111111111111111|12345678|08/16/2018|14:30:05|12345|1|");
    EXPECT_EQ(memo3.Lines[2], "Stav po zpracování: Transakce zrušena"_w1250);
    EXPECT_EQ(memo3.Lines[5], "Typ transakce: návrat transakce"_w1250);

    const std::string bytes = Written();
    EXPECT_EQ(bytes, WorkedExampleFixture() + memo3.Text());
    std::size_t lines = 0;
    for (std::size_t at = bytes.find("\r\n"); at != std::string::npos;
         at = bytes.find("\r\n", at + 2)) {
        ++lines;
    }
    EXPECT_EQ(lines, 24u);
}

TEST_F(ReportTest, EmptyFieldsGiveEmptyColumnsAndBareLabels) {
    // A masked card number with neither an authorization code nor a card name.
    TTransactionResult masked = WorkedExample();
    masked.CardNumber = "******1234";
    masked.AuthorizationCode.clear();
    masked.CardTypeCode.clear();
    masked.CardName.clear();
    CreateOutputFile(memo3, path, file);
    WriteReport(masked, memo3, file);
    ASSERT_EQ(memo3.Lines.size(), 12u);
    EXPECT_EQ(memo3.Lines[0], "000|87654321|0000123|00||******1234||08/16/2018|14:30:05|12345|1|");
    EXPECT_EQ(memo3.Lines[6], "Typ karty: ");
    EXPECT_EQ(memo3.Lines[8], "Autorizační kód: "_w1250);

    WriteReport(TTransactionResult{}, memo3, file);
    ASSERT_EQ(memo3.Lines.size(), 12u);
    EXPECT_EQ(memo3.Lines[0], "|||||||||||");
    EXPECT_EQ(memo3.Lines[11], "Částka transakce:  Kč"_w1250);
}

TEST_F(ReportTest, TerminalBytesNeverAddLinesOrColumns) {
    TTransactionResult r = WorkedExample();
    r.CardNumber = "4111|1111";
    r.AuthorizationCode = std::string("12\r\n34\x7F", 7);
    r.CardName = "VI|SA\n";
    r.BatchNumber = std::string(
        "1\0"
        "2\x1F",
        4);
    r.AmountText = "1\r,00";
    CreateOutputFile(memo3, path, file);
    WriteReport(r, memo3, file);

    std::string expected;
    for (std::string_view line :
         {std::string_view("000|87654321|1?2?|00|0|4111?1111|12??34?|08/16/2018|14:30:05|12345|1|"),
          std::string_view("-----------------------------------"),
          "Stav po zpracování: Transakce provedena"_w1250, "Číslo terminálu POS: 87654321"_w1250,
          "Číslo dávky: 1?2?"_w1250, "Typ transakce: nákup na terminálu"_w1250,
          std::string_view("Typ karty: VI|SA?"), "Číslo karty: 4111|1111"_w1250,
          "Autorizační kód: 12??34?"_w1250, std::string_view("Datum transakce: 08/16/2018"),
          "Čas transakce: 14:30:05"_w1250, "Částka transakce: 1?,00 Kč"_w1250}) {
        expected.append(line).append("\r\n");
    }
    EXPECT_EQ(Written(), expected);
    EXPECT_EQ(memo3.Lines.size(), 12u);
}

TEST_F(ReportTest, CreateTruncatesTheFileOfAnEarlierRun) {
    WriteBytes(path, WorkedExampleFixture());
    CreateOutputFile(memo3, path, file);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    EXPECT_TRUE(file.IsOpen());
}

TEST_F(ReportTest, MissingDirectoryRaisesCreationErrorWithTheConfiguredPath) {
    // The path as configured, in Windows-1250: the message shows it so.
    const std::string missing = dir.File("pokladn\xED") + "/vendilox.txt";
    try {
        CreateOutputFile(memo3, missing, file);
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + missing);
    }
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(ReportTest, FileHeldByAnotherRunIsRefusedAndKeepsItsReport) {
    CreateOutputFile(memo3, path, file);
    WriteReport(WorkedExample(), memo3, file);

    TOutputFile second;
    try {
        second.Create(path);
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + path);
    }
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(Written(), WorkedExampleFixture()) << "the holder's report was cut";
}

TEST_F(ReportTest, FileIsFreeOnceItsHolderIsGone) {
    {
        TOutputFile first;
        first.Create(path);
    }
    EXPECT_NO_THROW(file.Create(path));
}

TEST_F(ReportTest, FailingWriteRaisesWriteErrorNamingTheFile) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    // Every write to /dev/full fails for want of space.
    CreateOutputFile(memo3, "/dev/full", file);
    try {
        WriteReport(WorkedExample(), memo3, file);
        FAIL() << "no error";
    } catch (const EWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot write to file /dev/full");
    }
}

// Windows has no limit of the file size a process may write.
#ifndef _WIN32
// Lowers the largest file size this process may write, and puts it back.
class TFileSizeLimit {
  public:
    explicit TFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~TFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    bool Ok() const { return ok_; }

  private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
    bool ok_ = false;
};

TEST_F(ReportTest, PartlyWrittenReportIsCutBackToTheEarlierReports) {
    const std::string first = WorkedExampleFixture();
    CreateOutputFile(memo3, path, file);
    WriteReport(WorkedExample(), memo3, file);

    // Room for the first report and a part of the second: the write is cut short.
    TFileSizeLimit limit(first.size() + 100);
    ASSERT_TRUE(limit.Ok());
    EXPECT_THROW(WriteReport(WorkedExample(), memo3, file), EWriteError);
    EXPECT_EQ(Written(), first);
}
#endif

}  // namespace
}  // namespace vendilox
