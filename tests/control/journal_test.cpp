// The journal against real files: one line per event in the order of the run, frames that come
// back byte for byte from the records, no card number in the files, old days pruned, and a
// journal that cannot be written told once without stopping anything.
#include "control/Journal.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fake/fake_loop.hpp"
#include "platform/fake/fake_ui.hpp"
#include "protocol/card_mask.hpp"
#include "protocol/cp1250.hpp"
#include "protocol/frame.hpp"
#include "temp_dir.hpp"

namespace vendilox {
namespace {

using nlohmann::json;
using platform::fake::FakeApplication;
using platform::fake::FakeClock;
using platform::fake::FakeLoop;
using platform::fake::FakeMessageBox;
using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

const std::string kPan = "4111111111111111";

std::string Frame(const std::vector<std::string>& fields) {
    std::string body;
    for (const auto& f : fields)
        body += FS + f;
    return STX +
           ("B00187654321180816143005"
            "0001" +
            LengthText(body.size()) + CrcText(Crc16(body))) +
           body + ETX;
}

std::vector<json> Records(const std::string& path) {
    std::vector<json> records;
    std::istringstream in(ReadBytes(path));
    for (std::string line; std::getline(in, line);)
        records.push_back(json::parse(line));
    return records;
}

// A frame of a record, as the program had it.
std::string Bytes(const json& text) {
    return Utf8ToCp1250(text.get<std::string>());
}

class JournalTest : public ::testing::Test {
  protected:
    JournalTest() {
        settings.JournalPath = dir.Path().string() + "/";
        settings.OutputPath = dir.File("vendilox.txt");
    }
    std::string TodaysFile() const { return dir.File("vendilox-journal-20180816.jsonl"); }

    TTempDir dir;
    FakeMessageBox boxes;
    FakeApplication app{boxes};
    FakeLoop loop{app};
    FakeClock clock{loop};  // 16 August 2018, 14:30:05.000 at virtual time 0
    TSettings settings;
    std::vector<std::string> failures;
    TJournal journal{clock, [this](std::string_view line) { failures.emplace_back(line); }};
};

TEST_F(JournalTest, ApprovedRunGivesItsRecordsInOrderAndEveryFrameBack) {
    const std::string request = Frame({"T00", "B100"});
    const std::string response = Frame({"R000", "T00", "B100", "P" + kPan, "F12345678"});
    const std::string confirm = STX + response.substr(1, 30) + "00A5A5" + ETX;
    // The chunks cut the card number twice, as a serial line may.
    const std::size_t p = response.find(kPan);
    const std::vector<std::string> chunks = {response.substr(0, p + 3), response.substr(p + 3, 8),
                                             response.substr(p + 11)};
    TTransactionRequest checked{0, "00000000", "100", "        ", ""};
    TTransactionResult result;
    result.CardNumber = kPan;
    result.StatusText = std::string(StatusApproved());
    TResponseFrames frames;
    frames.ResponseCrc = response.substr(33, 4);
    frames.ResponseBody = response.substr(38, response.size() - 39);

    journal.Open(settings, 4242);
    ASSERT_TRUE(journal.Active());
    journal.Start("0.1.0", {"0", "100", "00000000"}, &checked, settings);
    journal.Sent(request);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        loop.AdvanceTo(100 + 7 * i);
        journal.Received(chunks[i]);
    }
    loop.AdvanceTo(1200);
    journal.Response(response, frames, true, true, result);
    journal.Sent(confirm);
    journal.Report(settings.OutputPath);
    journal.End(0, StatusApproved(), platform::TColor::Blue);

