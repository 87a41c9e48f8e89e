#include "quorvex/cipher.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quorvex {
namespace {

TEST(ReduceLineLength, FoldsIntoZeroToNinetyFive) {
    const struct {
        std::size_t length;
        int reduced;
    } cases[] = {{0, 0},    {1, 1},   {94, 94},  {95, 95},  {96, 1},
                 {190, 95}, {191, 1}, {500, 25}, {511, 36}, {570, 95}};
    for (const auto& c : cases)
        EXPECT_EQ(ReduceLineLength(c.length), c.reduced) << "length " << c.length;
}

TEST(GameOffsets, AreFourDistinctKeysOfTheAlphabet) {
    const std::set<int> distinct(GameOffsets.begin(), GameOffsets.end());
    EXPECT_EQ(distinct.size(), GameOffsets.size());
    for (int k : GameOffsets) {
        EXPECT_GE(k, 0);
        EXPECT_LE(k, 94);
    }
}

TEST(LineShift, ComparesReducedLengthWithTheGameOffset) {
    const int k0 = GameOffsets[0];
    const int k3 = GameOffsets[3];
    const struct {
        int reduced;
        GameSelection game;
        int shift;
    } cases[] = {
        {k0, 0, 0},                   // equal: no rotation
        {k0 - 1, 0, 94},              // just below wraps to the top
        {k0 + 1, 0, 1},               // just above
        {0, 0, 95 - k0},              // empty line
        {95, 3, 95 - k3},             // the unfolded 95
        {k3 - 31, 3, 95 - 31},        //
        {50, -1, 0},                  // no game chosen
        {50, 4, 0},                   // outside the table
        {GameOffsets[1], 1, 0},       //
        {GameOffsets[2] + 40, 2, 40}, //
    };
    for (const auto& c : cases)
        EXPECT_EQ(LineShift(c.reduced, c.game), c.shift) << "R " << c.reduced << " game " << c.game;
}

TEST(CharCipher, RotatesWithinTheAlphabetAndLeavesPassThroughBytes) {
    const struct {
        const char* what;
        unsigned char in;
        int shift;
        unsigned char encrypted;
        unsigned char decrypted;
    } cases[] = {
        {"plain letter", 'A', 10, 'K', '7'},
        {"top wraps to bottom", '~', 1, ' ', '}'},
        {"bottom wraps to top", ' ', 1, '!', '~'},
        {"shift 95 is identity for printables", 'q', 95, 'q', 'q'},
        {"tab passes", 0x09, 50, 0x09, 0x09},
        {"a-umlaut passes", 0xE4, 37, 0xE4, 0xE4},
        {"i-acute passes", 0xED, 1, 0xED, 0xED},
        {"zero byte", 0x00, 10, 0x0A, 85},
        {"DEL wraps on encrypt only", 127, 0, 32, 127},
        {"DEL with shift", 127, 5, 37, 122},
        {"high byte is negative", 0xFF, 11, 0x0A, 0xFF - 11 + 95 - 256},
        {"lowest high byte", 0x80, 0, 0x80, 0xDF},
        {"high byte that is no pass-through letter", 0xE5, 5, 0xEA, 0x3F},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncryptChar(c.in, c.shift), c.encrypted) << c.what;
        EXPECT_EQ(DecryptChar(c.in, c.shift), c.decrypted) << c.what;
    }
}

TEST(CharCipher, DecryptUndoesEncryptForEveryPrintableAtEveryShift) {
    for (int shift = 0; shift <= kMaxShift; ++shift) {
        for (int c = kAlphabetFirst; c <= kAlphabetLast; ++c) {
            const unsigned char e = EncryptChar(static_cast<unsigned char>(c), shift);
            ASSERT_GE(e, kAlphabetFirst);
            ASSERT_LE(e, kAlphabetLast);
            ASSERT_EQ(DecryptChar(e, shift), c) << "c " << c << " shift " << shift;
        }
    }
}

std::string Printable(std::size_t length) {
    std::string line;
    for (std::size_t i = 0; i < length; ++i)
        line += static_cast<char>(kAlphabetFirst + (i * 37 + 11) % kAlphabetSize);
    return line;
}

TEST(TransformLine, RoundTripsPrintableLinesOfEveryLengthUnderEveryGame) {
    for (GameSelection game = 0; game < 4; ++game) {
        for (std::size_t length = 0; length <= 511; ++length) {
            const std::string line = Printable(length) + (length > 3 ? "\t\xE4\xF3" : "");
            const std::string enciphered = TransformLine(line, kEncrypt, game);
            ASSERT_EQ(enciphered.size(), line.size());
            ASSERT_EQ(TransformLine(enciphered, kDecrypt, game), line)
                << "game " << game << " length " << line.size();
        }
    }
}

