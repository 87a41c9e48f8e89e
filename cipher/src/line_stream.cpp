#include "quorvex/line_stream.h"

#include "segment.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

namespace quorvex {

namespace {

constexpr std::size_t kInputBlock = 1024 * 1024;
constexpr std::size_t kOutputBlock = 1024 * 1024;
// Room for one segment in which every byte came out as LF, plus the CR LF line end.
constexpr std::size_t kWorstSegment = 2 * kMaxSegmentLength + 2;

class LineWriter {
public:
    LineWriter(ByteSink& sink, CipherMode mode, CipherKey key)
        : m_sink(sink), m_mode(mode),
          m_buffer(std::make_unique_for_overwrite<char[]>(kBufferSize)) {
        for (std::size_t length = 0; length < m_shifts.size(); ++length)
            m_shifts[length] = LineShift(ReduceLineLength(length), key);
    }

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
        if (!Room())
            return false;
        m_buffer[m_used++] = '\r';
        m_buffer[m_used++] = '\n';
        ++m_lines;
        return true;
    }

    // How the run ended, with what the writer saw of the input. Reads errno first.
    StreamResult Result(StreamStatus status) const {
        const int error = status == StreamStatus::Completed ? 0 : errno;
        return {status, error, m_lossyBytes, m_firstLossyLine};
    }

    bool Flush() {
        if (m_used == 0)
            return true;
        const bool ok = m_sink.Write(m_buffer.get(), m_used);
        m_used = 0;
        return ok;
    }

private:
    bool Room() { return m_used + kWorstSegment <= kBufferSize || Flush(); }

    bool Segment(const char* data, std::size_t length) {
        if (!Room())
            return false;
        char* out = m_buffer.get() + m_used;
        const SegmentFacts facts =
            TransformSegmentByShift(data, length, m_mode, m_shifts[length], out);
        if (facts.lossyBytes > 0) {
            if (m_lossyBytes == 0)
                m_firstLossyLine = m_lines + 1;
            m_lossyBytes += facts.lossyBytes;
        }
        m_used += facts.wroteLineFeed ? StoreLineFeedsAsCrLf(out, length) : length;
        return true;
    }

    // A byte that the cipher turned into LF is still an LF on disk, and so is written
    // as CR LF.
    static std::size_t StoreLineFeedsAsCrLf(char* out, std::size_t length) {
        const std::size_t feeds = static_cast<std::size_t>(std::count(out, out + length, '\n'));
        std::size_t dst = length + feeds;
        for (std::size_t src = length; src-- > 0;) {
            out[--dst] = out[src];
            if (out[src] == '\n')
                out[--dst] = '\r';
        }
        return length + feeds;
    }

    ByteSink& m_sink;
    CipherMode m_mode;
    std::array<int, kMaxSegmentLength + 1> m_shifts; // by segment length
    std::uint64_t m_lines = 0;
    std::uint64_t m_lossyBytes = 0;
    std::uint64_t m_firstLossyLine = 0;
    static constexpr std::size_t kBufferSize = kOutputBlock + kWorstSegment;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_used = 0;
};

ssize_t ReadRetrying(ByteSource& source, char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t n = source.Read(buffer, capacity);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

class StringSource : public ByteSource {
public:
    explicit StringSource(std::string_view text) : m_text(text) {}
    ssize_t Read(char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min(capacity, m_text.size());
        std::copy_n(m_text.data(), n, buffer);
        m_text.remove_prefix(n);
        return static_cast<ssize_t>(n);
    }

private:
    std::string_view m_text;
};

} // namespace

StreamResult TranscodeStream(ByteSource& source, ByteSink& sink, CipherMode mode, CipherKey key) {
    LineWriter writer(sink, mode, key);
    // Left uninitialised: only bytes that were read are ever looked at.
    const auto buffer = std::make_unique_for_overwrite<char[]>(kInputBlock);
    std::size_t held = 0;     // unread bytes of the current line at the front of `buffer`
    bool lineStarted = false; // segments of the current line are already written

    for (;;) {
        const ssize_t got = ReadRetrying(source, buffer.get() + held, kInputBlock - held);
        if (got < 0)
            return writer.Result(StreamStatus::ReadFailed);
        const char* begin = buffer.get();
        const char* end = begin + held + static_cast<std::size_t>(got);

        if (got == 0) {
            // The last line has no LF: it is still a line, and gets its line end.
            if ((end > begin || lineStarted) &&
                !(writer.Segments(begin, static_cast<std::size_t>(end - begin)) &&
                  writer.LineEnd()))
                return writer.Result(StreamStatus::WriteFailed);
            if (!writer.Flush())
                return writer.Result(StreamStatus::WriteFailed);
            return writer.Result(StreamStatus::Completed);
        }

        while (const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', end - begin))) {
            std::size_t length = static_cast<std::size_t>(lf - begin);
            if (length > 0 && lf[-1] == '\r')
                --length;
            if (!(writer.Segments(begin, length) && writer.LineEnd()))
                return writer.Result(StreamStatus::WriteFailed);
            begin = lf + 1;
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
        std::memmove(buffer.get(), begin, held);
    }
}

bool StringSink::Write(const char* data, std::size_t size) {
    text.append(data, size);
    return true;
}

std::string TranscodeText(std::string_view input, CipherMode mode, CipherKey key) {
    StringSource source(input);
    StringSink sink;
    TranscodeStream(source, sink, mode, key);
    return std::move(sink.text);
}

} // namespace quorvex
