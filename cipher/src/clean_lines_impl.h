// The clean-line path for one instruction set. Each file that includes this names its own
// namespace first (QUORVEX_CLEAN_LINES), so that no code built for one processor can be
// linked into the path of another.
//
// It works in stretches of a few kilobytes, in two passes. The first finds the LFs of the
// stretch a vector at a time and keeps their positions; of the other bytes it only asks
// whether all are ones that a clean line may hold, and only when some byte is not does a
// second look find the bytes that keep their lines off this path. The other pass goes from
// LF to LF: each clean line is rotated by the key of its length, a fixed number of vectors
// whatever that length, and its CR LF is written right after it, so that neither the
// output's size nor its line ends need another look at the bytes.
//
// Most files end every line the same way, and the first pass is told which way the
// stretch before ended its lines. When it finds that this one does too, all LFs bare or
// all after a CR, the second pass knows every line's length from the distance between
// LFs alone, and the longest line of the stretch before it starts, so that it neither
// looks at the byte before an LF nor asks whether a line is longer than its vectors.

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
constexpr std::size_t kMaxSpan = 256;           // bytes rotated per line without a loop
constexpr std::uint32_t kNone = ~0u;            // after the last position of a list
static_assert(kStretch % kWord == 0);
static_assert(kCleanOverread >= kWord + 1 && kCleanOverread >= kMaxSpan);
// A stretch's own lines, the one it starts with, and the vectors of its last line (and
// the two bytes after its CR LF).
static_assert(kCleanOverwrite >= 2 * kStretch + (kMaxCleanLine + 1) + kMaxSpan + 4);

// How the lines of a stretch end: every LF bare, every LF after a CR, or either.
enum class Ends { Bare, Paired, Mixed };

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

// Appends the positions of the set bits to `to`. kAlways are written whatever the count,
// which covers nearly every word of text without a branch that could go either way; the
// caller picks it from how close together the LFs of the stretch before were.
template <int kAlways>
inline std::size_t Positions(std::uint64_t bits, std::uint32_t base, std::uint32_t* to) {
#if defined(__POPCNT__)
    const int count = __builtin_popcountll(bits);
    for (int k = 0; k < kAlways; ++k) {
        to[k] = base + Lowest(bits);
        bits &= bits - 1;
    }
    for (int k = kAlways; k < count; ++k) {
        to[k] = base + Lowest(bits);
        bits &= bits - 1;
    }
    return static_cast<std::size_t>(count);
#else
    // Without the processor's own count, the positions are counted as they are taken.
    std::size_t count = 0;
    for (int k = 0; k < kAlways; ++k) {
        to[k] = base + Lowest(bits);
        count += bits != 0;
        bits &= bits - 1;
    }
    for (; bits != 0; bits &= bits - 1)
        to[count++] = base + Lowest(bits);
    return count;
#endif
}

// Bytes that a clean line may hold or end with, as the stretch is expected to end its
// lines: printable, an LF (bare, after a CR, or either), a CR right before an LF, and a
// tab where the stretch before had some.
//
// On 32-byte vectors a CR is paired with its LF by loading the bytes again one further on
// or one back, rather than shifting across the vector's lanes. On 16-byte vectors that
// costs more than pairing the bits of both, a word at a time, beside the LFs' positions.
constexpr bool kPairByBits = kWidth < 32;

template <Ends kEnds> inline Bytes Usual(const char* p, Bytes c, Bytes lineFeed) {
    Bytes usual = simd::Printable(c);
    if constexpr (kEnds == Ends::Paired)
        usual |= lineFeed & simd::AsBytes(simd::Load(p - 1) == '\r');
    else
        usual |= lineFeed;
    if constexpr (kEnds != Ends::Bare)
        usual |= simd::AsBytes(c == '\r') & simd::AsBytes(simd::Load(p + 1) == '\n');
    return usual;
}

// What the first look at a stretch found besides its LFs.
struct Look {
    bool usual; // every byte
    bool tabs;  // where they were looked for
};

