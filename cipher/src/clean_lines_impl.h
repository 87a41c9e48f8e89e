// The clean-line path for one instruction set. Each file that includes this names its own
// namespace first (QUORVEX_CLEAN_LINES), so that no code built for one processor can be
// linked into the path of another.
//
// It works in stretches of a few kilobytes, in two passes. The first finds the LFs of the
// stretch a vector at a time and keeps their positions; it only asks whether every byte is
// one that a clean line may hold, and only when some byte is not does a second look find
// the bytes that keep their lines off this path. The other pass goes from LF to LF: each
// clean line is rotated by the key of its length, a fixed number of vectors whatever that
// length, and its CR LF is written right after it, so that neither the output's size nor
// its line ends need another look at the bytes.

#include "clean_lines.h"
#include "simd.h"

#include <cstdint>
#include <cstring>
#if defined(__BMI__)
#include <immintrin.h>
#endif

namespace quorvex::QUORVEX_CLEAN_LINES {

namespace {

using simd::Bytes;
using simd::kWidth;

constexpr std::size_t kWord = 64;               // bytes per classification word
constexpr std::size_t kStretch = kCleanStretch; // a multiple of kWord
constexpr std::uint32_t kNone = ~0u;            // after the last position of a list
static_assert(kStretch % kWord == 0);
static_assert(kCleanOverread >= kWord + 1 && kCleanOverread >= 256);
// A stretch's own lines, the one it starts with, and the vectors of its last line.
static_assert(kCleanOverwrite >= 2 * kStretch + (kMaxCleanLine + 1) + 256);

struct Word {
    std::uint64_t lineFeeds = 0;
    std::uint64_t usual = 0; // printable, line ends (LF, and CR right before LF)
};

inline std::uint64_t Bits(Bytes mask, std::size_t at) {
    return std::uint64_t{simd::Bits(mask)} << at;
}

// A CR counts as part of a line end by the byte after it, which is read from memory
// again rather than shifted across the vector's lanes.
inline Word Classify(const char* p) {
    Word word;
    for (std::size_t i = 0; i < kWord; i += kWidth) {
        const Bytes c = simd::Load(p + i);
        const Bytes lineFeed = simd::AsBytes(c == '\n');
        const Bytes lineEnd =
            lineFeed | (simd::AsBytes(c == '\r') & simd::AsBytes(simd::Load(p + i + 1) == '\n'));
        word.lineFeeds |= Bits(lineFeed, i);
        word.usual |= Bits(simd::Printable(c) | lineEnd, i);
    }
    return word;
}

inline std::uint64_t Tabs(const char* p) {
    std::uint64_t tabs = 0;
    for (std::size_t i = 0; i < kWord; i += kWidth)
        tabs |= Bits(simd::AsBytes(simd::Load(p + i) == '\t'), i);
    return tabs;
}

// The lowest set bit's position; with none set, 64 where the processor counts trailing
// zeros (as every one with AVX2 does), else 63.
inline std::uint32_t Lowest(std::uint64_t bits) {
#if defined(__BMI__)
    return static_cast<std::uint32_t>(_tzcnt_u64(bits));
#else
    return static_cast<std::uint32_t>(__builtin_ctzll(bits | (std::uint64_t{1} << 63)));
#endif
}

// Appends the positions of the set bits to `to`. Four are written whatever the count,
// which covers nearly every word of text without a branch that could go either way.
inline std::size_t Positions(std::uint64_t bits, std::uint32_t base, std::uint32_t* to) {
    const int count = __builtin_popcountll(bits);
    for (int k = 0; k < 4; ++k) {
        to[k] = base + Lowest(bits);
        bits &= bits - 1;
    }
    for (int k = 4; k < count; ++k) {
        to[k] = base + Lowest(bits);
        bits &= bits - 1;
    }
    return static_cast<std::size_t>(count);
}

// What the first look at a stretch tells.
struct Scan {
    bool usual; // every byte printable, an LF, a CR right before an LF, or (if looked for) a tab
    bool tabs;
};

// The LFs of the whole words of a stretch, appended to `feeds`. Of the other bytes it only
// keeps whether all were usual, which costs one vector operation per vector of input; tabs
// are looked for only where the stretch before had some.
template <bool kTabs>
inline Scan ScanWords(const char* p, std::size_t size, std::uint32_t* feeds, std::size_t& count) {
    Bytes usual = simd::Splat(0xFF);
    Bytes tabs{};
    for (std::size_t at = 0; at + kWord <= size; at += kWord) {
        std::uint64_t lineFeeds = 0;
        for (std::size_t i = 0; i < kWord; i += kWidth) {
            const Bytes c = simd::Load(p + at + i);
            const Bytes lineFeed = simd::AsBytes(c == '\n');
            Bytes ok =
                simd::Printable(c) | lineFeed |
                (simd::AsBytes(c == '\r') & simd::AsBytes(simd::Load(p + at + i + 1) == '\n'));
            if constexpr (kTabs) {
                const Bytes tab = simd::AsBytes(c == '\t');
                ok |= tab;
                tabs |= tab;
            }
            usual &= ok;
            lineFeeds |= Bits(lineFeed, i);
        }
        count += Positions(lineFeeds, static_cast<std::uint32_t>(at), feeds + count);
    }
    return {!simd::Any(~usual), simd::Any(tabs)};
}

// Where the lines of one stretch end, and which of them may not be clean.
struct Stretch {
    const char* begin;
    const std::uint32_t* feeds;
    std::size_t feedCount;
    const std::uint32_t* odd; // ends with kNone
    bool tabs;                // somewhere in the stretch
};

// The key of the rotation for one line length: on AVX2 one byte, spread over a vector where
// it is used; without it a whole vector, as spreading a byte costs several steps there.
#if defined(__AVX2__)
using LineKey = unsigned char;
inline Bytes Spread(LineKey key) {
    return simd::Splat(key);
}
#else
using LineKey = Bytes;
inline Bytes Spread(const LineKey& key) {
    return key;
}
#endif

// Writes the lines of one stretch after another, carrying what it knows of the line that
// is still open at the end of a stretch.
template <bool kEncrypt> class StretchWriter {
    using Rotation = simd::PrintableRotation<kEncrypt>;

public:
    StretchWriter(const char* begin, const unsigned char* shifts, LineOutput& output)
        : m_start(begin), m_output(output) {
        for (std::size_t length = 0; length < kMaxCleanLine; ++length) {
            const unsigned char key = Rotation::Key(shifts[length]);
#if defined(__AVX2__)
            m_keys[length] = key;
#else
            m_keys[length] = simd::Splat(key);
#endif
        }
    }

    // A stretch of clean lines is written with a fixed number of vectors for every line,
    // enough for the longest line of the stretch before (up to 256 bytes), so that lines
    // of mixed lengths take no branch that could go either way; a longer line loops for
    // the rest. Only a stretch that holds odd bytes or tabs pays for looking at them.
    bool Write(const Stretch& stretch) {
        if (m_startIsOdd || *stretch.odd != kNone)
            return Checking(stretch);
        const bool tabs = m_startHasTab || stretch.tabs;
        m_startHasTab = (m_startHasTab && stretch.feedCount == 0) || stretch.tabs;
        return tabs ? Clean<true>(stretch) : Clean<false>(stretch);
    }

private:
    template <bool kTabs> bool Clean(const Stretch& stretch) {
        std::size_t longest = 0;
        const bool ok = m_span <= kWidth ? Clean<kTabs, Vectors(kWidth)>(stretch, longest)
                        : m_span <= 32   ? Clean<kTabs, Vectors(32)>(stretch, longest)
                        : m_span <= 64   ? Clean<kTabs, Vectors(64)>(stretch, longest)
                        : m_span <= 96   ? Clean<kTabs, Vectors(96)>(stretch, longest)
                        : m_span <= 128  ? Clean<kTabs, Vectors(128)>(stretch, longest)
                        : m_span <= 192  ? Clean<kTabs, Vectors(192)>(stretch, longest)
                                         : Clean<kTabs, Vectors(256)>(stretch, longest);
        if (stretch.feedCount > 0)
            m_span = longest;
        return ok;
    }

    static constexpr std::size_t Vectors(std::size_t bytes) {
        return (bytes + kWidth - 1) / kWidth;
    }

    // Everything the loop uses is held in locals: its stores go through char pointers, which
    // may alias anything else in memory.
    template <bool kTabs, std::size_t kVectors>
    [[gnu::noinline]] bool Clean(const Stretch& stretch, std::size_t& longestLine) {
        const char* start = m_start;
        char* out = m_output.out;
        const std::uint64_t lines = m_output.lines;
        const char* const begin = stretch.begin;
        const std::uint32_t* const feeds = stretch.feeds;
        const std::size_t count = stretch.feedCount;
        const LineKey* const keys = m_keys;
        std::size_t longest = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const char* lineFeed = begin + feeds[i];
            const std::size_t length = LengthBefore(lineFeed, start);
            longest = length > longest ? length : longest;
            if (length < kMaxCleanLine) [[likely]] {
                out = WriteLine<kTabs, kVectors>(start, length, Spread(keys[length]), out);
            } else {
                // The checked path counts its line itself, and drains as it writes.
                m_output.out = out;
                m_output.lines = lines + i;
                if (!m_output.Checked(start, length) ||
                    (m_output.out >= m_output.limit && !m_output.Drain()))
                    return false;
                out = m_output.out;
            }
            start = lineFeed + 1;
        }
        longestLine = longest;
        m_start = start;
        m_output.out = out;
        m_output.lines = lines + count;
        return out < m_output.limit || m_output.Drain();
    }

