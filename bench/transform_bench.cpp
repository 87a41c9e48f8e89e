#include "quorvex/cipher.h"
#include "quorvex/line_stream.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>

namespace {

std::string PrintableLine(std::size_t length, std::mt19937& random) {
    std::string line(length, ' ');
    for (char& c : line)
        c = static_cast<char>(' ' + random() % 95);
    return line;
}

void BM_TransformLine(benchmark::State& state) {
    std::mt19937 random(1);
    const std::string line = PrintableLine(static_cast<std::size_t>(state.range(0)), random);
    std::string out(line.size(), '\0');
    for (auto _ : state) {
        quorvex::TransformLine(line.data(), line.size(), quorvex::kEncrypt, 1, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TransformLine)->Arg(16)->Arg(100)->Arg(511);

class TextSource : public quorvex::ByteSource {
public:
    explicit TextSource(const std::string& text) : m_text(text) {}
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, quorvex::SystemError&) override {
        const std::size_t n = std::min(capacity, m_text.size() - m_at);
        std::copy_n(m_text.data() + m_at, n, buffer);
        m_at += n;
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    const std::string& m_text;
    std::size_t m_at = 0;
};

class NullSink : public quorvex::ByteSink {
public:
    bool Write(const char*, std::size_t, quorvex::SystemError&) override { return true; }
};

enum Shape { CleanLf, CleanCrLf, WithTabs, Long };

// 4 MiB shaped like the files of the whole-run benchmark: lines of 0 to 200 bytes.
std::string Text(Shape shape) {
    std::mt19937 random(shape);
    std::string text;
    while (text.size() < (4u << 20)) {
        std::string line = PrintableLine(shape == Long ? 1000 : random() % 201, random);
        if (shape == WithTabs && !line.empty())
            line[line.size() / 2] = '\t';
        text += line + (shape == CleanCrLf ? "\r\n" : "\n");
    }
    return text;
}

// The whole stream: clean lines take the vector path (AVX2 where there is one, or the
// baseline), tabs and long lines the checked path.
void BM_Stream(benchmark::State& state) {
    const std::string text = Text(static_cast<Shape>(state.range(0)));
    quorvex::StreamOptions options;
    options.vectors = state.range(1) ? quorvex::VectorPath::Best : quorvex::VectorPath::Baseline;
    for (auto _ : state) {
        TextSource source(text);
        NullSink sink;
        benchmark::DoNotOptimize(
            quorvex::TranscodeStream(source, sink, quorvex::kEncrypt, 1, options));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Stream)
    ->ArgNames({"shape", "best"})
    ->ArgsProduct({{CleanLf, CleanCrLf, WithTabs, Long}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

} // namespace