// The first look at a stretch: the positions of its LFs, appended to `feeds`, and whether
// every byte was usual, of which it keeps one vector (and one of tabs). The bytes of a
// last word past `size` are left out.
template <Ends kEnds, bool kTabs, int kAlways>
Look Scan(const char* p, std::size_t size, std::uint32_t* feeds, std::size_t& feedCount) {
    Bytes usual = simd::Splat(0xFF);
    Bytes tabs{};
    std::size_t count = feedCount;
    constexpr Ends kVectorEnds = kPairByBits ? Ends::Bare : kEnds; // what the vectors pair
    // A CR whose bit does not stand right before that of an LF (or, with every LF paired,
    // an LF whose bit does not stand right after that of a CR). The first LF of a stretch
    // whose lines all end in CR LF is paired with the last byte of the stretch before.
    std::uint64_t unpaired = 0;
    std::uint64_t carried = kPairByBits && kEnds == Ends::Paired && p[-1] == '\r';
    const auto word = [&](const char* w, std::size_t inside) {
        std::uint64_t lineFeeds = 0;
        std::uint64_t returns = 0;
        for (std::size_t i = 0; i < kWord; i += kWidth) {
            const Bytes c = simd::Load(w + i);
            Bytes lineFeed = simd::AsBytes(c == '\n');
            Bytes ok = Usual<kVectorEnds>(w + i, c, lineFeed);
            Bytes cr{};
            if constexpr (kPairByBits && kEnds != Ends::Bare) {
                cr = simd::AsBytes(c == '\r');
                ok |= cr;
            }
            if constexpr (kTabs) {
                const Bytes tab = simd::AsBytes(c == '\t');
                ok |= tab;
                tabs |= tab;
            }
            if (inside < kWord) {
                const Bytes past = simd::AsBytes(simd::Index() + static_cast<unsigned char>(i) >=
                                                 simd::Splat(static_cast<int>(inside)));
                ok |= past;
                lineFeed &= ~past;
                cr &= ~past;
            }
            usual &= ok;
            lineFeeds |= Bits(lineFeed, i);
            if constexpr (kPairByBits && kEnds != Ends::Bare)
                returns |= Bits(cr, i);
        }
        if constexpr (kPairByBits && kEnds != Ends::Bare) {
            const std::uint64_t before = returns << 1 | carried;
            unpaired |= kEnds == Ends::Paired ? before ^ lineFeeds : before & ~lineFeeds;
            carried = returns >> 63;
        }
        return lineFeeds;
    };
    const std::size_t whole = size - size % kWord;
    for (std::size_t at = 0; at < whole; at += kWord)
        count +=
            Positions<kAlways>(word(p + at, kWord), static_cast<std::uint32_t>(at), feeds + count);
    if (whole < size)
        count += Positions<kAlways>(word(p + whole, size - whole),
                                    static_cast<std::uint32_t>(whole), feeds + count);
    feedCount = count;
    // A CR last in the stretch is paired with the first byte of the next.
    const bool paired = unpaired == 0 && (carried == 0 || p[size] == '\n');
    return {paired && !simd::Any(~usual), simd::Any(tabs)};
}

// The shortest and the longest distance from one LF to the next.
struct Gaps {
    std::uint32_t shortest;
    std::uint32_t longest;
};

inline Gaps Measure(const std::uint32_t* feeds, std::size_t count) {
    using Lanes = std::uint32_t __attribute__((vector_size(kWidth)));
    constexpr std::size_t kLanes = kWidth / sizeof(std::uint32_t);
    Lanes shortest = Lanes{} + ~0u;
    Lanes longest{};
    std::size_t i = 1;
    for (; i + kLanes <= count; i += kLanes) {
        Lanes next;
        Lanes before;
        std::memcpy(&next, feeds + i, sizeof next);
        std::memcpy(&before, feeds + i - 1, sizeof before);
        const Lanes gap = next - before;
        shortest = gap < shortest ? gap : shortest;
        longest = gap > longest ? gap : longest;
    }
    Gaps gaps{~0u, 0};
    for (; i < count; ++i) {
        const std::uint32_t gap = feeds[i] - feeds[i - 1];
        gaps.shortest = gap < gaps.shortest ? gap : gaps.shortest;
        gaps.longest = gap > gaps.longest ? gap : gaps.longest;
    }
    for (std::size_t k = 0; k < kLanes; ++k) {
        gaps.shortest = shortest[k] < gaps.shortest ? shortest[k] : gaps.shortest;
        gaps.longest = longest[k] > gaps.longest ? longest[k] : gaps.longest;
    }
    return gaps;
}

