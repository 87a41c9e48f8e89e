#pragma once

// The text format of both files, independent of where the bytes come from:
// lines end in LF, a CR right before that LF belongs to the line end, every LF
// written is stored as CR LF, and long lines are enciphered in fixed segments.

#include "quorvex/cipher.h"
#include "quorvex/file.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

// A line segment never exceeds what one read of the original line buffer could hold.
inline constexpr std::size_t LINE_BUFFER_SIZE = 512;
inline constexpr std::size_t kMaxSegmentLength = LINE_BUFFER_SIZE - 1;

// The lines of `text` as the format reads them, each without its line end: a line ends at
// an LF, a CR right before that LF belongs to the line end, and a last line needs no LF
// (a CR at its very end is then a byte of the line). `line` is called for each, in order.
template <typename Line> void ForEachLine(std::string_view text, Line&& line) {
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view bytes = text.substr(0, lf);
        if (lf != std::string_view::npos && bytes.ends_with('\r'))
            bytes.remove_suffix(1);
        line(bytes);
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    }
}

// The segments the cipher takes a line in: kMaxSegmentLength bytes each, the remainder
// last, each with the shift of its own length. Stops, false, once `segment` returns false.
template <typename Segment> bool ForEachSegment(std::string_view line, Segment&& segment) {
    for (; !line.empty(); line.remove_prefix(std::min(line.size(), kMaxSegmentLength)))
        if (!segment(line.substr(0, kMaxSegmentLength)))
            return false;
    return true;
}

// How many lines with a byte that will not come back a run names, first ones first.
inline constexpr std::size_t kLossyLinesNamed = 10;

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `capacity` bytes into `buffer`; 0 at the end of the input, -1 on an error.
    virtual std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError& error) = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // All `size` bytes, or false on an error.
    virtual bool Write(const char* data, std::size_t size, SystemError& error) = 0;
};

// Collects everything written, for runs held in memory.
class StringSink : public ByteSink {
public:
    bool Write(const char* data, std::size_t size, SystemError& error) override;
    std::string text;
};

enum class StreamStatus { Completed, ReadFailed, WriteFailed };

struct StreamResult {
    StreamStatus status = StreamStatus::Completed;
    SystemError error = 0; // of the failed read or write
    // Bytes of the input that a round trip would not give back (see CountLossyBytes),
    // the first line, counted from 1, that holds one, how many lines hold one, and the
    // first kLossyLinesNamed of them.
    std::uint64_t lossyBytes = 0;
    std::uint64_t firstLossyLine = 0;
    std::uint64_t lossyLines = 0;
    std::vector<std::uint64_t> lossyLineNumbers;

    static StreamResult Unfinished(StreamStatus status, SystemError error) {
        StreamResult failed;
        failed.status = status;
        failed.error = error;
        return failed;
    }
};

enum class VectorPath { Best, Baseline };

struct StreamOptions {
    // Reads take at most this much; writes are exactly this much, but for the last. Each
    // output block is handed to the writing thread whole, and every handing over may wake
    // a thread: fewer, larger blocks cost less.
    std::size_t inputBlock = 256 * 1024;
    std::size_t outputBlock = 512 * 1024;
    VectorPath vectors = VectorPath::Best;
    std::atomic<std::uint64_t>* bytesRead = nullptr; // added to after every read
};

// Reads `source` to its end and writes every line, transformed, to `sink`, stopping at
// the first failed read or write. Memory use does not depend on the input.
StreamResult TranscodeStream(ByteSource& source, ByteSink& sink, CipherMode mode, CipherKey key,
                             const StreamOptions& options = {});

// The same conversion on a string held in memory.
std::string TranscodeText(std::string_view input, CipherMode mode, CipherKey key,
                          const StreamOptions& options = {});

} // namespace quorvex
