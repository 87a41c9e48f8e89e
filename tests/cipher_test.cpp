// The line cipher and the run's format by example; the fuzz targets check both on made-up input.

#include "quorvex/cipher.h"
#include "quorvex/line_stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace quorvex {
namespace {

std::string Printable(std::size_t length, unsigned seed = 1) {
    std::string line(length, ' ');
    for (std::size_t i = 0; i < length; ++i)
        line[i] = static_cast<char>(kAlphabetFirst + (i * 37 + seed * 11) % kAlphabetSize);
    return line;
}

TEST(Cipher, LengthsFoldAndShiftsFollowTheOffset) {
    // clang-format off
    const struct { std::size_t length; int reduced; } folds[] = {
        {0, 0}, {94, 94}, {95, 95}, {96, 1}, {190, 95}, {191, 1}, {500, 25}, {570, 95}};
    for (const auto& f : folds)
        EXPECT_EQ(ReduceLineLength(f.length), f.reduced) << f.length;

    const auto game = CipherKey::ForGame;
    const auto offset = CipherKey::FromOffset;
    const struct { int reduced; CipherKey key; int shift; } shifts[] = {
        {GameOffsets[0], game(0), 0}, {GameOffsets[0] - 1, game(0), 94}, {GameOffsets[0] + 1, game(0), 1},
        {0, game(3), kAlphabetSize - GameOffsets[3]}, {95, game(1), 95 - GameOffsets[1]}, {50, game(-1), 0},
        {50, game(4), 0}, {50, CipherKey::None(), 0}, {95, offset(0), 95}, {94, offset(0), 94},
        {40, offset(94), 41}, {40, offset(95), 0}, {40, offset(-1), 0}};
    // clang-format on
    for (const auto& s : shifts)
        EXPECT_EQ(LineShift(s.reduced, s.key), s.shift) << s.reduced;
    for (GameSelection game = 0; game < 4; ++game)
        for (int r = 0; r <= 95; ++r)
            ASSERT_EQ(LineShift(r, CipherKey::FromOffset(GameOffsets[game])), LineShift(r, game));
    // A mode other than 0 or 1 copies.
    EXPECT_EQ(TransformLine("abc", 5, CipherKey::ForGame(0)), "abc");
}

// The four game keys, pinned by the bytes users' files already hold: were a key mistyped,
// no file enciphered for that game would decipher any more. A CR LF line, a pass-through
// letter, a line of 600 bytes (two segments) and a last line without its LF.
TEST(Cipher, GameKeysGiveTheBytesUsersFilesHold) {
    const std::string text = "Tag, W\366rld!\r\n" + std::string(600, 'a') + "\nlast";
    const std::string back = "Tag, W\366rld!\r\n" + std::string(600, 'a') + "\r\nlast\r\n";
    const auto enciphered = [](std::string head, char first, char second, std::string tail) {
        return head + std::string(511, first) + std::string(89, second) + "\r\n" + tail;
    };
    const std::string known[] = {enciphered("HU[ sK\366f`Xt\r\n", 'n', 'D', "YN`a\r\n"),
                                 enciphered("%28\\P(\366C=5Q\r\n", 'K', '!', "6+=>\r\n"),
                                 enciphered("Xek0$[\366vph%\r\n", '~', 'T', "i^pq\r\n"),
                                 enciphered("mz!E9p\366,&}:\r\n", '4', 'i', "~s&'\r\n")};
    for (GameSelection game = 0; game < 4; ++game) {
        const CipherKey key = CipherKey::ForGame(game);
        EXPECT_EQ(TranscodeText(text, kEncrypt, key), known[game]) << GameNames[game];
        EXPECT_EQ(TranscodeText(known[game], kDecrypt, key), back) << GameNames[game];
    }
}

TEST(Cipher, BytesRotateWithinTheAlphabetOrPassUnchanged) {
    // clang-format off
    const struct { unsigned char in; int shift; unsigned char encrypted, decrypted; } cases[] = {
        {'A', 10, 'K', '7'},   {'~', 1, ' ', '}'},     {' ', 1, '!', '~'},
        {'q', 95, 'q', 'q'},   {0x09, 50, 0x09, 0x09}, {0xE4, 37, 0xE4, 0xE4},
        {0xF6, 3, 0xF6, 0xF6}, {0xFC, 3, 0xFC, 0xFC},  {0xE1, 3, 0xE1, 0xE1},
        {0xF3, 3, 0xF3, 0xF3}, {0xED, 1, 0xED, 0xED},  {0x00, 10, 0x0A, 85},
        {127, 0, 32, 127},     {127, 5, 37, 122},      {0xFF, 11, 0x0A, 0xFF - 11 + 95 - 256},
        {0x80, 0, 0x80, 0xDF}, {0xE5, 5, 0xEA, 0x3F}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(EncryptChar(c.in, c.shift), c.encrypted) << int(c.in) << " by " << c.shift;
        EXPECT_EQ(DecryptChar(c.in, c.shift), c.decrypted) << int(c.in) << " by " << c.shift;
    }
}

// One segment as it lands on disk: transformed, with any LF it became stored as CR LF.
std::string Seg(const std::string& segment, GameSelection game = 0) {
    std::string out;
    for (char c : TransformLine(segment, kEncrypt, CipherKey::ForGame(game)))
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

// What generated inputs seldom hold; fuzz_run checks the rest of the format.
TEST(Stream, FollowsTheLineConventions) {
    const std::string crlf = "\r\n", l511 = Printable(511), l510 = Printable(510),
                      l78 = Printable(78, 3);
    const std::string toLineFeed = std::string(1, '\0') + Printable(GameOffsets[0] + 9);
    ASSERT_EQ(Seg(toLineFeed).find(crlf), 0u) << "the case below must really produce an LF";
    // clang-format off
    const struct { std::string input, expected; } cases[] = {
        {"", ""},
        {"ab\r\r\nlast", Seg("ab\r") + crlf + Seg("last") + crlf},
        {std::string("a\0\x1A\n", 4), Seg(std::string("a\0\x1A", 3)) + crlf},
        {toLineFeed + "\n", Seg(toLineFeed) + crlf},
        {l511 + l511 + l78 + "\n", Seg(l511) + Seg(l511) + Seg(l78) + crlf},
        {l511 + l511, Seg(l511) + Seg(l511) + crlf},
        {l511 + "\r", Seg(l511) + Seg("\r") + crlf},
        {l511 + "\r\n", Seg(l511) + crlf},
        {"\n" + l510 + "\r\n", crlf + Seg(l510) + crlf}};
    // clang-format on
    StreamOptions blockEndsAfterCr; // for the last case
    blockEndsAfterCr.inputBlock = 511;
    for (const auto& c : cases) {
        EXPECT_EQ(TranscodeText(c.input, kEncrypt, CipherKey::ForGame(0)), c.expected)
            << c.input.size();
        EXPECT_EQ(TranscodeText(c.input, kEncrypt, CipherKey::ForGame(0), blockEndsAfterCr),
                  c.expected)
            << c.input.size();
    }
    EXPECT_EQ(TranscodeText("ab\r\ncd\n", CipherMode{5}, CipherKey::ForGame(0)),
              "ab\r\ncd\r\n"); // copied

    // The vector path writes a few kilobytes of lines before it hands a block on. The most
    // they can come to: a line that began in the kilobytes before (which held long lines),
    // then nothing but line ends, with the output a little short of a block.
    std::string input, expected;
    for (int i = 0; i < 14; ++i) {
        input += l78.substr(0, 50) + l510.substr(0, 200) + "\n";
        expected += Seg(l78.substr(0, 50) + l510.substr(0, 200)) + crlf;
    }
    input += l78.substr(0, 70) + "\n" + l511 + std::string(4096, '\n');
    expected += Seg(l78.substr(0, 70)) + crlf + Seg(l511);
    for (int i = 0; i < 4096; ++i)
        expected += crlf;
    StreamOptions nearlyFull;
    for (nearlyFull.outputBlock = 3450; nearlyFull.outputBlock < 3900; nearlyFull.outputBlock += 9)
        ASSERT_EQ(TranscodeText(input, kEncrypt, CipherKey::ForGame(0), nearlyFull), expected)
            << nearlyFull.outputBlock;
    // The same after 8 KiB of short lines, whose number puts the start of those line ends
    // anywhere from 15.5 to 20 KiB into the output, where a smaller buffer that the lines
    // go through first may fill up.
    for (std::size_t lines = 3600; lines < 8192; lines += 7) {
        std::string before, written;
        for (std::size_t i = 0; i < lines; ++i) {
            const std::string line = l78.substr(0, (8192 - lines) / lines + (i < 8192 % lines));
            before += line + "\n";
            written += Seg(line) + crlf;
        }
        ASSERT_EQ(TranscodeText(before + input, kEncrypt, CipherKey::ForGame(0)),
                  written + expected)
            << lines;
    }

    // Runs of lines that end alike, and one CR that breaks the run, at every place around
    // the edge of those kilobytes and of the words within them, on either vector path: a
    // CR LF among bare LFs, or a CR without its LF among CR LFs or among line ends of both
    // kinds.
    const struct {
        const char* name;
        bool lone; // the CR stays in its line
        std::string (*end)(std::size_t line);
    } runs[] = {
        {"CR LF among LF", false, [](std::size_t) { return std::string("\n"); }},
        {"lone CR among CR LF", true, [](std::size_t) { return std::string("\r\n"); }},
        {"lone CR among both", true,
         [](std::size_t line) { return std::string(line % 3 ? "\r\n" : "\n"); }},
    };
    for (const auto& run : runs) {
        for (const VectorPath path : {VectorPath::Best, VectorPath::Baseline}) {
            StreamOptions options;
            options.vectors = path;
            for (std::size_t cr = 4096 - 70; cr < 4096 + 70; ++cr) {
                input.clear();
                expected.clear();
                for (std::size_t line = 0; input.size() < 3 * 4096; ++line) {
                    const bool odd = input.size() <= cr && cr <= input.size() + 60;
                    std::string text = l78.substr(0, odd ? cr - input.size() : 60);
                    if (odd && run.lone)
                        text += '\r' + l78.substr(0, 9);
                    input += text + (odd && !run.lone ? crlf : run.end(line));
                    expected += Seg(text) + crlf;
                }
                ASSERT_EQ(TranscodeText(input, kEncrypt, CipherKey::ForGame(0), options), expected)
                    << run.name << ", CR at " << cr
                    << (path == VectorPath::Best ? "" : ", baseline");
            }
        }
    }
}

class Source : public ByteSource {
public:
    explicit Source(std::string text, int failAfter = -1)
        : m_text(std::move(text)), m_left(failAfter) {}
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError& error) override {
        if (m_left-- == 0) {
            error = EIO;
            return -1;
        }
        const std::size_t n = std::min(capacity, m_text.size() - m_at);
        m_text.copy(buffer, n, m_at);
        m_at += n;
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    std::string m_text;
    std::size_t m_at = 0;
    int m_left;
};

class Disk : public ByteSink {
public:
    explicit Disk(std::size_t capacity) : m_capacity(capacity) {}
    bool Write(const char*, std::size_t size, SystemError& error) override {
        EXPECT_FALSE(m_full) << "a write after a failed one";
        m_full = size > m_capacity;
        if (m_full)
            error = ENOSPC;
        m_capacity -= m_full ? 0 : size;
        return !m_full;
    }

private:
    std::size_t m_capacity;
    bool m_full = false;
};

TEST(Stream, CountsLossyBytesAndStopsAtTheFirstFailure) {
    const std::string lines = std::string(300000, 'x') + "\nok\r\nlone\rcr\n\x01\x02\n";
    StreamOptions options; // with an output block that the first read fills
    options.outputBlock = options.inputBlock;
    std::string clean; // fills an output block before the second read
    while (clean.size() < 600000)
        clean += "clean line\n";
    // clang-format off
    const struct {
        std::string input; int failAfter; std::size_t disk; StreamStatus status; SystemError error;
        std::uint64_t lossy, firstLine;
    } cases[] = {
        {"plain\r\ntext\t\xE4\n", -1, 1 << 20, StreamStatus::Completed, 0, 0, 0},
        {"a\nb\nc\x01\x02\n\x03", -1, 1 << 20, StreamStatus::Completed, 0, 3, 3},
        {lines, -1, 1 << 20, StreamStatus::Completed, 0, 3, 3},
        {"x\n" + Printable(600) + "\x7F\n", -1, 1 << 20, StreamStatus::Completed, 0, 1, 2},
        {std::string(9000, '\x01') + "\n", -1, 1 << 20, StreamStatus::Completed, 0, 9000, 1},
        {lines, 1, 1 << 20, StreamStatus::ReadFailed, EIO, 0, 0},
        {lines, -1, 1000, StreamStatus::WriteFailed, ENOSPC, 0, 0},
        {"short\n", -1, 3, StreamStatus::WriteFailed, ENOSPC, 0, 0},
        {clean, 1, 0, StreamStatus::WriteFailed, ENOSPC, 0, 0}};
    // clang-format on
    for (const auto& c : cases) {
        Source source(c.input, c.failAfter);
        Disk disk(c.disk);
        const StreamResult result =
            TranscodeStream(source, disk, kEncrypt, CipherKey::ForGame(0), options);
        EXPECT_EQ(result.status, c.status) << c.input.size();
        EXPECT_EQ(result.error, c.error) << c.input.size();
        EXPECT_EQ(result.lossyBytes, c.lossy) << c.input.size();
        EXPECT_EQ(result.firstLossyLine, c.firstLine) << c.input.size();
    }
}

} // namespace
} // namespace quorvex