    // Line by line, sending every line that holds an odd byte to the checked path.
    bool Checking(const Stretch& stretch) {
        const std::uint32_t* nextOdd = stretch.odd;
        for (std::size_t i = 0; i < stretch.feedCount; ++i) {
            const std::uint32_t feed = stretch.feeds[i];
            const char* lineFeed = stretch.begin + feed;
            const std::size_t length = LengthBefore(lineFeed, m_start);
            const bool clean = length < kMaxCleanLine && !m_startIsOdd && *nextOdd > feed;
            if (clean) {
                m_output.out =
                    WriteLine<true, 1>(m_start, length, Spread(m_keys[length]), m_output.out);
                ++m_output.lines;
            }
            if (!clean || m_output.out >= m_output.limit) {
                if (!(clean ? m_output.Drain() : m_output.Checked(m_start, length)))
                    return false;
            }
            while (*nextOdd < feed)
                ++nextOdd;
            m_startIsOdd = false;
            m_start = lineFeed + 1;
        }
        // What lies after the last line end belongs to the line that is still open; of a
        // tab the stretch keeps no position, so that line may hold one.
        m_startIsOdd = *nextOdd != kNone;
        m_startHasTab = (m_startHasTab && stretch.feedCount == 0) || stretch.tabs;
        return true;
    }