    const std::string file = ReadBytes(TodaysFile());
    EXPECT_EQ(file.find(kPan), std::string::npos) << "a full card number in the journal";
    const auto records = Records(TodaysFile());
    std::vector<std::string> events;
    for (const json& r : records) {
        events.push_back(r.at("event"));
        EXPECT_EQ(r.at("run"), "20180816-143005.000-4242");
    }
    EXPECT_EQ(events, (std::vector<std::string>{"start", "sent", "received", "received", "received",
                                                "response", "sent", "report", "end"}));
    EXPECT_EQ(records[0].at("request").at("Amount"), "100");
    EXPECT_EQ(records[1].at("ts"), "2018-08-16T14:30:05.000");
    EXPECT_EQ(Bytes(records[1].at("frame")), request);
    // Each chunk with its own time, the card digits of the whole number masked.
    std::string joined;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const json& r = records[2 + i];
        EXPECT_EQ(r.at("ts"), "2018-08-16T14:30:05." + std::to_string(100 + 7 * i));
        const std::string restored = Bytes(r.at("chunk"));
        EXPECT_EQ(restored.size(), chunks[i].size());
        joined += restored;
    }
    EXPECT_EQ(joined, MaskCardNumbers(response));
    EXPECT_EQ(joined.find("411111******1111"), p);
    EXPECT_EQ(Bytes(records[5].at("frame")), MaskCardNumbers(response));
    EXPECT_EQ(records[5].at("crc").at("matches"), true);
    EXPECT_EQ(records[5].at("crc").at("computed"), response.substr(33, 4));
    EXPECT_EQ(records[5].at("result").at("CardNumber"), "411111******1111");
    EXPECT_EQ(records[5].at("result").at("StatusText"), "Transakce provedena");
    EXPECT_EQ(Bytes(records[6].at("frame")), confirm);
    EXPECT_EQ(records[7].at("written"), true);
    EXPECT_EQ(records[8].at("exit_code"), 0);
    EXPECT_EQ(records[8].at("colour"), "blue");
    EXPECT_TRUE(failures.empty());
}

TEST_F(JournalTest, EveryByteComesBackAndEveryRecordIsOnePrintableLine) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    journal.Open(settings, 1);
    journal.Received(all);
    journal.End(0, "", platform::TColor::Red);

    const std::string file = ReadBytes(TodaysFile());
    for (std::size_t i = 0; i < file.size(); ++i) {
        const auto b = static_cast<unsigned char>(file[i]);
        EXPECT_TRUE(b == '\n' || (b >= 0x20 && b != 0x7F)) << "byte " << int(b) << " at " << i;
        if (b == 0xC2 && i + 1 < file.size()) {
            EXPECT_GT(static_cast<unsigned char>(file[i + 1]), 0x9F) << "a C1 control at " << i;
        }
    }
    const auto records = Records(TodaysFile());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(Bytes(records[0].at("chunk")), all);
}

TEST_F(JournalTest, RunsAppendToTheFileOfTheDayTheyStarted) {
    WriteBytes(TodaysFile(), "{\"earlier\":true}\n");
    journal.Open(settings, 1);
    journal.End(1, "", platform::TColor::Red);
    // The second run starts just before midnight and ends after it.
    clock.SetBase({2018, 8, 16, 23, 59, 59});
    TJournal second(clock, {});
    second.Open(settings, 2);
    loop.AdvanceTo(2000);
    second.End(0, "", platform::TColor::Blue);

    const auto records = Records(TodaysFile());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], json({{"earlier", true}}));
    EXPECT_EQ(records[2].at("run"), "20180816-235959.000-2");
    EXPECT_EQ(records[2].at("ts"), "2018-08-17T00:00:01.000");
}

struct TUnwritableCase {
    const char* Name;
    void (*Prepare)(const TTempDir& dir, TSettings& settings);
};

class JournalUnwritableTest : public JournalTest,
                              public ::testing::WithParamInterface<TUnwritableCase> {};

