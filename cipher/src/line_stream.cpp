// How one line travels through a run.
//
// TranscodeStream reads the input in blocks into one buffer. Every whole line of a block
// (up to its last LF) goes to the clean-line path (clean_lines_impl.h): it classifies a
// few kilobytes at a time, finding the LFs and any byte outside the printable characters
// and tab, and then takes the lines one by one. A line of printable bytes and tabs shorter
// than a segment is rotated by the shift of its length, a whole vector at a time, straight
// into the output buffer, and its CR LF follows it there. Any other line comes back here,
// to LineWriter::WriteChecked: it is cut into segments of at most 511 bytes, each transformed
// with the shift of its own length; its bytes outside the alphabet are counted, and an LF
// that the cipher made is stored as CR LF. What follows the last LF of a block waits at
// the front of the input buffer for the next read, except whole segments of a very long
// line, which are written at once. Where the output stands (the next byte's place, where
// the buffer must be drained, the lines written) is an OutputCursor that the writer owns
// and hands along to the clean path and back.
//
// Once the output buffer holds a whole block, the block is handed to OutputBlocks, whose
// own thread writes it to the sink while the next input block is read and transformed;
// every write but the last is exactly one output block long. When that thread runs, the
// lines are written to a small buffer first and copied on to the block from there, past
// the caches, so that the two processors do not pass every cache line between them.

#include "quorvex/line_stream.h"

#include "clean_lines.h"
#include "segment.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#ifdef __linux__
#include <sched.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvex {

namespace {

// Room for one segment in which every byte came out as LF, plus the CR LF line end.
constexpr std::size_t kWorstSegment = 2 * kMaxSegmentLength + 2;
constexpr std::size_t kOutputSlack = std::max(kWorstSegment, kCleanOverwrite);
// Where a thread writes the blocks, lines go through a buffer of this size first, and a
// block buffer has this much more room past its block for one copy from it.
constexpr std::size_t kStaged = 16 * 1024;

// Processors this process may run on, where the system can tell (a process may be bound
// to fewer than the machine has), else all of them; 0 if unknown.
unsigned UsableProcessors() {
#ifdef __linux__
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
#endif
    return std::thread::hardware_concurrency();
}

// Copies output that the writing thread reads next. Where the processor can, whole cache
// lines go straight to memory rather than through this processor's caches: the writing
// thread then reads them from memory, instead of fetching every line from a cache that
// may be far from its own, and this thread does not fetch lines that it only overwrites.
// Unless `all`, the bytes of a cache line that would be left partly filled are not
// copied: the caller copies them later with the bytes that follow. Returns how many bytes
// it copied.
std::size_t CopyOut(char* to, const char* from, std::size_t size, bool all) {
#if defined(__SSE2__)
    constexpr std::size_t kLine = 64;
    const std::size_t head = std::min(size, -reinterpret_cast<std::uintptr_t>(to) % kLine);
    std::memcpy(to, from, head);
    std::size_t at = head;
    for (; at + kLine <= size; at += kLine)
        for (std::size_t part = 0; part < kLine; part += 16)
            _mm_stream_si128(reinterpret_cast<__m128i*>(to + at + part),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at + part)));
    // The other thread must see these stores before it learns that the buffer is full.
    _mm_sfence();
    if (!all)
        return at;
    std::memcpy(to + at, from + at, size - at);
#else
    std::memcpy(to, from, size);
#endif
    return size;
}

// The output buffers, and the writing of whole blocks from them to the sink. The first
// run of blocks starts a thread that writes while the caller goes on filling the next
// buffer; output shorter than one block never starts it, and where it cannot be started,
// or on a single processor, the caller writes itself. After a failed write nothing more is
// written.
class OutputBlocks {
public:
    OutputBlocks(ByteSink& sink, std::size_t block)
        : m_sink(sink), m_block(block),
          // On a single processor the thread could only take turns with its caller.
          m_unthreaded(block < kThreadedBlock || UsableProcessors() == 1),
          m_capacity(block + kOutputSlack + (m_unthreaded ? 0 : kStaged + kOutputSlack)) {
        m_buffers[0] = std::make_unique_for_overwrite<char[]>(m_capacity);
    }

    ~OutputBlocks() { Settle(); }

    OutputBlocks(const OutputBlocks&) = delete;
    OutputBlocks& operator=(const OutputBlocks&) = delete;

    // The buffer being filled: one block and kOutputSlack bytes, and kStaged and
    // kOutputSlack more where the blocks go to another thread.
    char* Buffer() const { return m_buffers[m_filling].get(); }

    // Whether whole blocks go to the writing thread, which reads them on another processor.
    bool Threaded() const { return !m_unthreaded; }

