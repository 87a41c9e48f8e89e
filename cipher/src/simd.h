#pragma once

// The vector operations of the line transform, on the widest vectors the including file is
// compiled for: 32 bytes where the compiler may use AVX2, 16 elsewhere (SSE2, or portable
// code on processors without it). Everything here has internal linkage, so that a copy
// built for AVX2 can never be linked into code that runs without it.

#include "quorvex/cipher.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace quorvex::simd {
namespace {

#if defined(__AVX2__)
constexpr std::size_t kWidth = 32;
#else
constexpr std::size_t kWidth = 16;
#endif
using Bytes = unsigned char __attribute__((vector_size(kWidth)));
using SignedBytes = signed char __attribute__((vector_size(kWidth)));

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

inline SignedBytes Signed(Bytes b) {
    return reinterpret_cast<SignedBytes>(b);
}

// 0, 1, 2 ... from the first byte on.
inline Bytes Index() {
    Bytes index{};
    for (std::size_t i = 0; i < kWidth; ++i)
        index[i] = static_cast<unsigned char>(i);
    return index;
}

// A comparison's result as bytes of 0 or 0xFF.
template <typename Mask> inline Bytes AsBytes(Mask mask) {
    return reinterpret_cast<Bytes>(mask);
}

// One bit per byte of a comparison's result, the first byte lowest.
inline std::uint32_t Bits(Bytes mask) {
#if defined(__AVX2__)
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(reinterpret_cast<__m256i>(mask)));
#elif defined(__SSE2__)
    return static_cast<std::uint32_t>(_mm_movemask_epi8(reinterpret_cast<__m128i>(mask)));
#else
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < kWidth; ++i)
        bits |= std::uint32_t{mask[i] >> 7} << i;
    return bits;
#endif
}

inline bool Any(Bytes mask) {
    return Bits(mask) != 0;
}

// Bytes of 32..126, with one comparison: adding 1 moves 127 and the bytes from 128 on to
// signed values of 0 and less, below 33 like the control bytes.
inline Bytes Printable(Bytes c) {
    return AsBytes(Signed(c + 1) > kAlphabetFirst);
}

inline Bytes Unprintable(Bytes c) {
    return ~Printable(c);
}

inline Bytes PassThrough(Bytes c) {
    Bytes keep = AsBytes(c == PassThroughChars[0]);
    for (std::size_t i = 1; i < PassThroughChars.size(); ++i)
        keep |= AsBytes(c == PassThroughChars[i]);
    return keep;
}

// The smaller of each pair, both taken as unsigned.
inline Bytes Min(Bytes a, Bytes b) {
#if defined(__AVX2__)
    return reinterpret_cast<Bytes>(
        _mm256_min_epu8(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
#elif defined(__SSE2__)
    return reinterpret_cast<Bytes>(
        _mm_min_epu8(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#else
    for (std::size_t i = 0; i < kWidth; ++i)
        a[i] = b[i] < a[i] ? b[i] : a[i];
    return a;
#endif
}

// Where `keep` is set the byte of `original`, elsewhere that of `changed`.
inline Bytes Select(Bytes keep, Bytes original, Bytes changed) {
    return (original & keep) | (changed & ~keep);
}

// One shift for every byte, with exactly the arithmetic of EncryptChar and DecryptChar
// but for the pass-through bytes, which the caller keeps: a byte wraps exactly when its
// signed value passes a limit that depends only on the shift, and 8-bit sums wrap like
// the low 8 bits of the wider result.
template <bool kEncrypt> class Rotation {
public:
    explicit Rotation(unsigned char shift) : Rotation(shift, Limit(shift)) {}
    // With the limit looked up rather than worked out, as a run does for every line.
    Rotation(unsigned char shift, unsigned char limit)
        : m_shift(Splat(shift)), m_limit(Splat(limit)) {}

    static constexpr unsigned char Limit(unsigned char shift) {
        return static_cast<unsigned char>(kEncrypt ? kAlphabetLast - shift
                                                   : kAlphabetFirst + shift);
    }

    Bytes operator()(Bytes c) const {
        const Bytes size = Splat(kAlphabetSize);
        if constexpr (kEncrypt)
            return c + m_shift - (AsBytes(Signed(c) > Signed(m_limit)) & size);
        else
            return c - m_shift + (AsBytes(Signed(c) < Signed(m_limit)) & size);
    }

private:
    Bytes m_shift;
    Bytes m_limit;
};

// The same rotation for bytes known to be printable, with one constant per shift: the key
// moves a byte from 32..126 to 0..94 and adds the shift (or takes it away), which leaves
// it in -95..189; of that and of it minus 95 (or plus 95), the smaller one taken as
// unsigned is the one in 0..94, which is moved back.
template <bool kEncrypt> class PrintableRotation {
public:
    static constexpr unsigned char Key(unsigned char shift) {
        return static_cast<unsigned char>(kEncrypt ? shift - kAlphabetFirst
                                                   : -(shift + kAlphabetFirst));
    }

    static Bytes Rotate(Bytes c, Bytes key) {
        const Bytes moved = c + key;
        const Bytes other = kEncrypt ? moved - Splat(kAlphabetSize) : moved + Splat(kAlphabetSize);
        return Min(moved, other) + Splat(kAlphabetFirst);
    }
};

} // namespace
} // namespace quorvex::simd
