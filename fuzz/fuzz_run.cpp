// The whole run on arbitrary bytes against the format stated in a few lines: lines
// end at LF, one CR before it belongs to the line end, a last line without LF still
// counts, lines are cut into 511-byte segments, and every LF written is CR LF. Then the
// same run with small read and write blocks (written on a second thread when they are
// large enough, and each write but the last a whole block), reads that come short as
// from a pipe, and the baseline vector path: lines, CR LF pairs and segments fall across
// every edge. The baseline vector path also takes the whole text in one block.

#include "quorvex/line_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace quorvex;

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

std::string Model(std::string_view text, CipherMode mode, CipherKey key) {
    std::string out;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (lf != std::string_view::npos && line.ends_with('\r'))
            line.remove_suffix(1);
        for (std::size_t at = 0; at < line.size(); at += kMaxSegmentLength)
            for (char c : TransformLine(line.substr(at, kMaxSegmentLength), mode, key))
                out += c == '\n' ? std::string("\r\n") : std::string(1, c);
        out += "\r\n";
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    }
    return out;
}

// Hands the text out in reads of sizes taken in turn from `sizes`, as a pipe might.
class ShortReads : public ByteSource {
public:
    ShortReads(std::string_view text, std::uint8_t size) : m_text(text), m_size(size) {}
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError&) override {
        const std::size_t n =
            std::min({capacity, m_text.size(), std::size_t{1} + m_size++ * 7u % 700});
        std::copy_n(m_text.data(), n, buffer);
        m_text.remove_prefix(n);
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    std::string_view m_text;
    std::uint8_t m_size;
};

// Every write but the last is one whole block.
class BlockSink : public StringSink {
public:
    explicit BlockSink(std::size_t block) : m_block(block) {}
    bool Write(const char* data, std::size_t size, SystemError& error) override {
        Require(size > 0 && size <= m_block && text.size() % m_block == 0);
        return StringSink::Write(data, size, error);
    }

private:
    std::size_t m_block;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const CipherMode mode = data[0] & 1;
    const CipherKey key = CipherKey::ForGame((data[0] >> 1) % 4);
    // Up to four copies, so that the vector path carries lines and what it learnt of
    // their lengths across the few kilobytes it classifies at a time.
    std::string input;
    for (int copy = 0; copy <= (data[0] >> 3) % 4; ++copy)
        input.append(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::string output = TranscodeText(input, mode, key);
    Require(output == Model(input, mode, key));
    StreamOptions baseline; // whole blocks, so that its runs of lines that end alike are long
    baseline.vectors = VectorPath::Baseline;
    Require(TranscodeText(input, mode, key, baseline) == output);

    StreamOptions small;
    small.inputBlock = 512 + data[1] * 13u;
    small.outputBlock = 1 + data[2] * 11u;
    small.vectors = data[0] & 0x80 ? VectorPath::Baseline : VectorPath::Best;
    ShortReads source(input, data[1]);
    BlockSink sink(small.outputBlock);
    Require(TranscodeStream(source, sink, mode, key, small).status == StreamStatus::Completed);
    Require(sink.text == output);
    return 0;
}
