#include "protocol/reassembly.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/cp1250.hpp"
#include "protocol/frame.hpp"

namespace vendilox {
namespace {

// Writes every callback as one event, in order: "log:<line>", "ack", "final:<message>".
class RecordingHost : public IReassemblyHost {
  public:
    void LogLine(std::string_view line) override { Events.push_back("log:" + std::string(line)); }
    void HandleActivityConfirmation() override { Events.push_back("ack"); }
    int HandleFinalResponse(const std::string& message) override {
        Events.push_back("final:" + message);
        if (Throw)
            throw std::runtime_error("final response handler failed");
        return Result;
    }

    std::vector<std::string> Events;
    int Result = 0;
    bool Throw = false;
};

const std::string kHeader =
    "B001"
    "87654321"
    "180816143005"
    "0001"
    "0000"
    "A5A5";
const std::string kAck = STX + kHeader + ETX;
const std::string kResp = STX + kHeader +
                          "\x1CR000\x1CT00\x1C"
                          "B100" +
                          ETX;
const std::string kResp2 = STX + kHeader + "\x1CR050" + ETX;

std::string Received(std::string_view bytes) {
    return "log:" + std::string("Přijmutá data: "_w1250) + std::string(bytes);
}
const std::string kEnd = "log:Konec transakce";
const std::string kActivity = "log:Activity confirmation";
const std::string kDiscarded =
    "log:" + std::string("Nedokončená data zahozena (více než 65536 bajtů)"_w1250);

struct TransitionCase {
    const char* Name;
    std::vector<std::string> Setup;  // chunks fed first; their events are not checked
    bool SendStepBefore;             // the send step clears PartialFrame before the chunk
    std::string Chunk;
    int Result;  // what HandleFinalResponse returns
    std::vector<std::string> Events;
    std::string Buffer;
    bool Partial;
};

class TransitionTest : public ::testing::TestWithParam<TransitionCase> {};

TEST_P(TransitionTest, CallbacksAndState) {
    const TransitionCase& c = GetParam();
    RecordingHost host;
    TReceiveReassembly reassembly(host);
    for (const auto& chunk : c.Setup)
        reassembly.HandleReceivedData(chunk);
    if (c.SendStepBefore)
        reassembly.SetPartialFrame(false);
    host.Events.clear();
    host.Result = c.Result;

    reassembly.HandleReceivedData(c.Chunk);
    EXPECT_EQ(host.Events, c.Events);
    EXPECT_EQ(reassembly.ReceiveBuffer(), c.Buffer);
    EXPECT_EQ(reassembly.PartialFrame(), c.Partial);
}

const std::string kRespHead = kResp.substr(0, 20);
const std::string kRespTail = kResp.substr(20);

INSTANTIATE_TEST_SUITE_P(
    StateTable, TransitionTest,
    ::testing::Values(
        TransitionCase{"EmptyChunkChangesNothing",
                       {STX + std::string("ab")},
                       false,
                       "",
                       0,
                       {Received("")},
                       STX + std::string("ab"),
                       true},
        TransitionCase{"StxWithoutEtxReplacesBuffer",
                       {"junk"},
                       false,
                       STX + std::string("B0"),
                       0,
                       {Received(STX + std::string("B0"))},
                       STX + std::string("B0"),
                       true},
        TransitionCase{"StxResponseLeavesBuffer",
                       {STX + std::string("old")},
                       false,
                       kResp,
                       0,
                       {Received(kResp), "final:" + kResp, Received(""), kEnd},
                       STX + std::string("old"),
                       true},
        TransitionCase{"StxResponseTailReplacesBuffer",
                       {},
                       false,
                       kResp + "tail",
                       0,
                       {Received(kResp + "tail"), "final:" + kResp, Received("tail"), kEnd},
                       "tail",
                       false},
        TransitionCase{"StxResponseAnsweredAsCrcError",
                       {},
                       false,
                       kResp,
                       1,
                       {Received(kResp), "final:" + kResp},
                       "",
                       false},
        TransitionCase{"StxAckWhilePartial",
                       {STX + std::string("old")},
                       false,
                       kAck,
                       0,
                       {Received(kAck), Received(kAck), kActivity, "ack"},
                       STX + std::string("old"),
                       true},
        TransitionCase{"StxAckThenBytesWithFs",
                       {},
                       false,
                       kAck + "x\x1Cy",
                       0,
                       {Received(kAck + "x\x1Cy"), Received(kAck), kActivity, "ack",
                        Received("x\x1Cy"), "final:", Received("x\x1Cy"), kEnd},
                       "x\x1Cy",
                       true},
        TransitionCase{"TwoResponsesInOneChunk",
                       {},
                       false,
                       kResp + kResp2,
                       0,
                       {Received(kResp + kResp2), "final:" + kResp, Received(kResp2), kEnd},
                       kResp2,
                       false},
        TransitionCase{"ContinuationAppended",
                       {STX + std::string("ab")},
                       false,
                       "cd",
                       0,
                       {Received("cd")},
                       STX + std::string("abcd"),
                       true},
        TransitionCase{"ContinuationCompletesResponse",
                       {kRespHead},
                       false,
                       kRespTail,
                       0,
                       {Received(kRespTail), "final:" + kResp, Received(""), kEnd},
                       "",
                       false},
        TransitionCase{"ContinuationWithBytesAfterEtx",
                       {kRespHead},
                       false,
                       kRespTail + "zz",
                       0,
                       {Received(kRespTail + "zz"), "final:" + kResp, Received("zz"), kEnd},
                       "zz",
                       true},
        TransitionCase{"ContinuationAnsweredAsCrcError",
                       {kRespHead},
                       false,
                       kRespTail,
                       1,
                       {Received(kRespTail), "final:" + kResp},
                       "",
                       false},
        TransitionCase{"AckInTwoChunksLeavesTheBuffer",
                       {kAck.substr(0, 10)},
                       false,
                       kAck.substr(10),
                       0,
                       {Received(kAck.substr(10)), Received(kAck.substr(10)), kActivity, "ack"},
                       "",
                       false},
        TransitionCase{"StrayBytesFirstAreAnAck",
                       {},
                       false,
                       "zz",
                       0,
                       {Received("zz"), Received("zz"), kActivity, "ack"},
                       "zz",
                       false},
        TransitionCase{"StrayBytesWithEtxAreAnAck",
                       {},
                       false,
                       "ab\x03",
                       0,
                       {Received("ab\x03"), Received("ab\x03"), kActivity, "ack"},
                       "",
                       false},
        TransitionCase{"StrayFsWithoutEtxHandsOverNothing",
                       {},
                       false,
                       "z\x1Cz",
                       0,
                       {Received("z\x1Cz"), "final:", Received("z\x1Cz"), kEnd},
                       "z\x1Cz",
                       true},
        TransitionCase{"LeftoverLookedAtByNextChunk",
                       {kResp + STX + "B0"},
                       false,
                       "01\x1CR000\x03",
                       0,
                       {Received("01\x1CR000\x03"),
                        "final:" + (STX + std::string("B001\x1CR000\x03")), Received(""), kEnd},
                       "",
                       false},
        TransitionCase{"PartialSurvivesStxAck",
                       {STX + std::string("ab"), kAck},
                       false,
                       "cd",
                       0,
                       {Received("cd")},
                       STX + std::string("abcd"),
                       true},
        TransitionCase{"SendStepEndsPartial",
                       {STX + std::string("ab")},
                       true,
                       "cd",
                       0,
                       {Received("cd"), Received("cd"), kActivity, "ack"},
                       STX + std::string("abcd"),
                       false}),
    [](const auto& info) { return std::string(info.param.Name); });

std::string Dropped(std::string_view bytes) {
    return "log:" + std::string("Zahozená data před začátkem zprávy: "_w1250) + std::string(bytes);
}

// Frames that share a chunk, or share the buffer with bytes in front of them: each frame is
// judged by itself, a confirmation is followed by what came after it, and a response is taken
// from its own STX.
INSTANTIATE_TEST_SUITE_P(
    SeveralFrames, TransitionTest,
    ::testing::Values(TransitionCase{"AckAndResponseInOneChunk",
                                     {},
                                     false,
                                     kAck + kResp,
                                     0,
                                     {Received(kAck + kResp), Received(kAck), kActivity, "ack",
                                      Received(kResp), "final:" + kResp, Received(""), kEnd},
                                     "",
                                     false},
                      TransitionCase{"TwoAcksAndResponseHeadInOneChunk",
                                     {},
                                     false,
                                     kAck + kAck + kRespHead,
                                     0,
                                     {Received(kAck + kAck + kRespHead), Received(kAck), kActivity,
                                      "ack", Received(kAck + kRespHead), Received(kAck), kActivity,
                                      "ack", Received(kRespHead)},
                                     kRespHead,
                                     true},
                      TransitionCase{"AckTailAndResponseInOneChunk",
                                     {kAck.substr(0, 10)},
                                     false,
                                     kAck.substr(10) + kResp,
                                     0,
                                     {Received(kAck.substr(10) + kResp), Received(kAck), kActivity,
                                      "ack", Received(kResp), "final:" + kResp, Received(""), kEnd},
                                     "",
                                     false},
                      TransitionCase{"AckTailAndResponseHeadInOneChunk",
                                     {kAck.substr(0, 10)},
                                     false,
                                     kAck.substr(10) + kRespHead,
                                     0,
                                     {Received(kAck.substr(10) + kRespHead), Received(kAck),
                                      kActivity, "ack", Received(kRespHead)},
                                     kRespHead,
                                     true},
                      TransitionCase{"AckTailAndResponseAnsweredAsCrcError",
                                     {kAck.substr(0, 10)},
                                     false,
                                     kAck.substr(10) + kResp + "zz",
                                     1,
                                     {Received(kAck.substr(10) + kResp + "zz"), Received(kAck),
                                      kActivity, "ack", Received(kResp + "zz"), "final:" + kResp},
                                     "zz",
                                     false},
                      TransitionCase{"StrayBytesBeforeResponse",
                                     {},
                                     false,
                                     "zz" + kResp,
                                     0,
                                     {Received("zz" + kResp), Dropped("zz"), "final:" + kResp,
                                      Received(""), kEnd},
                                     "",
                                     false},
                      TransitionCase{"StrayBytesBeforeResponseStart",
                                     {},
                                     false,
                                     "zz" + kResp.substr(0, 42),
                                     0,
                                     {Received("zz" + kResp.substr(0, 42)), Dropped("zz")},
                                     kResp.substr(0, 42),
                                     true},
                      TransitionCase{
                          "StrayBytesBeforeAckAndResponse",
                          {"z"},
                          false,
                          "z" + kAck + kResp,
                          0,
                          {Received("z" + kAck + kResp), Dropped("zz"), Received(kAck), kActivity,
                           "ack", Received(kResp), "final:" + kResp, Received(""), kEnd},
                          "",
                          false},
                      TransitionCase{"UnfinishedFrameBeforeResponse",
                                     {STX + std::string("old")},
                                     false,
                                     "x" + kResp,
                                     0,
                                     {Received("x" + kResp), Dropped(STX + std::string("oldx")),
                                      "final:" + kResp, Received(""), kEnd},
                                     "",
                                     false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Reassembly, RaisingHandlerKeepsStateOfTheStepsBefore) {
    {
        RecordingHost host;
        TReceiveReassembly reassembly(host);
        reassembly.HandleReceivedData(STX + std::string("old"));
        host.Events.clear();
        host.Throw = true;
        EXPECT_THROW(reassembly.HandleReceivedData(kResp + "tail"), std::runtime_error);
        EXPECT_EQ(host.Events,
                  (std::vector<std::string>{Received(kResp + "tail"), "final:" + kResp}));
        EXPECT_EQ(reassembly.ReceiveBuffer(), "tail");
        EXPECT_TRUE(reassembly.PartialFrame());
    }
    {
        RecordingHost host;
        TReceiveReassembly reassembly(host);
        reassembly.HandleReceivedData(kRespHead);
        host.Events.clear();
        host.Throw = true;
        EXPECT_THROW(reassembly.HandleReceivedData(kRespTail + "zz"), std::runtime_error);
        EXPECT_EQ(host.Events,
                  (std::vector<std::string>{Received(kRespTail + "zz"), "final:" + kResp}));
        EXPECT_EQ(reassembly.ReceiveBuffer(), "zz");
        EXPECT_TRUE(reassembly.PartialFrame());
    }
}

// Counts what was handed over, ignoring the log.
struct Handed {
    int Acks = 0;
    std::vector<std::string> Finals;
};

Handed HandedOver(const std::vector<std::string>& events) {
    Handed h;
    for (const auto& e : events) {
        if (e == "ack")
            ++h.Acks;
        if (e.rfind("final:", 0) == 0)
            h.Finals.push_back(e.substr(6));
    }
    return h;
}

const std::string kWorkedResp = STX + kHeader +
                                "\x1CR000\x1CT00\x1C"
                                "B000000012345\x1CP4111111111111111\x1C"
                                "F12345678\x1CJVISA\x1CL0000123" +
                                ETX;

TEST(Reassembly, ResponseSplitAnywhereIsHandedOverWholeOnce) {
    const std::string& r = kWorkedResp;
    // From a fresh state and from one with stray bytes and an unfinished frame buffered.
    for (const std::string& setup :
         {std::string(), std::string("junk"), STX + std::string("old")}) {
        for (std::size_t i = 1; i < r.size(); ++i) {
            for (std::size_t j = i; j < r.size(); ++j) {
                RecordingHost host;
                TReceiveReassembly reassembly(host);
                if (!setup.empty())
                    reassembly.HandleReceivedData(setup);
                host.Events.clear();
                reassembly.HandleReceivedData(r.substr(0, i));
                if (j > i)
                    reassembly.HandleReceivedData(r.substr(i, j - i));
                reassembly.HandleReceivedData(r.substr(j));
                const Handed h = HandedOver(host.Events);
                ASSERT_EQ(h.Finals, std::vector<std::string>{r}) << "split at " << i << ", " << j;
                ASSERT_EQ(h.Acks, 0);
                ASSERT_EQ(reassembly.ReceiveBuffer(), "");
                ASSERT_FALSE(reassembly.PartialFrame());
            }
        }
    }
}

TEST(Reassembly, RandomChunkingOfAConversation) {
    std::mt19937 rng(4711);
    std::uniform_int_distribution<std::size_t> size(1, 16);
    for (int round = 0; round < 500; ++round) {
        RecordingHost host;
        TReceiveReassembly reassembly(host);
        for (const std::string* message : {&kAck, &kAck, &kWorkedResp}) {
            std::size_t at = 0;
            while (at < message->size()) {
                const std::size_t n = size(rng);
                reassembly.HandleReceivedData(std::string_view(*message).substr(at, n));
                at += n;
            }
        }
        const Handed h = HandedOver(host.Events);
        ASSERT_EQ(h.Acks, 2) << "round " << round;
        ASSERT_EQ(h.Finals, std::vector<std::string>{kWorkedResp}) << "round " << round;
        ASSERT_EQ(host.Events.back(), kEnd);
    }
}

// Whatever a terminal sends before its response (confirmations, stray bytes) and however the
// link cuts it into chunks, the response is handed over once, whole, and nothing else is.
TEST(Reassembly, ResponseAfterAnyPrelude) {
    std::mt19937 rng(1013);
    auto below = [&rng](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    for (int round = 0; round < 20000; ++round) {
        // Zero to three confirmations, stray bytes (no STX, ETX or FS) in front of any frame or
        // none, then the response.
        std::vector<std::string> frames(below(4), kAck);
        frames.push_back(kWorkedResp);
        std::string stream;
        const std::size_t strayAt = below(frames.size() + 1);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (i == strayAt) {
                const std::size_t n = 1 + below(5);
                for (std::size_t k = 0; k < n; ++k) {
                    char c;
                    do {
                        c = static_cast<char>(below(256));
                    } while (c == STX || c == ETX || c == FS);
                    stream.push_back(c);
                }
            }
            stream += frames[i];
        }

        std::vector<std::size_t> cuts;
        for (std::size_t n = below(8); n > 0; --n)
            cuts.push_back(1 + below(stream.size() - 1));
        cuts.push_back(0);
        cuts.push_back(stream.size());
        std::sort(cuts.begin(), cuts.end());

        RecordingHost host;
        TReceiveReassembly reassembly(host);
        // Fresh, after stray bytes, or with a frame start that never ended buffered.
        const std::string setups[] = {"", "junk", STX + std::string("old")};
        const std::string& setup = setups[below(3)];
        if (!setup.empty())
            reassembly.HandleReceivedData(setup);
        host.Events.clear();
        for (std::size_t i = 1; i < cuts.size(); ++i)
            reassembly.HandleReceivedData(
                std::string_view(stream).substr(cuts[i - 1], cuts[i] - cuts[i - 1]));

        ASSERT_EQ(HandedOver(host.Events).Finals, std::vector<std::string>{kWorkedResp})
            << "round " << round << ": " << HexDump(stream) << " after '" << setup << "'";
    }
}

constexpr std::size_t kCap = TReceiveReassembly::kMaxBuffer;

TEST(ReassemblyCap, UnfinishedFrameIsDroppedPastTheCap) {
    RecordingHost host;
    TReceiveReassembly reassembly(host);
    reassembly.HandleReceivedData(STX + std::string(kCap - 101, 'a'));
    reassembly.HandleReceivedData(std::string(100, 'b'));
    EXPECT_EQ(reassembly.ReceiveBuffer().size(), kCap) << "a buffer at the cap is kept";
    EXPECT_TRUE(reassembly.PartialFrame());

    host.Events.clear();
    reassembly.HandleReceivedData("c");
    // The buffered bytes go; the chunk is then judged as if nothing had been buffered.
    EXPECT_EQ(host.Events, (std::vector<std::string>{Received("c"), kDiscarded, Received("c"),
                                                     kActivity, "ack"}));
    EXPECT_EQ(reassembly.ReceiveBuffer(), "c");
    EXPECT_FALSE(reassembly.PartialFrame());

    // A response that follows still gets through whole.
    host.Events.clear();
    reassembly.HandleReceivedData(kRespHead);
    reassembly.HandleReceivedData(kRespTail);
    EXPECT_EQ(HandedOver(host.Events).Finals, std::vector<std::string>{kResp});
}

TEST(ReassemblyCap, EndlessStreamStaysBounded) {
    RecordingHost host;
    TReceiveReassembly reassembly(host);
    reassembly.HandleReceivedData(STX + std::string(100, 'a'));
    int discarded = 0;
    for (int i = 0; i < 100; ++i) {
        host.Events.clear();
        reassembly.HandleReceivedData(std::string(4096, 'x'));
        ASSERT_LE(reassembly.ReceiveBuffer().size(), kCap);
        for (const auto& e : host.Events)
            discarded += e == kDiscarded;
    }
    EXPECT_GE(discarded, 5);
}

TEST(ReassemblyCap, ChunkAloneOverTheCapIsNotKept) {
    const struct {
        const char* Name;
        std::string Chunk;
        std::vector<std::string> Events;  // after the first line, which shows the chunk
        std::string Buffer;
    } cases[] = {
        {"FrameStartAtTheCap",
         STX + std::string(kCap - 1, 'a'),
         {},
         STX + std::string(kCap - 1, 'a')},
        {"FrameStartOverTheCap", STX + std::string(kCap, 'a'), {kDiscarded}, ""},
        {"ResponseWithHugeTail",
         kResp + std::string(kCap + 1, 't'),
         {kDiscarded, "final:" + kResp, Received(std::string(kCap + 1, 't')), kEnd},
         ""},
        {"StrayBytesOverTheCap", std::string(kCap + 1, 'z') + "\x1C\x03", {kDiscarded}, ""},
    };
    for (const auto& c : cases) {
        RecordingHost host;
        TReceiveReassembly reassembly(host);
        reassembly.HandleReceivedData(kRespHead);
        host.Events.clear();
        reassembly.HandleReceivedData(c.Chunk);
        std::vector<std::string> expected{Received(c.Chunk)};
        expected.insert(expected.end(), c.Events.begin(), c.Events.end());
        EXPECT_EQ(host.Events, expected) << c.Name;
        EXPECT_EQ(reassembly.ReceiveBuffer(), c.Buffer) << c.Name;
        EXPECT_EQ(reassembly.PartialFrame(), !c.Buffer.empty()) << c.Name;
    }
}

}  // namespace
}  // namespace vendilox
