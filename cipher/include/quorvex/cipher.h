#pragma once

// The line cipher: every byte of a line is rotated within the 95 printable ASCII
// characters by one shift, derived from the line's length and the game's offset.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex {

// 0 = encrypt, 1 = decrypt, -1 when no mode is chosen.
using CipherMode = std::int32_t;
// 0 to 3, the position of the game in the dialog; anything else means shift 0.
using GameSelection = std::int32_t;

inline constexpr CipherMode kEncrypt = 0;
inline constexpr CipherMode kDecrypt = 1;

inline constexpr int kAlphabetFirst = 32;
inline constexpr int kAlphabetLast = 126;
inline constexpr int kAlphabetSize = 95;
inline constexpr int kMaxShift = 95;

// The cipher's keys: a file enciphered under one game deciphers only under the same one.
inline constexpr std::array<int, 4> GameOffsets{23, 58, 7, 81};

// The names the dialog shows for the games, in GameSelection order.
inline constexpr std::array<std::string_view, 4> GameNames{"Tarnholm", "Velmire", "Ostrand",
                                                           "Carrowmere"};

// Tab and the Latin-1 letters ä ö ü á ó í are copied unchanged in both directions.
inline constexpr std::array<unsigned char, 7> PassThroughChars{0x09, 0xE4, 0xF6, 0xFC,
                                                               0xE1, 0xF3, 0xED};

// What a line's length is compared with: the offset of one of the games, any offset
// 0 to 94 for a game the program does not list, or none, under which every shift is 0.
// A key is always named for what it is: a game's number is not an offset.
class CipherKey {
public:
    // The key of a game of the dialog; a selection outside 0 to 3 gives None.
    static CipherKey ForGame(GameSelection game);
    // The key of a game the program does not list; an offset outside 0 to 94 gives None.
    static CipherKey FromOffset(int offset);
    // The key under which every shift is 0.
    static CipherKey None();

    std::optional<int> Offset() const;

private:
    CipherKey() = default;
    int m_offset = -1;
};

int ReduceLineLength(std::size_t length);
int LineShift(int reducedLength, CipherKey key);
// As the dialog's run takes it: the game's position in the dialog.
int LineShift(int reducedLength, GameSelection game);
unsigned char EncryptChar(unsigned char c, int shift);
unsigned char DecryptChar(unsigned char c, int shift);

// Writes `length` transformed bytes of `line` to `out`. Mode 0 enciphers, mode 1
// deciphers; any other mode copies the line unchanged.
void TransformLine(const char* line, std::size_t length, CipherMode mode, CipherKey key, char* out);
std::string TransformLine(std::string_view line, CipherMode mode, CipherKey key);

// How many bytes of `text` would not come back from a round trip: all but printable
// ASCII and PassThroughChars.
std::size_t CountLossyBytes(std::string_view text);

} // namespace quorvex
