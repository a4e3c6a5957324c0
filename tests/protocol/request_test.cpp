#include "protocol/request.hpp"

#include <gtest/gtest.h>

#include <string>

#include "protocol/cp1250.hpp"
#include "protocol/frame.hpp"
#include "protocol/text.hpp"
#include "support.hpp"

namespace vendilox {
namespace {

using test::BitwiseCrc16;
using test::RecordingProtocolHost;

const TDateTime kMoment{2018, 8, 16, 14, 30, 5};
const std::string kTerminalId(8, ' ');

TEST(FormatRequestTime, TwoDigitsEach) {
    EXPECT_EQ(FormatRequestTime(kMoment), "180816143005");
    EXPECT_EQ(FormatRequestTime({2009, 1, 2, 3, 4, 5}), "090102030405");
    EXPECT_EQ(FormatRequestTime({2100, 12, 31, 23, 59, 59}), "001231235959");
}

class BuildRequestTest : public ::testing::Test {
  protected:
    bool Build(std::int32_t type, std::string amount, std::string invoice = "",
               std::string auth = "12345678") {
        return BuildRequest(type, auth, amount, kTerminalId, invoice, kMoment, host, outgoing);
    }

    RecordingProtocolHost host;
    std::string outgoing = "previous frame";
};

// The two worked frames, written out byte for byte.
TEST_F(BuildRequestTest, WorkedPurchaseFrame) {
    ASSERT_TRUE(Build(0, "100"));
    const std::string expected = std::string(
                                     "\x02"
                                     "B001        1808161430050000"
                                     "0009"
                                     "9930") +
                                 "\x1CT00\x1C"
                                 "B100\x03";
    EXPECT_EQ(outgoing, expected);
    EXPECT_EQ(outgoing.size(), 47u);
    EXPECT_EQ(HexDump(outgoing.substr(kBodyFramePos - 1, 9)), "1C5430301C42313030");
}

TEST_F(BuildRequestTest, WorkedClosingFrame) {
    ASSERT_TRUE(Build(60, "1"));
    const std::string expected =
        std::string(
            "\x02"
            "B001        1808161430050000"
            "003A"
            "844B") +
        "\x1CT60\x1CL0010010000+0000000000000000000000+000000000000000000\x03";
    EXPECT_EQ(outgoing, expected);
    EXPECT_EQ(outgoing.size(), 96u);
}

struct BodyCase {
    const char* Name;
    std::int32_t Type;
    std::string Amount;
    std::string Invoice;
    std::string Body;
    const char* LengthText;  // nullptr: not checked against a worked figure
    const char* CrcText;
};

class RequestBodyTest : public BuildRequestTest, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(RequestBodyTest, ComposesHeaderBodyAndLogs) {
    const BodyCase& c = GetParam();
    ASSERT_TRUE(Build(c.Type, c.Amount, c.Invoice, "AB34CD78"));

    const std::string crc = CrcText(BitwiseCrc16(c.Body));
    const std::string length = LengthText(c.Body.size());
    if (c.LengthText) {
        EXPECT_EQ(length, c.LengthText);
    }
    if (c.CrcText) {
        EXPECT_EQ(crc, c.CrcText);
    }

    const std::string header = "B001" + kTerminalId + "180816143005" + "0000" + length + crc;
    ASSERT_EQ(header.size(), header::kLength);
    EXPECT_EQ(outgoing, STX + header + c.Body + ETX);

