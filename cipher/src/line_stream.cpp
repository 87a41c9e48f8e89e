#include "quorvex/line_stream.h"

#include "clean_lines.h"
#include "segment.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace quorvex {

namespace {

// Room for one segment in which every byte came out as LF, plus the CR LF line end.
constexpr std::size_t kWorstSegment = 2 * kMaxSegmentLength + 2;
constexpr std::size_t kOutputSlack = std::max(kWorstSegment, kCleanOverwrite);

// Collects the output and writes it in blocks of exactly the same size; what runs over
// a block waits at the front of the buffer for the next one.
class LineWriter final : public LineOutput {
public:
    LineWriter(ByteSink& sink, CipherMode mode, CipherKey key, std::size_t block)
        : m_sink(sink), m_mode(mode), m_block(std::max<std::size_t>(block, 1)),
          m_buffer(std::make_unique_for_overwrite<char[]>(m_block + kOutputSlack)) {
        for (std::size_t length = 0; length < m_shifts.size(); ++length)
            m_shifts[length] = LineShift(ReduceLineLength(length), key);
        for (std::size_t length = 0; length < kMaxCleanLine; ++length)
            m_cleanShifts[length] = static_cast<unsigned char>(m_shifts[length]);
        out = m_buffer.get();
        limit = out + m_block;
    }

    const unsigned char* CleanShifts() const { return m_cleanShifts.data(); }

    // Cuts a line (or the front of one whose end is not read yet) into segments of
    // kMaxSegmentLength bytes, the remainder last.
    bool Segments(const char* data, std::size_t length) {
        while (length > 0) {
            const std::size_t n = std::min(length, kMaxSegmentLength);
            if (!Segment(data, n))
                return false;
            data += n;
            length -= n;
        }
        return true;
    }

    bool LineEnd() {
        if (out >= limit && !Drain())
            return false;
        *out++ = '\r';
        *out++ = '\n';
        ++lines;
        return true;
    }

    bool Checked(const char* line, std::size_t length) override {
        return Segments(line, length) && LineEnd();
    }

    bool Drain() override {
        char* const front = m_buffer.get();
        while (out - front >= static_cast<std::ptrdiff_t>(m_block)) {
            if (!m_sink.Write(front, m_block, m_error))
                return false;
            const std::size_t over = static_cast<std::size_t>(out - front) - m_block;
            std::memmove(front, front + m_block, over);
            out = front + over;
        }
        return true;
    }

    bool Finish() {
        char* const front = m_buffer.get();
        if (!Drain() || (out > front && !m_sink.Write(front, out - front, m_error)))
            return false;
        out = front;
        return true;
    }

    StreamResult Result(StreamStatus status, SystemError readError = 0) const {
        const SystemError error = status == StreamStatus::ReadFailed    ? readError
                                  : status == StreamStatus::WriteFailed ? m_error
                                                                        : 0;
        return {status, error, m_lossyBytes, m_firstLossyLine};
    }

private:
    bool Segment(const char* data, std::size_t length) {
        if (out >= limit && !Drain())
            return false;
        const SegmentFacts facts =
            TransformSegmentByShift(data, length, m_mode, m_shifts[length], out);
        if (facts.lossyBytes > 0) {
            if (m_lossyBytes == 0)
                m_firstLossyLine = lines + 1;
            m_lossyBytes += facts.lossyBytes;
        }
        out += facts.wroteLineFeed ? StoreLineFeedsAsCrLf(out, length) : length;
        return true;
    }

    // A byte that the cipher turned into LF is still an LF on disk, and so is written
    // as CR LF.
    static std::size_t StoreLineFeedsAsCrLf(char* data, std::size_t length) {
        const std::size_t feeds = static_cast<std::size_t>(std::count(data, data + length, '\n'));
        std::size_t dst = length + feeds;
        for (std::size_t src = length; src-- > 0;) {
            data[--dst] = data[src];
            if (data[src] == '\n')
                data[--dst] = '\r';
        }
        return length + feeds;
    }