    // Writes the first `size` bytes of the buffer (a whole number of blocks) and carries
    // the `keep` bytes after them to the front of the buffer to fill next. False once a
    // write has failed.
    bool Pass(std::size_t size, std::size_t keep) {
        if (!m_thread.joinable() && !m_unthreaded)
            Start();
        if (m_unthreaded) {
            char* const buffer = Buffer();
            if (m_failed || !WriteRun(buffer, size, m_error)) {
                m_failed = true;
                return false;
            }
            std::memmove(buffer, buffer + size, keep);
            return true;
        }
        std::unique_lock lock(m_mutex);
        if (m_failed)
            return false;
        const char* const full = Buffer();
        m_busy[m_filling] = true;
        m_runs.push_back({m_filling, size});
        m_changed.notify_all();
        std::size_t next = 0;
        m_changed.wait(lock, [&] {
            for (next = 0; next < kBuffers; ++next)
                if (!m_busy[next])
                    return true;
            return false;
        });
        lock.unlock();
        if (!m_buffers[next])
            m_buffers[next] = std::make_unique_for_overwrite<char[]>(m_capacity);
        CopyOut(m_buffers[next].get(), full + size, keep, true);
        m_filling = next;
        return true;
    }

    // Writes the first `size` bytes of the buffer and waits until everything is written.
    bool Finish(std::size_t size) {
        if (size > 0 && m_thread.joinable()) {
            std::lock_guard lock(m_mutex);
            m_busy[m_filling] = true;
            m_runs.push_back({m_filling, size});
            m_changed.notify_all();
        } else if (size > 0 && !m_failed && !WriteRun(Buffer(), size, m_error)) {
            m_failed = true;
        }
        return Settle();
    }

    // Waits until every run handed over is written, or dropped after a failure; false if
    // a write failed.
    bool Settle() {
        if (m_thread.joinable()) {
            {
                std::lock_guard lock(m_mutex);
                m_closing = true;
                m_changed.notify_all();
            }
            m_thread.join();
        }
        return !m_failed;
    }

    SystemError Error() const { return m_error; }

private:
    // One buffer filling while the other is written. A third let the caller run ahead of
    // the writes, but it held more memory and measured no faster.
    static constexpr std::size_t kBuffers = 2;
    // Smaller blocks are written on the caller's thread: handing each over would cost
    // more than writing it.
    static constexpr std::size_t kThreadedBlock = 512;

    struct Run {
        std::size_t buffer;
        std::size_t size;
    };

    void Start() {
        try {
            m_thread = std::thread([this] { WriteRuns(); });
        } catch (const std::system_error&) {
            m_unthreaded = true;
        }
    }

    void WriteRuns() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return !m_runs.empty() || m_closing; });
            if (m_runs.empty())
                return;
            const Run run = m_runs.front();
            const bool skip = m_failed;
            lock.unlock();
            SystemError error = 0;
            const bool ok = skip || WriteRun(m_buffers[run.buffer].get(), run.size, error);
            lock.lock();
            m_runs.pop_front();
            m_busy[run.buffer] = false;
            if (!ok) {
                m_failed = true;
                m_error = error;
            }
            m_changed.notify_all();
        }
    }

    bool WriteRun(const char* data, std::size_t size, SystemError& error) {
        for (std::size_t at = 0; at < size; at += m_block)
            if (!m_sink.Write(data + at, std::min(m_block, size - at), error))
                return false;
        return true;
    }

    ByteSink& m_sink;
    std::size_t m_block;
    bool m_unthreaded; // the caller writes: small blocks, one processor, or no thread
    std::size_t m_capacity;
    std::array<std::unique_ptr<char[]>, kBuffers> m_buffers;
    std::size_t m_filling = 0;
    std::thread m_thread;

    // Shared with the thread, under m_mutex once it runs.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Run> m_runs;
    std::array<bool, kBuffers> m_busy{}; // handed over and not yet written
    bool m_closing = false;
    bool m_failed = false;
    SystemError m_error = 0;
};

// Collects the output in blocks of exactly the same size; what runs over a block goes to
// the front of the next buffer. Where the blocks go to another thread, lines are written
// to a small buffer first, which stays in this processor's cache, and copied on from there.
class LineWriter final : public LineOutput {
public:
    LineWriter(ByteSink& sink, CipherMode mode, CipherKey key, std::size_t block)
        : m_mode(mode), m_block(std::max<std::size_t>(block, 1)), m_blocks(sink, m_block) {
        for (std::size_t length = 0; length < m_shifts.size(); ++length)
            m_shifts[length] = LineShift(ReduceLineLength(length), key);
        for (std::size_t length = 0; length < kMaxCleanLine; ++length)
            m_cleanShifts[length] = static_cast<unsigned char>(m_shifts[length]);
        if (m_blocks.Threaded())
            m_staged = std::make_unique_for_overwrite<char[]>(kStaged + kOutputSlack);
        m_cursor.out = m_staged ? m_staged.get() : m_blocks.Buffer();
        m_cursor.limit = m_cursor.out + (m_staged ? kStaged : m_block);
    }

    const unsigned char* CleanShifts() const { return m_cleanShifts.data(); }
    // Where the output stands, for every call that writes.
    OutputCursor& Cursor() { return m_cursor; }