    ASSERT_EQ(host.Log.size(), 2u);
    EXPECT_EQ(host.Log[0], "Retezec pro vypocet CRC: " + c.Body);
    EXPECT_EQ(host.Log[1], "CRC: " + crc);
    EXPECT_TRUE(host.Boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    ByType, RequestBodyTest,
    ::testing::Values(BodyCase{"Purchase", 0, "100", "",
                               "\x1CT00\x1C"
                               "B100",
                               "0009", "9930"},
                      BodyCase{"PurchaseWithInvoice", 0, "100", "2018001",
                               "\x1CT00\x1C"
                               "B100\x1CS2018001",
                               "0012", "7286"},
                      BodyCase{"PurchaseLongest", 0, "000000000000012345", std::string(16, 'I'),
                               "\x1CT00\x1C"
                               "B000000000000012345\x1CS" +
                                   std::string(16, 'I'),
                               "002A", nullptr},
                      BodyCase{"VoidIgnoresInvoice", 4, "100", "2018001",
                               "\x1CT04\x1C"
                               "B100",
                               "0009", nullptr},
                      BodyCase{"RefundCarriesAuthCode", 10, "100", "2018001",
                               "\x1CT10\x1C"
                               "B100\x1C"
                               "FAB34CD78",
                               "0013", nullptr},
                      BodyCase{"ClosingCarriesNoAmount", 60, "250", "2018001",
                               "\x1CT60\x1CL0010010000+0000000000000000000000+000000000000000000",
                               "003A", "844B"},
                      BodyCase{"AmountKeptAsGiven", 0, "0100", "",
                               "\x1CT00\x1C"
                               "B0100",
                               nullptr, nullptr},
                      BodyCase{"LargestAmount", 4, "2147483647", "",
                               "\x1CT04\x1C"
                               "B2147483647",
                               nullptr, nullptr},
                      BodyCase{"LargestAmountWithZeros", 4, "000000002147483647", "",
                               "\x1CT04\x1C"
                               "B000000002147483647",
                               nullptr, nullptr},
                      BodyCase{"UnknownTypeSingleFs", 7, "100", "2018001", "\x1C", "0001", "D3BD"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(BuildRequestTest, ZeroAmountIsRefusedForEveryType) {
    for (std::int32_t type : {0, 4, 10, 60}) {
        for (const char* amount : {"0", "000", "000000000000000000"}) {
            host.Log.clear();
            host.Boxes.clear();
            EXPECT_FALSE(Build(type, amount, "2018001")) << type << " '" << amount << "'";
            ASSERT_EQ(host.Boxes.size(), 1u);
            EXPECT_EQ(host.Boxes[0].Caption, "Špatné údaje"_w1250);
            EXPECT_EQ(host.Boxes[0].Text, "Částka nemůže být 0 Kč!"_w1250);
            EXPECT_TRUE(host.Log.empty());
            EXPECT_EQ(outgoing, "previous frame");
        }
    }
}

TEST_F(BuildRequestTest, NonIntegerAmountRaisesBeforeAnything) {
    // Only plain decimal digits are an amount: signs, blanks and hexadecimal prefixes would be
    // sent as they are. A signed or hexadecimal zero is no amount either.
    for (const char* amount : {"",
                               "1,50",
                               "12 ",
                               "+",
                               "2147483648",
                               "000000002147483648",
                               "999999999999999999",
                               "0000000000000000001",
                               "abc",
                               "-500",
                               "-5",
                               "+5",
                               " 5",
                               "$FF",
                               "0x10",
                               "x10",
                               "+0",
                               "-0",
                               " 0",
                               "$0",
                               "0x00",
                               "1\x1C"
                               "B9",
                               "5\x03"}) {
        try {
            Build(0, amount);
            ADD_FAILURE() << "no error for '" << amount << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(amount) + "' is not a valid integer value");
        }
        EXPECT_TRUE(host.Log.empty());
        EXPECT_TRUE(host.Boxes.empty());
        EXPECT_EQ(outgoing, "previous frame");
    }
}

TEST_F(BuildRequestTest, EachCallTakesItsOwnMoment) {
    ASSERT_TRUE(Build(0, "100"));
    ASSERT_TRUE(
        BuildRequest(0, "12345678", "100", kTerminalId, "", {2019, 1, 2, 0, 0, 9}, host, outgoing));
    EXPECT_EQ(outgoing.substr(13, 12), "190102000009");
    EXPECT_EQ(host.Log.size(), 4u);
}

}  // namespace
}  // namespace vendilox