TEST(TransformLine, UsesOneShiftPerLine) {
    const struct {
        const char* what;
        std::string line;
        CipherMode mode;
        GameSelection game;
        std::string expected;
    } cases[] = {
        {"empty line", "", kEncrypt, 2, ""},
        {"length equal to the offset is unchanged", Printable(GameOffsets[1]), kEncrypt, 1,
         Printable(GameOffsets[1])},
        {"no game leaves printables", "Hello\t\xE4", kDecrypt, -1, "Hello\t\xE4"},
        {"no game still moves control bytes up on decrypt", std::string("\x01\x7F\xC0", 3),
         kDecrypt, 7, std::string("\x60\x7F\x1F", 3)},
        {"no game turns DEL into space on encrypt", "\x7F", kEncrypt, 9, " "},
        {"unknown mode copies", "abc", 5, 0, "abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TransformLine(c.line, c.mode, c.game), c.expected) << c.what;

    // Every byte of a line moves by the same amount, taken from the line's length.
    const std::string line(GameOffsets[0] + 3, 'A');
    EXPECT_EQ(TransformLine(line, kEncrypt, 0), std::string(line.size(), 'D'));
    EXPECT_NE(TransformLine(line, kEncrypt, 1), TransformLine(line, kEncrypt, 0));
}

TEST(TransformLine, AgreesWithTheCharCipherForEveryByteLengthAndGame) {
    // The line transform works on many bytes at once; it must give exactly what the
    // byte-at-a-time definition gives, in whole blocks and in the tail of a line.
    for (GameSelection game = 0; game < 4; ++game) {
        for (std::size_t length = 1; length <= 200; ++length) {
            const int shift = LineShift(ReduceLineLength(length), game);
            for (int first = 0; first < 256; ++first) {
                std::string line(length, '\0');
                for (std::size_t i = 0; i < length; ++i)
                    line[i] = static_cast<char>((first + i) & 0xFF);
                const std::string enc = TransformLine(line, kEncrypt, game);
                const std::string dec = TransformLine(line, kDecrypt, game);
                for (std::size_t i = 0; i < length; ++i) {
                    const auto c = static_cast<unsigned char>(line[i]);
                    ASSERT_EQ(static_cast<unsigned char>(enc[i]), EncryptChar(c, shift))
                        << "byte " << int(c) << " shift " << shift;
                    ASSERT_EQ(static_cast<unsigned char>(dec[i]), DecryptChar(c, shift))
                        << "byte " << int(c) << " shift " << shift;
                }
            }
        }
    }
}

TEST(TransformLine, LinesLongerThanTheReaderGivesFollowTheArithmetic) {
    // 600 bytes fold to 125 after five passes; the result must still be the plain
    // per-byte arithmetic, not a table lookup out of range.
    const std::string line = Printable(600);
    const int shift = LineShift(ReduceLineLength(line.size()), 0);
    ASSERT_GT(shift, kMaxShift);
    const std::string out = TransformLine(line, kEncrypt, 0);
    for (std::size_t i = 0; i < line.size(); ++i)
        ASSERT_EQ(static_cast<unsigned char>(out[i]),
                  EncryptChar(static_cast<unsigned char>(line[i]), shift));
}

} // namespace
} // namespace quorvex

namespace quorvex {
namespace {

TEST(CipherKey, AnOffsetActsLikeTheGameWithThatOffset) {
    for (GameSelection game = 0; game < 4; ++game) {
        const CipherKey byOffset = CipherKey::FromOffset(GameOffsets[game]);
        for (int r = 0; r <= 95; ++r)
            ASSERT_EQ(LineShift(r, byOffset), LineShift(r, game));
    }
    EXPECT_EQ(LineShift(95, CipherKey::FromOffset(0)), 95); // the one shift of 95
    EXPECT_EQ(LineShift(94, CipherKey::FromOffset(0)), 94);
    EXPECT_EQ(LineShift(40, CipherKey::FromOffset(94)), 41);
    for (int outside : {-1, 95, 1000})
        EXPECT_FALSE(CipherKey::FromOffset(outside).Offset()) << outside;
}

TEST(CountLossyBytes, CountsWhatARoundTripWouldNotGiveBack) {
    const std::string printable = Printable(200);
    const struct {
        const char* what;
        std::string text;
        std::size_t lossy;
    } cases[] = {
        {"nothing", "", 0},
        {"printable text", printable, 0},
        {"tab and the six letters", "\t\xE4\xF6\xFC\xE1\xF3\xED", 0},
        {"a control byte",
         "a\x01"
         "b",
         1},
        {"DEL", "\x7F", 1},
        {"UTF-8 a-umlaut is two lossy bytes", "\xC3\xA4", 2},
        {"a lone CR", "a\rb", 1},
        {"in a block and in the tail",
         printable.substr(0, 20) + "\x80" + printable.substr(0, 40) + "\x1B", 2},
        {"every high byte but the six letters", std::string("\x80\xE0\xE4\xFF", 4), 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CountLossyBytes(c.text), c.lossy) << c.what;
}

} // namespace
} // namespace quorvex