    // A line, or the front of one whose end is not read yet, segment by segment.
    bool Segments(const char* data, std::size_t length, OutputCursor& at) {
        return ForEachSegment({data, length},
                              [&](std::string_view part) { return Segment(part, at); });
    }

    bool WriteChecked(const char* line, std::size_t length, OutputCursor& at) override {
        return Segments(line, length, at) && LineEnd(at);
    }

    bool Drain(OutputCursor& at) override {
        Unstage(at, false);
        return PassWholeBlocks(at);
    }

    bool Finish(OutputCursor& at) {
        Unstage(at, true);
        return PassWholeBlocks(at) && m_blocks.Finish(m_filled);
    }

    // A failed read is reported as such unless a write of what came before it failed.
    // Writes trail the transform, which may have gone on for a block after a failed one,
    // so a failed run counts no lossy bytes.
    StreamResult Result(StreamStatus status, SystemError readError = 0) {
        if (status != StreamStatus::WriteFailed && !m_blocks.Settle())
            status = StreamStatus::WriteFailed;
        if (status != StreamStatus::Completed)
            return StreamResult::Unfinished(
                status, status == StreamStatus::ReadFailed ? readError : m_blocks.Error());
        StreamResult result;
        result.lossyBytes = m_lossyBytes;
        result.firstLossyLine = m_lossyLineNumbers.empty() ? 0 : m_lossyLineNumbers[0];
        result.lossyLines = m_lossyLines;
        result.lossyLineNumbers = m_lossyLineNumbers;
        return result;
    }

private:
    // Moves what the small buffer holds to the block buffer (unless `all`, the bytes of a
    // last cache line it would only partly fill stay behind), or, with no small buffer,
    // takes note of how far the block buffer is filled.
    void Unstage(OutputCursor& at, bool all) {
        if (!m_staged) {
            m_filled = static_cast<std::size_t>(at.out - m_blocks.Buffer());
            return;
        }
        const auto staged = static_cast<std::size_t>(at.out - m_staged.get());
        const std::size_t copied =
            CopyOut(m_blocks.Buffer() + m_filled, m_staged.get(), staged, all);
        std::memmove(m_staged.get(), m_staged.get() + copied, staged - copied);
        at.out = m_staged.get() + (staged - copied);
        m_filled += copied;
    }

    bool PassWholeBlocks(OutputCursor& at) {
        const std::size_t full = m_filled - m_filled % m_block;
        if (full == 0)
            return true;
        if (!m_blocks.Pass(full, m_filled - full))
            return false;
        m_filled -= full;
        if (!m_staged) {
            at.out = m_blocks.Buffer() + m_filled;
            at.limit = m_blocks.Buffer() + m_block;
        }
        return true;
    }

    bool Segment(std::string_view segment, OutputCursor& at) {
        if (at.out >= at.limit && !Drain(at))
            return false;
        const std::size_t length = segment.size();
        const SegmentFacts facts =
            TransformSegmentByShift(segment.data(), length, m_mode, m_shifts[length], at.out);
        if (facts.lossyBytes > 0)
            CountLossy(facts.lossyBytes, at.lines + 1);
        at.out += facts.wroteLineFeed ? StoreLineFeedsAsCrLf(at.out, length) : length;
        return true;
    }

    bool LineEnd(OutputCursor& at) {
        if (at.out >= at.limit && !Drain(at))
            return false;
        *at.out++ = '\r';
        *at.out++ = '\n';
        ++at.lines;
        return true;
    }

    void CountLossy(std::size_t bytes, std::uint64_t line) {
        m_lossyBytes += bytes;
        if (m_lastLossyLine == line)
            return;
        m_lastLossyLine = line;
        ++m_lossyLines;
        if (m_lossyLineNumbers.size() < kLossyLinesNamed)
            m_lossyLineNumbers.push_back(line);
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

    CipherMode m_mode;
    std::size_t m_block;
    std::array<int, kMaxSegmentLength + 1> m_shifts; // by segment length
    std::array<unsigned char, kMaxCleanLine> m_cleanShifts;
    std::uint64_t m_lossyBytes = 0;
    std::uint64_t m_lossyLines = 0;
    std::uint64_t m_lastLossyLine = 0;
    std::vector<std::uint64_t> m_lossyLineNumbers;
    OutputBlocks m_blocks;
    std::unique_ptr<char[]> m_staged; // kStaged bytes, and kOutputSlack for the last lines
    std::size_t m_filled = 0;         // bytes in the block buffer, as of the last Drain
    OutputCursor m_cursor;
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
    OutputCursor& at = writer.Cursor();
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
                !writer.WriteChecked(begin, static_cast<std::size_t>(end - begin), at))
                return writer.Result(StreamStatus::WriteFailed);
            return writer.Result(writer.Finish(at) ? StreamStatus::Completed
                                                   : StreamStatus::WriteFailed);
        }

        if (const char* lineFeed = LastLineFeed(begin, end)) {
            if (!cleanLines(begin, lineFeed + 1, mode, writer.CleanShifts(), writer, at))
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
            if (!writer.Segments(begin, ready, at))
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
