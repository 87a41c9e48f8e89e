#include "clean_lines.h"
#include "quorvex/cipher.h"
#include "quorvex/line_stream.h"
#include "segment.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

namespace {

using namespace quorvex;

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
        TransformLine(line.data(), line.size(), kEncrypt, CipherKey::ForGame(1), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TransformLine)->Arg(16)->Arg(100)->Arg(511);

class TextSource : public ByteSource {
public:
    explicit TextSource(const std::string& text) : m_text(text) {}
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError&) override {
        const std::size_t n = std::min(capacity, m_text.size() - m_at);
        std::copy_n(m_text.data() + m_at, n, buffer);
        m_at += n;
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    const std::string& m_text;
    std::size_t m_at = 0;
};

class NullSink : public ByteSink {
public:
    bool Write(const char*, std::size_t, SystemError&) override { return true; }
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

// `text` through the whole stream: clean lines take the vector path (AVX2 where there is
// one, or the baseline), tabs and long lines the checked path.
void Stream(benchmark::State& state, const std::string& text, bool best) {
    StreamOptions options;
    options.vectors = best ? VectorPath::Best : VectorPath::Baseline;
    for (auto _ : state) {
        TextSource source(text);
        NullSink sink;
        benchmark::DoNotOptimize(
            TranscodeStream(source, sink, kEncrypt, CipherKey::ForGame(1), options));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_Stream(benchmark::State& state) {
    Stream(state, Text(static_cast<Shape>(state.range(0))), state.range(1) != 0);
}
BENCHMARK(BM_Stream)
    ->ArgNames({"shape", "best"})
    ->ArgsProduct({{CleanLf, CleanCrLf, WithTabs, Long}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

// The line-length sweep: lines of one length, printable, with LF or CR LF after each.
constexpr std::int64_t kSweepLengths[] = {8, 16, 32, 64, 128, 512};
constexpr std::size_t kInputBlock = StreamOptions{}.inputBlock;

std::string SweepText(std::size_t length, bool crlf, std::size_t size) {
    std::mt19937 random(static_cast<unsigned>(length));
    std::string text;
    while (text.size() < size)
        text += PrintableLine(length, random) + (crlf ? "\r\n" : "\n");
    return text;
}

// The vector path alone, as the run hands it one input block that is already in memory:
// every line rotated and written with its CR LF into an output block, which is then
// dropped; a line too long for it is cut into segments and transformed as the run does.
class DroppedOutput final : public LineOutput {
public:
    explicit DroppedOutput(const unsigned char* shifts)
        : m_shifts(shifts), m_buffer(std::make_unique<char[]>(kBlock + kSlack)) {}
    OutputCursor Start() { return {m_buffer.get(), m_buffer.get() + kBlock, 0}; }
    bool Drain(OutputCursor& at) override {
        at.out = m_buffer.get();
        return true;
    }
    bool WriteChecked(const char* line, std::size_t length, OutputCursor& at) override {
        for (std::size_t done = 0; done < length; done += kMaxSegmentLength) {
            const std::size_t n = std::min(length - done, kMaxSegmentLength);
            if (TransformSegmentByShift(line + done, n, kEncrypt, m_shifts[n], at.out)
                    .wroteLineFeed)
                std::abort(); // printable text never becomes an LF
            at.out += n;
            if (at.out >= at.limit)
                Drain(at);
        }
        *at.out++ = '\r';
        *at.out++ = '\n';
        ++at.lines;
        return at.out < at.limit || Drain(at);
    }

private:
    static constexpr std::size_t kBlock = StreamOptions{}.outputBlock;
    static constexpr std::size_t kSlack = 64 * 1024; // more than the vector path writes past it
    const unsigned char* m_shifts;
    std::unique_ptr<char[]> m_buffer;
};

void BM_Lines(benchmark::State& state) {
    const auto length = static_cast<std::size_t>(state.range(0));
    std::string text = SweepText(length, state.range(1) != 0, kInputBlock);
    text.resize(text.rfind('\n') + 1);
    // Room around the block for what the vector path may look at.
    std::string block(LINE_BUFFER_SIZE, '\0');
    block += text + std::string(kCleanOverread, '\0');
    const char* begin = block.data() + LINE_BUFFER_SIZE;
    unsigned char shifts[LINE_BUFFER_SIZE];
    for (std::size_t n = 0; n < LINE_BUFFER_SIZE; ++n)
        shifts[n] = static_cast<unsigned char>(LineShift(ReduceLineLength(n), 1));
    const CleanLinesFn lines = state.range(2) ? BestCleanLines() : baseline::CleanLines;
    DroppedOutput output(shifts);
    OutputCursor at = output.Start();
    for (auto _ : state) {
        if (!lines(begin, begin + text.size(), kEncrypt, shifts, output, at))
            std::abort();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Lines)
    ->ArgNames({"length", "crlf", "best"})
    ->ArgsProduct({{std::begin(kSweepLengths), std::end(kSweepLengths)}, {0, 1}, {1, 0}});

// The same lines through the whole stream, each input block copied in as a read would.
void BM_StreamSweep(benchmark::State& state) {
    const auto length = static_cast<std::size_t>(state.range(0));
    Stream(state, SweepText(length, state.range(1) != 0, 4u << 20), state.range(2) != 0);
}
BENCHMARK(BM_StreamSweep)
    ->ArgNames({"length", "crlf", "best"})
    ->ArgsProduct({{std::begin(kSweepLengths), std::end(kSweepLengths)}, {0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

} // namespace