    ByteSink& m_sink;
    CipherMode m_mode;
    std::size_t m_block;
    std::array<int, kMaxSegmentLength + 1> m_shifts; // by segment length
    std::array<unsigned char, kMaxCleanLine> m_cleanShifts;
    std::uint64_t m_lossyBytes = 0;
    std::uint64_t m_firstLossyLine = 0;
    SystemError m_error = 0;
    std::unique_ptr<char[]> m_buffer;
};

class StringSource : public ByteSource {
public:
    explicit StringSource(std::string_view text) : m_text(text) {}
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError&) override {
        const std::size_t n = std::min(capacity, m_text.size());
        std::copy_n(m_text.data(), n, buffer);
        m_text.remove_prefix(n);
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    std::string_view m_text;
};

const char* LastLineFeed(const char* begin, const char* end) {
#ifdef __GLIBC__
    return static_cast<const char*>(::memrchr(begin, '\n', static_cast<std::size_t>(end - begin)));
#else
    while (end > begin)
        if (*--end == '\n')
            return end;
    return nullptr;
#endif
}

} // namespace

StreamResult TranscodeStream(ByteSource& source, ByteSink& sink, CipherMode mode, CipherKey key,
                             const StreamOptions& options) {
    LineWriter writer(sink, mode, key, options.outputBlock);
    const CleanLinesFn cleanLines =
        options.vectors == VectorPath::Best ? BestCleanLines() : baseline::CleanLines;
    // A line that does not fit is passed on in segments, so a block needs room for one.
    const std::size_t capacity = std::max(options.inputBlock, kMaxSegmentLength + 1);
    // The clean path may look around the bytes read; what it sees there is never used.
    const auto storage =
        std::make_unique_for_overwrite<char[]>(kCleanUnderread + capacity + kCleanOverread);
    std::fill_n(storage.get(), kCleanUnderread, '\0');
    std::fill_n(storage.get() + kCleanUnderread + capacity, kCleanOverread, '\0');
    char* const buffer = storage.get() + kCleanUnderread;
    std::size_t held = 0;     // unread bytes of the current line at the front of `buffer`
    bool lineStarted = false; // segments of the current line are already written

    for (;;) {
        SystemError error = 0;
        const std::ptrdiff_t got = source.Read(buffer + held, capacity - held, error);
        if (got < 0)
            return writer.Result(StreamStatus::ReadFailed, error);
        if (options.bytesRead)
            *options.bytesRead += static_cast<std::uint64_t>(got);
        const char* begin = buffer;
        const char* end = begin + held + static_cast<std::size_t>(got);

        if (got == 0) {
            // The last line has no LF: it is still a line, and gets its line end.
            if ((end > begin || lineStarted) &&
                !writer.Checked(begin, static_cast<std::size_t>(end - begin)))
                return writer.Result(StreamStatus::WriteFailed);
            return writer.Result(writer.Finish() ? StreamStatus::Completed
                                                 : StreamStatus::WriteFailed);
        }

        if (const char* lineFeed = LastLineFeed(begin, end)) {
            if (!cleanLines(begin, lineFeed + 1, mode, writer.CleanShifts(), writer))
                return writer.Result(StreamStatus::WriteFailed);
            begin = lineFeed + 1;
            lineStarted = false;
        }

        // A line still open at the end of the block: whole segments can go now, except a
        // final CR that may turn out to be part of a CR LF line end.
        std::size_t known = static_cast<std::size_t>(end - begin);
        if (known > 0 && end[-1] == '\r')
            --known;
        const std::size_t ready = known - known % kMaxSegmentLength;
        if (ready > 0) {
            if (!writer.Segments(begin, ready))
                return writer.Result(StreamStatus::WriteFailed);
            begin += ready;
            lineStarted = true;
        }
        held = static_cast<std::size_t>(end - begin);
        std::memmove(buffer, begin, held);
    }
}

bool StringSink::Write(const char* data, std::size_t size, SystemError&) {
    text.append(data, size);
    return true;
}

std::string TranscodeText(std::string_view input, CipherMode mode, CipherKey key,
                          const StreamOptions& options) {
    StringSource source(input);
    StringSink sink;
    TranscodeStream(source, sink, mode, key, options);
    return std::move(sink.text);
}

} // namespace quorvex
