// Costs of the protocol's work on the worked frames: the checksum, composing a request and
// parsing a final response.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "protocol/frame.hpp"
#include "protocol/host.hpp"
#include "protocol/request.hpp"
#include "protocol/response.hpp"

namespace {

using namespace vendilox;

class NullHost : public IProtocolHost {
  public:
    void LogLine(std::string_view line) override { benchmark::DoNotOptimize(line.data()); }
    void ShowInputError(std::string_view, std::string_view) override {}
};

const TDateTime kMoment{2018, 8, 16, 14, 30, 5};

const std::string kClosingBody = "\x1CT60\x1CL0010010000+0000000000000000000000+000000000000000000";

const std::string kWorkedResponse =
    "\x02"
    "B00187654321180816143005000100471A2B"
    "\x1CR000\x1CT00\x1C"
    "B000000012345\x1CP4111111111111111\x1C"
    "F12345678\x1CJVISA\x1CL0000123\x03";

void BM_Crc16ClosingBody(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc16(kClosingBody));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kClosingBody.size()));
}
BENCHMARK(BM_Crc16ClosingBody);

void BM_Crc16Span(benchmark::State& state) {
    const std::string data(static_cast<std::size_t>(state.range(0)), 'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc16(data));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc16Span)->Arg(64)->Arg(4096);

void BM_BuildRequest(benchmark::State& state) {
    const auto type = static_cast<std::int32_t>(state.range(0));
    NullHost host;
    std::string outgoing;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            BuildRequest(type, "12345678", "100", "        ", "2018001", kMoment, host, outgoing));
        benchmark::DoNotOptimize(outgoing.data());
    }
}
BENCHMARK(BM_BuildRequest)->Arg(0)->Arg(10)->Arg(60);

void BM_ParseResponse(benchmark::State& state) {
    TTransactionResult result;
    TResponseFrames frames;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ParseResponse(kWorkedResponse, "100", result, frames));
        benchmark::DoNotOptimize(result.AmountText.data());
    }
}
BENCHMARK(BM_ParseResponse);

void BM_CheckResponseCrc(benchmark::State& state) {
    TTransactionResult result;
    TResponseFrames frames;
    ParseResponse(kWorkedResponse, "100", result, frames);
    NullHost host;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CheckResponseCrc(frames.ResponseCrc, frames.ResponseBody, host));
    }
}
BENCHMARK(BM_CheckResponseCrc);

}  // namespace
