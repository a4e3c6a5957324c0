// Bad input from the caller: every command-line check, settings files that are malformed,
// huge, incomplete, binary junk or no file at all, and a result file that cannot be created.
// Each run must end at once with its message and exit code 1, rewrite no settings file, and
// leave the result file empty or absent; none may crash or hang.
//
// The test process has a network namespace of its own with nothing but the loopback, so even a
// settings file that falls back to the default terminal address reaches nothing.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "rig.hpp"

namespace vendilox::reliability {
namespace {

constexpr auto kBound = 15s;
const std::vector<std::string> kPurchase = {"0", "12345", "AB12CD34"};

// The settings of a TCP run whose connection is refused: the link shows that it was started.
std::string TcpSettings(const RunDir& dir, int port, std::string_view extra = "") {
    return "[Settings]\r\nConnectionType=TCP\r\nPathToTxt=" + dir.Path().string() + "/\r\n" +
           std::string(extra) + "[TCP]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(port) + "\r\n";
}

std::string RefusedBox(int port) {
    return "Chyba: Nelze navázat spojení s terminálem. (Host:127.0.0.1, Port:" +
           std::to_string(port) + ")";
}

const std::string kNoCom1 = "Chyba: Nelze otevřít port \"COM1\" pro komunikaci s terminálem!";

struct BadInput {
    const char* name;
    std::vector<std::string> params;
    // Prepares the run's directory; returns its settings file's bytes, or nothing when the
    // function made the settings path itself.
    std::function<std::optional<std::string>(const RunDir&, int port)> settings;
    // The one message box; "{port}" and "{dir}" stand for the refused port and the directory.
    std::string box;
    bool resultFile = true;  // whether the empty result file is made before the failure
};

void PrintTo(const BadInput& b, std::ostream* os) {
    *os << b.name;
}

auto Tcp(std::string extra = "") {
    return [extra](const RunDir& d, int port) -> std::optional<std::string> {
        return TcpSettings(d, port, extra);
    };
}

auto Fixed(std::string text) {
    return [text](const RunDir&, int) -> std::optional<std::string> { return text; };
}

std::string Junk(unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(4096, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

const std::string kBadInput = "Chybné údaje: ";

const BadInput kBadInputs[] = {
    // The command line, check by check, in the order they run.
    {"NoParameters", {}, Tcp(), kBadInput + "Špatný počet parametrů!"},
    {"TwoParameters", {"0", "12345"}, Tcp(), kBadInput + "Špatný počet parametrů!"},
    {"TypeFive",
     {"5", "12345", "AB12CD34"},
     Tcp(),
     kBadInput + "Špatný typ transakce.Povolené hodnoty jsou 0,4,10,60."},
    {"TypeFiveAndAmountTooLong",
     {"5", std::string(19, '1'), "AB12CD34"},
     Tcp(),
     kBadInput + "Špatný typ transakce.Povolené hodnoty jsou 0,4,10,60."},
    {"TypeNotANumber",
     {"abc", "12345", "AB12CD34"},
     Tcp(),
     "Vendilox: 'abc' is not a valid integer value."},
    {"TypeBeyond32Bits",
     {"4294967296", "12345", "AB12CD34"},
     Tcp(),
     "Vendilox: '4294967296' is not a valid integer value."},
    {"AmountOf19Bytes",
     {"0", std::string(19, '1'), "AB12CD34"},
     Tcp(),
     kBadInput + "Maximální délka částky je 18 znaků!"},
    {"AmountOf100000Bytes",
     {"0", std::string(100000, '1'), "AB12CD34"},
     Tcp(),
     kBadInput + "Maximální délka částky je 18 znaků!"},
    {"AuthCodeOf7Bytes",
     {"0", "12345", "AB12CD3"},
     Tcp(),
     kBadInput + "Délka autorizačního kódu musí být 8 znaků!"},
    {"AuthCodeOf9Bytes",
     {"60", "100", "AB12CD345"},
     Tcp(),
     kBadInput + "Délka autorizačního kódu musí být 8 znaků!"},
    {"InvoiceOf17Bytes",
     {"0", "12345", "AB12CD34", std::string(17, '9')},
     Tcp(),
     kBadInput + "Číslo faktury musí být dlouhé max. 16 znaků!"},

    // Settings: bad values fall back to their defaults and the run goes on to its link.
    {"MalformedValuesTakeDefaults", kPurchase,
     [](const RunDir& d, int) -> std::optional<std::string> {
         return "[Settings]\r\nConnectionType=TCP\r\nPathToTxt=" + d.Path().string() +
                "/\r\nTimeout=abc\r\nCRC_check=yes\r\nDebug=true\r\n[TCP]\r\nHost=127.0.0.1\r\n"
                "Port=not-a-port\r\n";
     },
     RefusedBox(2050)},
    {"LineOf100KBeforeTheKeys", kPurchase,
     [](const RunDir& d, int port) -> std::optional<std::string> {
         return "[Settings]\r\nJunk=" + std::string(100000, 'x') + "\r\n" +
                TcpSettings(d, port).substr(12);
     },
     "Chyba: Nelze navázat spojení s terminálem. (Host:127.0.0.1, Port:{port})"},
    {"ValueOf100KIsNoNumber", kPurchase,
     [](const RunDir& d, int) -> std::optional<std::string> {
         return TcpSettings(d, 0).substr(0, TcpSettings(d, 0).rfind("Port=")) +
                "Port=" + std::string(100000, '7') + "\r\n";
     },
     RefusedBox(2050)},
    // Without the Settings section the serial link on COM1 is tried, which this machine lacks;
    // the result file goes beside the program.
    {"MissingSettingsSection", kPurchase, Fixed("[TCP]\r\nHost=127.0.0.1\r\nPort=1\r\n"), kNoCom1},
    {"EmptyFile", kPurchase, Fixed(""), kNoCom1},
    {"NoLineEnds", kPurchase, Fixed(std::string(100000, '[')), kNoCom1},

    // The result file cannot be made: nothing after it runs, and no link is started.
    {"ResultDirectoryMissing", kPurchase,
     [](const RunDir& d, int port) -> std::optional<std::string> {
         return "[Settings]\r\nConnectionType=TCP\r\nPathToTxt=" + d.Path().string() +
                "/missing/\r\n[TCP]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(port) + "\r\n";
     },
     "Vendilox: Cannot create file {dir}/missing/vendilox.txt.", false},
    // Root may write anywhere, but not below a regular file.
    {"ResultDirectoryIsAFile", kPurchase,
     [](const RunDir& d, int port) -> std::optional<std::string> {
         WriteFile(d.Path() / "plain", "x");
         return "[Settings]\r\nConnectionType=TCP\r\nPathToTxt=" + d.Path().string() +
                "/plain/\r\n[TCP]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(port) + "\r\n";
     },
     "Vendilox: Cannot create file {dir}/plain/vendilox.txt.", false},
};

class InputRun : public testing::Test {
  protected:
    void TearDown() override {
        if (HasFailure() && program_) {
            dir_.Keep();
            ADD_FAILURE() << "run directory kept: " << dir_.Path() << "\n"
                          << program_->ErrText().substr(0, 6000);
        }
    }

    // Runs the program to its end; false when it did not end by itself within the bound.
    bool RunToEnd(const std::vector<std::string>& params) {
        program_ = dir_.Start(params);
        return Pump({program_.get()}, Clock::now() + kBound, [&] { return program_->Finished(); });
    }

    RunDir dir_;
    std::unique_ptr<Process> program_;
};

class Input : public InputRun, public testing::WithParamInterface<BadInput> {};
class JunkSettings : public InputRun {};

std::string Substitute(std::string text, std::string_view key, const std::string& value) {
    if (const auto at = text.find(key); at != std::string::npos)
        text.replace(at, key.size(), value);
    return text;
}

TEST_P(Input, EndsAtOnceWithItsMessage) {
    const BadInput& b = GetParam();
    const int port = UnusedLoopbackPort();
    const std::optional<std::string> settings = b.settings(dir_, port);
    if (settings)
        WriteFile(dir_.SettingsFile(), *settings);
    ASSERT_TRUE(RunToEnd(b.params)) << "the run did not end after its failure";
    EXPECT_EQ(program_->ExitCode(), 1);
    EXPECT_EQ(SanitizerReport(*program_), "");
    const std::string box = Substitute(Substitute(b.box, "{port}", std::to_string(port)), "{dir}",
                                       dir_.Path().string());
    EXPECT_EQ(Lines(*program_, "box"), std::vector<std::string>{box});
    if (settings) {
        EXPECT_EQ(ReadFile(dir_.SettingsFile()), *settings) << "the settings file was changed";
    }
    if (b.resultFile) {
        ASSERT_TRUE(fs::exists(dir_.ResultFile()));
        EXPECT_EQ(fs::file_size(dir_.ResultFile()), 0u);
    } else {
        EXPECT_FALSE(fs::exists(dir_.ResultFile()));
    }
}

INSTANTIATE_TEST_SUITE_P(, Input, testing::ValuesIn(kBadInputs),
                         [](const testing::TestParamInfo<BadInput>& info) {
                             return info.param.name;
                         });

// Binary junk, zero bytes included, is no settings file: whatever it makes of the link and the
// result directory, the run ends with a failure message and leaves the file as it was.
TEST_F(JunkSettings, BinaryBytes) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RunDir dir;
        const std::string junk = Junk(seed);
        WriteFile(dir.SettingsFile(), junk);
        const auto p = dir.Start(kPurchase);
        ASSERT_TRUE(Pump({p.get()}, Clock::now() + kBound, [&] { return p->Finished(); }));
        EXPECT_EQ(p->ExitCode(), 1);
        EXPECT_EQ(SanitizerReport(*p), "");
        const auto boxes = Lines(*p, "box");
        ASSERT_EQ(boxes.size(), 1u) << p->ErrText();
        EXPECT_TRUE(boxes[0].rfind("Chyba: Nelze otevřít port", 0) == 0 ||
                    boxes[0].rfind("Vendilox: Cannot create file", 0) == 0)
            << boxes[0];
        EXPECT_EQ(ReadFile(dir.SettingsFile()), junk);
    }
}

// A directory where the settings file belongs can be neither read nor written.
TEST_F(JunkSettings, PathIsADirectory) {
    fs::create_directory(dir_.SettingsFile());
    ASSERT_TRUE(RunToEnd(kPurchase)) << "the run did not end";
    EXPECT_EQ(program_->ExitCode(), 1);
    EXPECT_EQ(SanitizerReport(*program_), "");
    EXPECT_EQ(Lines(*program_, "box").size(), 1u) << program_->ErrText();
    EXPECT_TRUE(fs::is_directory(dir_.SettingsFile()));
    std::printf("settings path is a directory: %s\n",
                Lines(*program_, "box").empty() ? "" : Lines(*program_, "box")[0].c_str());
}

}  // namespace
}  // namespace vendilox::reliability