TEST_P(JournalUnwritableTest, IsToldOnceAndTheRunGoesOn) {
    GetParam().Prepare(dir, settings);
    journal.Open(settings, 1);
    EXPECT_FALSE(journal.Active());
    journal.Start("0.1.0", {}, nullptr, settings);
    journal.Received(Frame({"R000"}));
    journal.End(0, "", platform::TColor::Blue);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], std::string("Deník transakcí nelze otevřít: "_w1250) +
                               settings.JournalPath + "vendilox-journal-20180816.jsonl");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JournalUnwritableTest,
    ::testing::Values(TUnwritableCase{"MissingDirectory",
                                      [](const TTempDir& dir, TSettings& s) {
                                          s.JournalPath = dir.File("missing") + "/";
                                      }},
                      TUnwritableCase{"FileInPlaceOfTheDirectory",
                                      [](const TTempDir& dir, TSettings& s) {
                                          WriteBytes(dir.File("plain"), "");
                                          s.JournalPath = dir.File("plain") + "/";
                                      }},
                      TUnwritableCase{"DirectoryInPlaceOfTheFile",
                                      [](const TTempDir& dir, TSettings& s) {
                                          std::filesystem::create_directory(
                                              dir.File("vendilox-journal-20180816.jsonl"));
                                          s.JournalPath = dir.Path().string() + "/";
                                      }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(JournalTest, NoPathNoJournalAndNoMessage) {
    settings.JournalPath.clear();
    journal.Open(settings, 1);
    journal.End(0, "", platform::TColor::Blue);
    EXPECT_FALSE(journal.Active());
    EXPECT_TRUE(failures.empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

struct TPruneCase {
    const char* Name;
    std::int32_t Days;
    std::vector<std::string> Kept;  // of the files below, today being 16 August 2018
};

class PruneJournalTest : public ::testing::TestWithParam<TPruneCase> {};

TEST_P(PruneJournalTest, DeletesOnlyJournalFilesOfDaysNoLongerKept) {
    TTempDir dir;
    const std::vector<std::string> journals = {
        "vendilox-journal-20180816.jsonl", "vendilox-journal-20180815.jsonl",
        "vendilox-journal-20180519.jsonl", "vendilox-journal-20180518.jsonl",
        "vendilox-journal-20170101.jsonl"};
    // Names that only resemble the journal's, and a directory with its name, stay always.
    const std::vector<std::string> others = {"vendilox-journal-20170101.jsonl.bak",
                                             "vendilox-journal-2017010.jsonl",
                                             "vendilox-journal-20170231.jsonl", "vendilox.txt"};
    for (const auto& name : journals)
        WriteBytes(dir.File(name), "{}\n");
    for (const auto& name : others)
        WriteBytes(dir.File(name), "");
    std::filesystem::create_directory(dir.File("vendilox-journal-20160101.jsonl"));

    PruneJournal(dir.Path().string() + "/", {2018, 8, 16, 9, 0, 0}, GetParam().Days);

    std::vector<std::string> kept;
    for (const auto& name : journals) {
        if (std::filesystem::exists(dir.File(name)))
            kept.push_back(name);
    }
    EXPECT_EQ(kept, GetParam().Kept);
    for (const auto& name : others)
        EXPECT_TRUE(std::filesystem::exists(dir.File(name))) << name;
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("vendilox-journal-20160101.jsonl")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PruneJournalTest,
    ::testing::Values(
        TPruneCase{"OneDayKeepsToday", 1, {"vendilox-journal-20180816.jsonl"}},
        // 90 days: 16 August and the 89 days before it, back to 19 May.
        TPruneCase{"NinetyDays",
                   90,
                   {"vendilox-journal-20180816.jsonl", "vendilox-journal-20180815.jsonl",
                    "vendilox-journal-20180519.jsonl"}},
        TPruneCase{"ZeroKeepsAll",
                   0,
                   {"vendilox-journal-20180816.jsonl", "vendilox-journal-20180815.jsonl",
                    "vendilox-journal-20180519.jsonl", "vendilox-journal-20180518.jsonl",
                    "vendilox-journal-20170101.jsonl"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(PruneJournal, PathWithoutSeparatorPrunesBesideIt) {
    TTempDir dir;
    WriteBytes(dir.File("tillAvendilox-journal-20170101.jsonl"), "");
    WriteBytes(dir.File("vendilox-journal-20170101.jsonl"), "");
    PruneJournal(dir.File("tillA"), {2018, 8, 16, 9, 0, 0}, 90);
    EXPECT_FALSE(std::filesystem::exists(dir.File("tillAvendilox-journal-20170101.jsonl")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("vendilox-journal-20170101.jsonl")));
}

}  // namespace
}  // namespace vendilox
