#include "quorvex/cipher.h"

#include <algorithm>

namespace quorvex {

namespace {

constexpr bool IsPassThrough(unsigned char c) {
    return std::find(PassThroughChars.begin(), PassThroughChars.end(), c) !=
           PassThroughChars.end();
}

// Bytes 128 to 255 take part in the arithmetic as negative values.
constexpr int SignedValue(unsigned char c) { return static_cast<signed char>(c); }

constexpr unsigned char LowByte(int value) { return static_cast<unsigned char>(value & 0xFF); }

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

// One 256-entry table per shift turns the per-byte work of a line into a single lookup.
using ByteTable = std::array<unsigned char, 256>;
using ShiftTables = std::array<ByteTable, kMaxShift + 1>;

template <unsigned char (*Transform)(unsigned char, int)>
constexpr ShiftTables MakeTables() {
    ShiftTables tables{};
    for (int shift = 0; shift <= kMaxShift; ++shift)
        for (int c = 0; c < 256; ++c)
            tables[shift][c] = Transform(static_cast<unsigned char>(c), shift);
    return tables;
}

constexpr ShiftTables kEncryptTables = MakeTables<EncryptByte>();
constexpr ShiftTables kDecryptTables = MakeTables<DecryptByte>();

void ApplyTable(const ByteTable& table, const char* line, std::size_t length, char* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(line);
    auto* dst = reinterpret_cast<unsigned char*>(out);
    for (std::size_t i = 0; i < length; ++i)
        dst[i] = table[in[i]];
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

int LineShift(int reducedLength, GameSelection game) {
    if (game < 0 || game >= static_cast<GameSelection>(GameOffsets.size()))
        return 0;
    const int k = GameOffsets[static_cast<std::size_t>(game)];
    if (reducedLength == k)
        return 0;
    if (reducedLength < k)
        return kAlphabetSize - (k - reducedLength);
    return reducedLength - k;
}

unsigned char EncryptChar(unsigned char c, int shift) { return EncryptByte(c, shift); }

unsigned char DecryptChar(unsigned char c, int shift) { return DecryptByte(c, shift); }

void TransformLine(const char* line, std::size_t length, CipherMode mode, GameSelection game,
                   char* out) {
    if (mode != kEncrypt && mode != kDecrypt) {
        std::copy(line, line + length, out);
        return;
    }
    const int shift = LineShift(ReduceLineLength(length), game);
    if (shift >= 0 && shift <= kMaxShift) {
        const ShiftTables& tables = mode == kEncrypt ? kEncryptTables : kDecryptTables;
        ApplyTable(tables[static_cast<std::size_t>(shift)], line, length, out);
        return;
    }
    // Only a line longer than any the run produces can get here.
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        out[i] = static_cast<char>(mode == kEncrypt ? EncryptChar(c, shift)
                                                    : DecryptChar(c, shift));
    }
}

std::string TransformLine(std::string_view line, CipherMode mode, GameSelection game) {
    std::string out(line.size(), '\0');
    TransformLine(line.data(), line.size(), mode, game, out.data());
    return out;
}

} // namespace quorvex