    // A CR right before the LF belongs to the line end. The byte before an empty line is
    // the LF of the line before, or the one before `begin`: never a CR.
    static std::size_t LengthBefore(const char* lineFeed, const char* start) {
        return static_cast<std::size_t>(lineFeed - start) - (lineFeed[-1] == '\r');
    }

    // A clean line of fewer than kMaxCleanLine bytes, rotated a whole vector at a time: the
    // bytes past its end are overwritten by its line end and the lines that follow.
    template <bool kTabs, std::size_t kVectors>
    static char* WriteLine(const char* line, std::size_t length, Bytes key, char* out) {
        const auto step = [&](std::size_t at) {
            const Bytes c = simd::Load(line + at);
            Bytes r = Rotation::Rotate(c, key);
            if constexpr (kTabs)
                r = simd::Select(simd::AsBytes(c == '\t'), c, r);
            simd::Store(out + at, r);
        };
        for (std::size_t at = 0; at < kVectors * kWidth; at += kWidth)
            step(at);
        for (std::size_t at = kVectors * kWidth; at < length; at += kWidth)
            step(at);
        std::memcpy(out + length, "\r\n", 2);
        return out + length + 2;
    }

    const char* m_start;           // of the line being read
    bool m_startIsOdd = false;     // it began in an earlier stretch and holds an odd byte
    bool m_startHasTab = false;    // or may hold a tab
    std::size_t m_span = 256;      // bytes rotated per line in the next stretch of clean lines
    LineKey m_keys[kMaxCleanLine]; // for each line length
    LineOutput& m_output;
};

template <bool kEncrypt>
bool Lines(const char* begin, const char* end, const unsigned char* shifts, LineOutput& output) {
    std::uint32_t feeds[kStretch + 4];
    std::uint32_t odd[kStretch + 5];
    StretchWriter<kEncrypt> writer(begin, shifts, output);
    bool tabsBefore = false; // in the stretch before, so likely in this one

    for (const char* stretch = begin; stretch < end; stretch += kStretch) {
        const std::size_t size = static_cast<std::size_t>(end - stretch) < kStretch
                                     ? static_cast<std::size_t>(end - stretch)
                                     : kStretch;
        std::size_t feedCount = 0;
        std::size_t oddCount = 0;
        bool tabs = false;
        const auto classify = [&](std::size_t at, std::uint64_t inside) {
            const Word word = Classify(stretch + at);
            const auto base = static_cast<std::uint32_t>(at);
            std::uint64_t odder = ~word.usual & inside;
            if (odder != 0) [[unlikely]] {
                const std::uint64_t tabbed = Tabs(stretch + at) & inside;
                tabs = tabs || tabbed != 0;
                odder &= ~tabbed;
                if (odder != 0)
                    oddCount += Positions(odder, base, odd + oddCount);
            }
            feedCount += Positions(word.lineFeeds & inside, base, feeds + feedCount);
        };
        const std::size_t whole = size - size % kWord;
        const Scan scan = tabsBefore ? ScanWords<true>(stretch, whole, feeds, feedCount)
                                     : ScanWords<false>(stretch, whole, feeds, feedCount);
        tabs = scan.tabs;
        std::size_t at = whole;
        if (!scan.usual) {
            feedCount = 0;
            tabs = false;
            for (at = 0; at < whole; at += kWord)
                classify(at, ~std::uint64_t{0});
        }
        if (at < size)
            classify(at, (std::uint64_t{1} << (size - at)) - 1);
        tabsBefore = tabs;
        odd[oddCount] = kNone;
        if (!writer.Write({stretch, feeds, feedCount, odd, tabs}))
            return false;
    }
    return true;
}

} // namespace

bool CleanLines(const char* begin, const char* end, CipherMode mode, const unsigned char* shifts,
                LineOutput& output) {
    if (mode == kEncrypt)
        return Lines<true>(begin, end, shifts, output);
    if (mode == kDecrypt)
        return Lines<false>(begin, end, shifts, output);
    for (const char* start = begin; start < end;) {
        const auto* lineFeed = static_cast<const char*>(std::memchr(start, '\n', end - start));
        std::size_t length = static_cast<std::size_t>(lineFeed - start);
        length -= length > 0 && lineFeed[-1] == '\r';
        if (!output.Checked(start, length))
            return false;
        start = lineFeed + 1;
    }
    return true;
}

} // namespace quorvex::QUORVEX_CLEAN_LINES
