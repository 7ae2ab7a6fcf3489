// Cost of the Modbus codec per request built, per 125-register answer parsed and per CRC over 255 bytes.
// The wire takes about 146 ms for a 255-byte answer at 19200 baud 8E1; the codec is meant to stay below 1 µs.
#include "link/ModbusMaster.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

std::vector<uint8_t> answerFor125Registers(uint8_t slave, uint8_t function)
{
    std::vector<uint8_t> frame{slave, function, 250};
    for (int i = 0; i < 125; ++i) {
        frame.push_back(static_cast<uint8_t>(i * 7));
        frame.push_back(static_cast<uint8_t>(i * 13 + 1));
    }
    const uint16_t crc = modbusCrc16(frame.data(), static_cast<uint16_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

void BM_BuildReadRequest(benchmark::State& bench)
{
    auto state = std::make_unique<ModbusMasterState>();
    modbusMasterInit(state.get());
    uint16_t start = 0;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(modbusBuildReadRequest(state.get(), 3, 1, start++, 125));
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(bench.iterations());
}
BENCHMARK(BM_BuildReadRequest);

void BM_ParseAnswer125Registers(benchmark::State& bench)
{
    auto state = std::make_unique<ModbusMasterState>();
    modbusMasterInit(state.get());
    modbusBuildReadRequest(state.get(), 3, 1, 3, 125);
    const std::vector<uint8_t> answer = answerFor125Registers(1, 3);
    state->answer = answer.data();
    state->answerLength = static_cast<uint8_t>(answer.size());
    if (modbusParseAnswer(state.get()) != MbOk) {
        bench.SkipWithError("the answer was not accepted");
        return;
    }
    for (auto _ : bench) {
        benchmark::DoNotOptimize(modbusParseAnswer(state.get()));
        benchmark::ClobberMemory();
    }
    bench.SetItemsProcessed(bench.iterations());
    bench.SetBytesProcessed(bench.iterations() * static_cast<int64_t>(answer.size()));
}
BENCHMARK(BM_ParseAnswer125Registers);

void BM_Crc16(benchmark::State& bench)
{
    std::vector<uint8_t> data(static_cast<size_t>(bench.range(0)));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 31 + 7);
    for (auto _ : bench) {
        benchmark::DoNotOptimize(data.data());
        benchmark::DoNotOptimize(modbusCrc16(data.data(), static_cast<uint16_t>(data.size())));
    }
    bench.SetBytesProcessed(bench.iterations() * bench.range(0));
}
BENCHMARK(BM_Crc16)->Arg(8)->Arg(255);

} // namespace

BENCHMARK_MAIN();
