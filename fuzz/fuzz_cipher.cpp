// The line cipher: every line keeps its length whatever its bytes, the 16-byte
// transform and the count of lossy bytes agree with their byte-at-a-time definitions,
// and deciphering undoes enciphering for every line of printable and pass-through bytes
// under every game.

#include "quorvex/cipher.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace quorvex;

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// Folds any byte onto the bytes that survive a round trip.
char Survivor(std::uint8_t byte) {
    constexpr int kSurvivors = kAlphabetSize + static_cast<int>(PassThroughChars.size());
    const int pick = byte % kSurvivors;
    return static_cast<char>(pick < kAlphabetSize ? kAlphabetFirst + pick
                                                  : PassThroughChars[pick - kAlphabetSize]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const GameSelection game = static_cast<GameSelection>(data[0] % 6) - 1; // -1 .. 4
    const std::string line(
        reinterpret_cast<const char*>(data + 1),
        std::min<std::size_t>(size - 1, 700)); // longer than a segment: shifts past 95
    const int shift = LineShift(ReduceLineLength(line.size()), game);

    const auto lossy = std::count_if(line.begin(), line.end(), [](unsigned char b) {
        return (b < kAlphabetFirst || b > kAlphabetLast) &&
               std::ranges::find(PassThroughChars, b) == PassThroughChars.end();
    });
    Require(CountLossyBytes(line) == static_cast<std::size_t>(lossy));

    for (CipherMode mode : {kEncrypt, kDecrypt}) {
        const std::string out = TransformLine(line, mode, CipherKey::ForGame(game));
        Require(out.size() == line.size());
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            Require(static_cast<unsigned char>(out[i]) ==
                    (mode == kEncrypt ? EncryptChar(c, shift) : DecryptChar(c, shift)));
        }
    }

    std::string survivors(line.size(), ' ');
    for (std::size_t i = 0; i < line.size(); ++i)
        survivors[i] = Survivor(static_cast<std::uint8_t>(line[i]));
    // Lengths past 570 do not fold into 0..95; the run never hands over such a line.
    for (GameSelection g = 0; g < 4 && ReduceLineLength(line.size()) <= kAlphabetSize; ++g)
        Require(TransformLine(TransformLine(survivors, kEncrypt, CipherKey::ForGame(g)), kDecrypt,
                              CipherKey::ForGame(g)) == survivors);
    return 0;
}
