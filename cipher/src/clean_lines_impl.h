// The clean-line path for one instruction set. Each file that includes this names its own
// namespace first (QUORVEX_CLEAN_LINES), so that no code built for one processor can be
// linked into the path of another.

#include "clean_lines.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace quorvex::QUORVEX_CLEAN_LINES {

namespace {

#if defined(__AVX2__)
constexpr std::size_t kWidth = 32;
#else
constexpr std::size_t kWidth = 16;
#endif
using Bytes = unsigned char __attribute__((vector_size(kWidth)));
using SignedBytes = signed char __attribute__((vector_size(kWidth)));

constexpr std::size_t kWord = 64;      // bytes per classification word
constexpr std::size_t kStretch = 4096; // bytes classified before their lines are written
constexpr std::uint32_t kNone = ~0u;   // after the last position of a list

inline Bytes Load(const char* p) {
    Bytes b;
    std::memcpy(&b, p, kWidth);
    return b;
}

inline void Store(char* p, Bytes b) {
    std::memcpy(p, &b, kWidth);
}

inline Bytes Splat(int c) {
    return Bytes{} + static_cast<unsigned char>(c);
}

// One bit per byte of a comparison's result.
template <typename Mask> inline std::uint64_t Bits(Mask mask) {
    const auto bytes = reinterpret_cast<Bytes>(mask);
#if defined(__AVX2__)
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(reinterpret_cast<__m256i>(bytes)));
#elif defined(__SSE2__)
    return static_cast<std::uint32_t>(_mm_movemask_epi8(reinterpret_cast<__m128i>(bytes)));
#else
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < kWidth; ++i)
        bits |= std::uint64_t{bytes[i] >> 7} << i;
    return bits;
#endif
}

