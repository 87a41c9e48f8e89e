#include "quorvex/cipher.h"

#include "segment.h"
#include "simd.h"

#include <algorithm>
#include <cstring>

namespace quorvex {

namespace {

constexpr bool IsPassThrough(unsigned char c) {
    return std::find(PassThroughChars.begin(), PassThroughChars.end(), c) != PassThroughChars.end();
}

constexpr bool IsPrintable(unsigned char c) {
    return c >= kAlphabetFirst && c <= kAlphabetLast;
}

// Bytes 128 to 255 take part in the arithmetic as negative values.
constexpr int SignedValue(unsigned char c) {
    return static_cast<signed char>(c);
}

constexpr unsigned char LowByte(int value) {
    return static_cast<unsigned char>(value & 0xFF);
}

constexpr unsigned char EncryptByte(unsigned char c, int shift) {
    if (IsPassThrough(c))
        return c;
    int t = SignedValue(c) + shift;
    if (t > kAlphabetLast)
        t -= kAlphabetSize;
    return LowByte(t);
}

constexpr unsigned char DecryptByte(unsigned char c, int shift) {
    if (IsPassThrough(c))
        return c;
    int t = SignedValue(c) - shift;
    if (t < kAlphabetFirst)
        t += kAlphabetSize;
    return LowByte(t);
}

using simd::Bytes;
using simd::kWidth;

// What a transform notices on its way: input bytes outside the alphabet, and LF bytes it
// wrote (which only such bytes can become).
struct Watch {
    Bytes unprintable{};
    Bytes lineFeeds{};
};

// A vector at a time. A vector of printable text, by far the most common, costs one test
// beyond the rotation; tab, the six letters and every byte that may turn into LF lie
// outside the alphabet, so only vectors holding such a byte take the slower path.
template <bool kEncrypt>
void TransformRun(const char* in, std::size_t length, int shift, char* out, Watch& watch) {
    const simd::Rotation<kEncrypt> rotate(static_cast<unsigned char>(shift));
    const auto step = [&](std::size_t at) {
        const Bytes c = simd::Load(in + at);
        Bytes r = rotate(c);
        const Bytes unprintable = simd::Unprintable(c);
        if (simd::Any(unprintable)) {
            r = simd::Select(simd::PassThrough(c), c, r);
            watch.unprintable |= unprintable;
            watch.lineFeeds |= simd::AsBytes(r == '\n');
        }
        simd::Store(out + at, r);
    };
    std::size_t i = 0;
    for (; i + kWidth <= length; i += kWidth)
        step(i);
    if (i == length)
        return;
    // The tail: one more vector that ends with the line, unless it would read back bytes
    // already written in place.
    const auto from = reinterpret_cast<std::uintptr_t>(in);
    const auto to = reinterpret_cast<std::uintptr_t>(out);
    const bool apart = to + length <= from || from + length <= to;
    if (length >= kWidth && apart) {
        step(length - kWidth);
        return;
    }
    for (; i < length; ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        const unsigned char r = kEncrypt ? EncryptByte(c, shift) : DecryptByte(c, shift);
        out[i] = static_cast<char>(r);
        if (!IsPrintable(c))
            watch.unprintable[0] = 0xFF;
        if (r == '\n')
            watch.lineFeeds[0] = 0xFF;
    }
}

} // namespace

int ReduceLineLength(std::size_t length) {
    // Five passes bring every length up to 570 into 0..95; the run never hands over more
    // than 511. The clamp only keeps absurd lengths inside an int.
    std::size_t r = std::min<std::size_t>(length, 1u << 20);
    for (int pass = 0; pass < 5; ++pass)
        if (r > static_cast<std::size_t>(kAlphabetSize))
            r -= kAlphabetSize;
    return static_cast<int>(r);
}

CipherKey CipherKey::ForGame(GameSelection game) {
    const bool listed = game >= 0 && game < static_cast<GameSelection>(GameOffsets.size());
    return listed ? FromOffset(GameOffsets[static_cast<std::size_t>(game)]) : None();
}

CipherKey CipherKey::None() {
    return {};
}

CipherKey CipherKey::FromOffset(int offset) {
    CipherKey key;
    if (offset >= 0 && offset < kAlphabetSize)
        key.m_offset = offset;
    return key;
}

std::optional<int> CipherKey::Offset() const {
    return m_offset < 0 ? std::nullopt : std::optional<int>(m_offset);
}

int LineShift(int reducedLength, CipherKey key) {
    const std::optional<int> offset = key.Offset();
    if (!offset)
        return 0;
    const int k = *offset;
    if (reducedLength == k)
        return 0;
    if (reducedLength < k)
        return kAlphabetSize - (k - reducedLength);
    return reducedLength - k;
}

int LineShift(int reducedLength, GameSelection game) {
    return LineShift(reducedLength, CipherKey::ForGame(game));
}

unsigned char EncryptChar(unsigned char c, int shift) {
    return EncryptByte(c, shift);
}

unsigned char DecryptChar(unsigned char c, int shift) {
    return DecryptByte(c, shift);
}

SegmentFacts TransformSegment(const char* line, std::size_t length, CipherMode mode, CipherKey key,
                              char* out) {
    return TransformSegmentByShift(line, length, mode, LineShift(ReduceLineLength(length), key),
                                   out);
}

SegmentFacts TransformSegmentByShift(const char* line, std::size_t length, CipherMode mode,
                                     int shift, char* out) {
    const bool known = mode == kEncrypt || mode == kDecrypt;
    if (known && shift >= 0 && shift <= kMaxShift) {
        Watch watch;
        if (mode == kEncrypt)
            TransformRun<true>(line, length, shift, out, watch);
        else
            TransformRun<false>(line, length, shift, out, watch);
        return {simd::Any(watch.unprintable) ? CountLossyBytes({line, length}) : 0,
                simd::Any(watch.lineFeeds)};
    }
    // An unknown mode copies; only a line longer than any the run produces gets a shift
    // above 95.
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        out[i] = static_cast<char>(!known             ? c
                                   : mode == kEncrypt ? EncryptChar(c, shift)
                                                      : DecryptChar(c, shift));
    }
    return {CountLossyBytes({line, length}), std::memchr(out, '\n', length) != nullptr};
}

void TransformLine(const char* line, std::size_t length, CipherMode mode, CipherKey key,
                   char* out) {
    TransformSegment(line, length, mode, key, out);
}

std::string TransformLine(std::string_view line, CipherMode mode, CipherKey key) {
    std::string out(line.size(), '\0');
    TransformLine(line.data(), line.size(), mode, key, out.data());
    return out;
}

std::size_t CountLossyBytes(std::string_view text) {
    std::size_t lossy = 0;
    std::size_t i = 0;
    for (; i + kWidth <= text.size(); i += kWidth) {
        const Bytes c = simd::Load(text.data() + i);
        const Bytes unprintable = simd::Unprintable(c);
        if (simd::Any(unprintable))
            lossy += static_cast<std::size_t>(
                __builtin_popcount(simd::Bits(unprintable & ~simd::PassThrough(c))));
    }
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        lossy += !(IsPrintable(c) || IsPassThrough(c));
    }
    return lossy;
}

} // namespace quorvex