// Where the lines of one stretch end, and which of them may not be clean.
struct Stretch {
    const char* begin;
    const std::uint32_t* feeds;
    std::size_t feedCount;
    const std::uint32_t* odd; // ends with kNone
    bool tabs;                // somewhere in the stretch
    Ends ends;                // as the first look found them
    std::uint32_t longestGap; // from one LF to the next
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
    StretchWriter(const char* begin, const unsigned char* shifts, LineOutput& output,
                  OutputCursor& at)
        : m_start(begin), m_output(output), m_at(at) {
        for (std::size_t length = 0; length < kMaxCleanLine; ++length) {
            const unsigned char key = Rotation::Key(shifts[length]);
#if defined(__AVX2__)
            m_keys[length] = key;
#else
            m_keys[length] = simd::Splat(key);
#endif
        }
    }

    const char* Start() const {
        return m_start;
    }

    // A stretch of clean lines is written with a fixed number of vectors for every line,
    // enough for its longest line (up to kMaxSpan bytes), so that lines of mixed lengths
    // take no branch that could go either way. Only a stretch that holds odd bytes pays for
    // looking at them, and only one with tabs for keeping them.
    bool Write(const Stretch& stretch) {
        if (m_startIsOdd || *stretch.odd != kNone)
            return Checking(stretch);
        const bool tabs = m_startHasTab || stretch.tabs;
        m_startHasTab = (m_startHasTab && stretch.feedCount == 0) || stretch.tabs;
        if (stretch.feedCount == 0)
            return true;
        // With every LF bare or every LF after a CR, a line's length is the distance from
        // the LF before, less one or two; that of the line carried in is known already.
        Ends ends = stretch.ends;
        std::size_t longest = m_span;
        if (ends != Ends::Mixed) {
            const std::size_t end = ends == Ends::Paired ? 2 : 1;
            const std::size_t first =
                static_cast<std::size_t>(stretch.begin + stretch.feeds[0] + 1 - m_start) - end;
            longest = stretch.feedCount > 1 ? stretch.longestGap - end : 0;
            longest = first > longest ? first : longest;
            m_span = longest;
            if (longest > kMaxSpan)
                ends = Ends::Mixed;
        }
        if (ends == Ends::Bare)
            return tabs ? Clean<true, Ends::Bare>(stretch, longest)
                        : Clean<false, Ends::Bare>(stretch, longest);
        if (ends == Ends::Paired)
            return tabs ? Clean<true, Ends::Paired>(stretch, longest)
                        : Clean<false, Ends::Paired>(stretch, longest);
        return tabs ? Clean<true, Ends::Mixed>(stretch, longest)
                    : Clean<false, Ends::Mixed>(stretch, longest);
    }

private:
    template <bool kTabs, Ends kEnds> bool Clean(const Stretch& stretch, std::size_t span) {
        constexpr std::size_t k32 = Vectors(32);
        constexpr std::size_t k64 = Vectors(64);
        constexpr std::size_t k96 = Vectors(96);
        constexpr std::size_t k128 = Vectors(128);
        constexpr std::size_t k192 = Vectors(192);
        constexpr std::size_t kAll = Vectors(kMaxSpan);
        return span <= kWidth ? Clean<kTabs, kEnds, 1>(stretch)
               : span <= 32   ? Clean<kTabs, kEnds, k32>(stretch)
               : span <= 64   ? Clean<kTabs, kEnds, k64>(stretch)
               : span <= 96   ? Clean<kTabs, kEnds, k96>(stretch)
               : span <= 128  ? Clean<kTabs, kEnds, k128>(stretch)
               : span <= 192  ? Clean<kTabs, kEnds, k192>(stretch)
                              : Clean<kTabs, kEnds, kAll>(stretch);
    }

    static constexpr std::size_t Vectors(std::size_t bytes) {
        return (bytes + kWidth - 1) / kWidth;
    }