inline Bytes Min(Bytes a, Bytes b) {
#if defined(__AVX2__)
    return reinterpret_cast<Bytes>(
        _mm256_min_epu8(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
#elif defined(__SSE2__)
    return reinterpret_cast<Bytes>(
        _mm_min_epu8(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#else
    return a < b ? a : b;
#endif
}

struct Word {
    std::uint64_t lineFeeds = 0;
    std::uint64_t carriageReturns = 0;
    std::uint64_t tabs = 0;
    std::uint64_t unprintable = 0; // every byte outside 32..126, line ends and tabs included
};

inline Word Classify(const char* p) {
    Word word;
    for (std::size_t i = 0; i < kWord; i += kWidth) {
        const auto c = reinterpret_cast<SignedBytes>(Load(p + i));
        word.lineFeeds |= Bits(c == '\n') << i;
        word.carriageReturns |= Bits(c == '\r') << i;
        word.tabs |= Bits(c == '\t') << i;
        word.unprintable |= Bits((c < kAlphabetFirst) | (c > kAlphabetLast)) << i;
    }
    return word;
}

inline int Count(std::uint64_t bits) {
    return __builtin_popcountll(bits);
}

// The lowest set bit's position; 63 when none is set.
inline std::uint32_t Lowest(std::uint64_t bits) {
    return static_cast<std::uint32_t>(__builtin_ctzll(bits | (std::uint64_t{1} << 63)));
}

// Appends the positions of the set bits to `to`. Four are written whatever the count,
// which covers nearly every word of text without a branch that could go either way.
inline std::size_t Positions(std::uint64_t bits, std::uint32_t base, std::uint32_t* to) {
    const int count = Count(bits);
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

// Both directions as one rotation within the alphabet: y = c + add is the byte's place
// in the alphabet moved by the shift, and y + wrap the same place taken once round the
// other way; the smaller of the two, as unsigned bytes, is the one inside 0..94.
struct Rotation {
    Bytes add;
    Bytes wrap;

    Rotation(bool encrypt, int shift)
        : add(Splat(encrypt ? shift - kAlphabetFirst : -(shift + kAlphabetFirst))),
          wrap(Splat(encrypt ? -kAlphabetSize : kAlphabetSize)) {}

    Bytes operator()(Bytes c) const {
        const Bytes y = c + add;
        return Min(y, y + wrap) + Splat(kAlphabetFirst);
    }
};

// A clean line of fewer than kMaxCleanLine bytes: all of them are rotated in one go,
// whatever its length, and the bytes past its end are overwritten by what follows. Tabs
// pass unchanged; a line without one need not look for them.
template <bool kTabs>
inline char* WriteCleanLine(const char* line, std::size_t length, const Rotation& rotate,
                            char* out) {
    for (std::size_t i = 0; i < kMaxCleanLine; i += kWidth) {
        const Bytes c = Load(line + i);
        Bytes r = rotate(c);
        if constexpr (kTabs) {
            const auto tab = reinterpret_cast<Bytes>(c == Splat('\t'));
            r = (r & ~tab) | (c & tab);
        }
        Store(out + i, r);
    }
    out[length] = '\r';
    out[length + 1] = '\n';
    return out + length + 2;
}

// Where the lines of one stretch are: line ends, and the odd bytes and tabs among them.
struct Stretch {
    const char* begin;
    const std::uint32_t* feeds;
    std::size_t feedCount;
    const std::uint32_t* odd; // both lists end with kNone
    const std::uint32_t* tabs;
};

template <bool kEncrypt> class LineWriter {
public:
    LineWriter(const char* begin, const unsigned char* shifts, LineOutput& output)
        : m_start(begin), m_shifts(shifts), m_output(output), m_out(output.out),
          m_lines(output.lines) {}

    ~LineWriter() {
        m_output.out = m_out;
        m_output.lines = m_lines;
    }

    // A stretch without a tab need not look for one line by line.
    bool Write(const Stretch& stretch) {
        const bool tabs = m_startHasTab || *stretch.tabs != kNone;
        return tabs ? Write<true>(stretch) : Write<false>(stretch);
    }

private:
    template <bool kTabs> bool Write(const Stretch& stretch) {
        const std::uint32_t* nextOdd = stretch.odd;
        const std::uint32_t* nextTab = stretch.tabs;
        for (std::size_t i = 0; i < stretch.feedCount; ++i) {
            const std::uint32_t feed = stretch.feeds[i];
            const char* lineFeed = stretch.begin + feed;
            std::size_t length = static_cast<std::size_t>(lineFeed - m_start);
            length -= length > 0 && lineFeed[-1] == '\r';
            const bool clean = !m_startIsOdd && *nextOdd > feed;
            bool tabbed = false;
            if constexpr (kTabs) {
                tabbed = m_startHasTab || *nextTab < feed;
                while (*nextTab < feed)
                    ++nextTab;
            }
            if (clean && length < kMaxCleanLine) {
                const Rotation rotation(kEncrypt, m_shifts[length]);
                m_out = tabbed ? WriteCleanLine<true>(m_start, length, rotation, m_out)
                               : WriteCleanLine<false>(m_start, length, rotation, m_out);
                ++m_lines;
                if (m_out >= m_output.limit && !Call([this] { return m_output.Drain(); }))
                    return false;
            } else {
                if (!Call([this, length] { return m_output.Checked(m_start, length); }))
                    return false;
                while (*nextOdd < feed)
                    ++nextOdd;
            }
            m_start = lineFeed + 1;
            m_startIsOdd = false;
            m_startHasTab = false;
        }
        // What lies after the last line end belongs to the line that is still open.
        m_startIsOdd = m_startIsOdd || *nextOdd != kNone;
        m_startHasTab = m_startHasTab || *nextTab != kNone;
        return true;
    }

    // The writer's own position, handed over for a call into the output and taken back.
    template <typename F> bool Call(F call) {
        m_output.out = m_out;
        m_output.lines = m_lines;
        const bool ok = call();
        m_out = m_output.out;
        m_lines = m_output.lines;
        return ok;
    }

    const char* m_start;        // of the line being read
    bool m_startIsOdd = false;  // it began in an earlier stretch and holds an odd byte
    bool m_startHasTab = false; // or a tab
    const unsigned char* m_shifts;
    LineOutput& m_output;
    char* m_out;
    std::uint64_t m_lines;
};

template <bool kEncrypt>
bool Lines(const char* begin, const char* end, const unsigned char* shifts, LineOutput& output) {
    std::uint32_t feeds[kStretch + 4];
    std::uint32_t odd[kStretch + 5];
    std::uint32_t tabs[kStretch + 5];
    LineWriter<kEncrypt> writer(begin, shifts, output);

    for (const char* stretch = begin; stretch < end; stretch += kStretch) {
        const std::size_t size =
            static_cast<std::size_t>(end - stretch) < kStretch ? end - stretch : kStretch;
        std::size_t feedCount = 0;
        std::size_t oddCount = 0;
        std::size_t tabCount = 0;
        for (std::size_t at = 0; at < size; at += kWord) {
            const Word word = Classify(stretch + at);
            const auto base = static_cast<std::uint32_t>(at);
            const std::uint64_t inside =
                size - at >= kWord ? ~std::uint64_t{0} : (std::uint64_t{1} << (size - at)) - 1;
            const std::uint64_t lineFeeds = word.lineFeeds & inside;
            // A CR right before an LF is part of the line end.
            const std::uint64_t beforeLineFeed =
                lineFeeds >> 1 | std::uint64_t{stretch[at + kWord] == '\n'} << 63;
            const std::uint64_t unusual = word.unprintable & ~word.lineFeeds & ~word.tabs &
                                          ~(word.carriageReturns & beforeLineFeed) & inside;
            if (unusual != 0)
                oddCount += Positions(unusual, base, odd + oddCount);
            if ((word.tabs & inside) != 0)
                tabCount += Positions(word.tabs & inside, base, tabs + tabCount);
            feedCount += Positions(lineFeeds, base, feeds + feedCount);
        }
        odd[oddCount] = kNone;
        tabs[tabCount] = kNone;
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
