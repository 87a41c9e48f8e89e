#include "quorvex/cipher.h"
#include "quorvex/line_stream.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

std::string PrintableLine(std::size_t length) {
    std::mt19937 random(static_cast<unsigned>(length));
    std::string line(length, ' ');
    for (char& c : line)
        c = static_cast<char>(' ' + random() % 95);
    return line;
}

void BM_TransformLine(benchmark::State& state) {
    const std::string line = PrintableLine(static_cast<std::size_t>(state.range(0)));
    std::string out(line.size(), '\0');
    for (auto _ : state) {
        quorvex::TransformLine(line.data(), line.size(), quorvex::kEncrypt, 1, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TransformLine)->Arg(0)->Arg(16)->Arg(100)->Arg(200)->Arg(511);

// Lines of 0 to 200 bytes, the shape of the file the whole-run benchmark uses.
void BM_TranscodeText(benchmark::State& state) {
    std::mt19937 random(1);
    std::string text;
    while (text.size() < (4u << 20))
        text += PrintableLine(random() % 201) + "\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(quorvex::TranscodeText(text, quorvex::kEncrypt, 1));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_TranscodeText)->Unit(benchmark::kMillisecond);

} // namespace