    // Everything the loop uses is held in locals: its stores go through char pointers, which
    // may alias anything else in memory. Positions are taken from the stretch's beginning; the
    // line carried in from the stretch before starts before it.
    template <bool kTabs, Ends kEnds, std::size_t kVectors>
    [[gnu::noinline]] bool Clean(const Stretch& stretch) {
        constexpr bool kMixed = kEnds == Ends::Mixed;
        const char* const begin = stretch.begin;
        std::ptrdiff_t start = m_start - begin;
        char* out = m_at.out;
        const std::uint64_t lines = m_at.lines;
        const std::uint32_t* const feeds = stretch.feeds;
        const std::size_t count = stretch.feedCount;
        const LineKey* const keys = m_keys;
        std::size_t longest = 0;
        std::size_t paired = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::ptrdiff_t lineFeed = feeds[i];
            std::size_t length = static_cast<std::size_t>(lineFeed - start);
            if constexpr (kEnds == Ends::Paired) {
                --length;
            } else if constexpr (kMixed) {
                // A CR right before the LF belongs to the line end. The byte before an empty
                // line is the LF of the line before, or the one before `begin`: never a CR.
                const bool cr = begin[lineFeed - 1] == '\r';
                length -= cr;
                paired += cr;
                longest = length > longest ? length : longest;
            }
            if (!kMixed || length < kMaxCleanLine) [[likely]] {
                out = WriteLine<kTabs, kVectors, kMixed>(begin + start, length,
                                                         Spread(keys[length]), out);
            } else {
                // The checked path counts its line itself, and drains as it writes.
                m_at.out = out;
                m_at.lines = lines + i;
                if (!m_output.WriteChecked(begin + start, length, m_at) ||
                    (m_at.out >= m_at.limit && !m_output.Drain(m_at)))
                    return false;
                out = m_at.out;
            }
            start = lineFeed + 1;
        }
        if constexpr (kMixed) {
            m_span = longest;
            m_ends = paired == 0 ? Ends::Bare : paired == count ? Ends::Paired : Ends::Mixed;
        } else {
            m_ends = kEnds;
        }
        m_start = begin + start;
        m_at.out = out;
        m_at.lines = lines + count;
        return out < m_at.limit || m_output.Drain(m_at);
    }

public:
    // How the stretch before ended its lines, and so how the next is likely to.
    Ends Expected() const {
        return m_ends;
    }

private:
    // Line by line, sending every line that holds an odd byte to the checked path.
    bool Checking(const Stretch& stretch) {
        const std::uint32_t* nextOdd = stretch.odd;
        for (std::size_t i = 0; i < stretch.feedCount; ++i) {
            const std::uint32_t feed = stretch.feeds[i];
            const char* lineFeed = stretch.begin + feed;
            const std::size_t length =
                static_cast<std::size_t>(lineFeed - m_start) - (lineFeed[-1] == '\r');
            const bool clean = length < kMaxCleanLine && !m_startIsOdd && *nextOdd > feed;
            if (clean) {
                m_at.out =
                    WriteLine<true, 1, true>(m_start, length, Spread(m_keys[length]), m_at.out);
                ++m_at.lines;
            }
            if (!clean || m_at.out >= m_at.limit) {
                if (!(clean ? m_output.Drain(m_at) : m_output.WriteChecked(m_start, length, m_at)))
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
        m_ends = Ends::Mixed;
        m_span = kMaxSpan;
        return true;
    }

    // A clean line of fewer than kMaxCleanLine bytes, rotated a whole vector at a time, and
    // its CR LF, stored as four bytes: what is written past the line's end is overwritten by
    // its line end and the lines that follow. Only a line of unknown length may need more
    // vectors than kVectors.
    template <bool kTabs, std::size_t kVectors, bool kLonger>
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
        if constexpr (kLonger)
            for (std::size_t at = kVectors * kWidth; at < length; at += kWidth)
                step(at);
        const std::uint32_t lineEnd = '\r' | '\n' << 8;
        std::memcpy(out + length, &lineEnd, sizeof lineEnd);
        return out + length + 2;
    }

    const char* m_start;           // of the line being read
    bool m_startIsOdd = false;     // it began in an earlier stretch and holds an odd byte
    bool m_startHasTab = false;    // or may hold a tab
    Ends m_ends = Ends::Mixed;     // as the stretch before ended its lines
    std::size_t m_span = kMaxSpan; // longest line of the stretch before, where not measured
    LineKey m_keys[kMaxCleanLine]; // for each line length
    LineOutput& m_output;
    OutputCursor& m_at;
};

// The first look at a stretch with every choice it takes made at compile time.
template <Ends kEnds, bool kTabs>
Look ScanAs(const char* p, std::size_t size, std::uint32_t* feeds, std::size_t& count,
            std::uint32_t closest) {
    if (closest >= kWord)
        return Scan<kEnds, kTabs, 1>(p, size, feeds, count);
    if (closest >= kWord / 2)
        return Scan<kEnds, kTabs, 2>(p, size, feeds, count);
    return Scan<kEnds, kTabs, 4>(p, size, feeds, count);
}

template <bool kTabs>
Look ScanAs(Ends ends, const char* p, std::size_t size, std::uint32_t* feeds, std::size_t& count,
            std::uint32_t closest) {
    switch (ends) {
    case Ends::Bare:
        return ScanAs<Ends::Bare, kTabs>(p, size, feeds, count, closest);
    case Ends::Paired:
        return ScanAs<Ends::Paired, kTabs>(p, size, feeds, count, closest);
    case Ends::Mixed:
        break;
    }
    return ScanAs<Ends::Mixed, kTabs>(p, size, feeds, count, closest);
}

template <bool kEncrypt>
bool Lines(const char* begin, const char* end, const unsigned char* shifts, LineOutput& output,
           OutputCursor& at) {
    std::uint32_t feeds[kStretch + 4];
    std::uint32_t odd[kStretch + 5];
    StretchWriter<kEncrypt> writer(begin, shifts, output, at);
    bool tabsBefore = false;   // in the stretch before, so likely in this one
    std::uint32_t closest = 0; // of two LFs in the stretch before

    for (const char* stretch = begin; stretch < end; stretch += kStretch) {
        const std::size_t size = static_cast<std::size_t>(end - stretch) < kStretch
                                     ? static_cast<std::size_t>(end - stretch)
                                     : kStretch;
        std::size_t feedCount = 0;
        // The ends the stretch before had; a bare LF first in the stretch must not follow a
        // CR of the stretch before.
        Ends ends = writer.Expected();
        if (ends == Ends::Bare && stretch[-1] == '\r')
            ends = Ends::Mixed;
        Look look = tabsBefore ? ScanAs<true>(ends, stretch, size, feeds, feedCount, closest)
                               : ScanAs<false>(ends, stretch, size, feeds, feedCount, closest);
        if (!look.usual && ends != Ends::Mixed) {
            feedCount = 0;
            ends = Ends::Mixed;
            look = tabsBefore
                       ? ScanAs<Ends::Mixed, true>(stretch, size, feeds, feedCount, closest)
                       : ScanAs<Ends::Mixed, false>(stretch, size, feeds, feedCount, closest);
        }
        std::size_t oddCount = 0;
        bool tabs = look.tabs;
        if (!look.usual) {
            feedCount = 0;
            tabs = false;
            for (std::size_t at = 0; at < size; at += kWord) {
                const std::uint64_t inside =
                    size - at >= kWord ? ~std::uint64_t{0} : (std::uint64_t{1} << (size - at)) - 1;
                const Word word = Classify(stretch + at);
                const auto base = static_cast<std::uint32_t>(at);
                std::uint64_t odder = ~word.usual & inside;
                if (odder != 0) [[unlikely]] {
                    const std::uint64_t tabbed = Tabs(stretch + at) & inside;
                    tabs = tabs || tabbed != 0;
                    odder &= ~tabbed;
                    if (odder != 0)
                        oddCount += Positions<4>(odder, base, odd + oddCount);
                }
                feedCount += Positions<4>(word.lineFeeds & inside, base, feeds + feedCount);
            }
        }
        odd[oddCount] = kNone;
        const Gaps gaps = feedCount > 1 ? Measure(feeds, feedCount) : Gaps{kWord, 0};
        closest = gaps.shortest;
        tabsBefore = tabs;
        if (!writer.Write({stretch, feeds, feedCount, odd, tabs, ends, gaps.longest}))
            return false;
    }
    return true;
}

} // namespace

bool CleanLines(const char* begin, const char* end, CipherMode mode, const unsigned char* shifts,
                LineOutput& output, OutputCursor& at) {
    if (mode == kEncrypt)
        return Lines<true>(begin, end, shifts, output, at);
    if (mode == kDecrypt)
        return Lines<false>(begin, end, shifts, output, at);
    for (const char* start = begin; start < end;) {
        const auto* lineFeed = static_cast<const char*>(std::memchr(start, '\n', end - start));
        std::size_t length = static_cast<std::size_t>(lineFeed - start);
        length -= length > 0 && lineFeed[-1] == '\r';
        if (!output.WriteChecked(start, length, at))
            return false;
        start = lineFeed + 1;
    }
    return true;
}

} // namespace quorvex::QUORVEX_CLEAN_LINES
