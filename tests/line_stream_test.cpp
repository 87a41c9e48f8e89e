#include "quorvex/line_stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

namespace quorvex {
namespace {

constexpr GameSelection kGame = 0;
const std::string kCrLf = "\r\n";

std::string Text(std::size_t length, char seed = 'a') {
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += static_cast<char>(' ' + (seed + i * 7) % 95);
    return text;
}

// One segment as it lands on disk: enciphered, with any LF it became stored as CR LF.
std::string Seg(const std::string& segment, CipherMode mode = kEncrypt) {
    std::string out;
    for (char c : TransformLine(segment, mode, kGame))
        out += c == '\n' ? kCrLf : std::string(1, c);
    return out;
}

TEST(TranscodeText, FollowsTheLineConventions) {
    const std::string l511 = Text(511), l78 = Text(78, 'x');
    const std::string lineToLf = std::string(1, '\0') + Text(GameOffsets[kGame] + 9);
    const struct {
        const char* what;
        std::string input;
        std::string expected;
    } cases[] = {
        {"empty input", "", ""},
        {"empty line", "\n", kCrLf},
        {"LF ends a line", "abc\n", Seg("abc") + kCrLf},
        {"CR LF ends a line and is not counted", "abc\r\nxy\r\n",
         Seg("abc") + kCrLf + Seg("xy") + kCrLf},
        {"a lone CR is part of the line", "a\rb\n", Seg("a\rb") + kCrLf},
        {"only the CR next to the LF is the line end", "ab\r\r\n", Seg("ab\r") + kCrLf},
        {"last line without LF is kept", "abc\nlast", Seg("abc") + kCrLf + Seg("last") + kCrLf},
        {"a CR at the very end is a byte", "ab\r", Seg("ab\r") + kCrLf},
        {"Ctrl-Z does not end the file",
         "a\x1A"
         "b\nc\n",
         Seg("a\x1A"
             "b") +
             kCrLf + Seg("c") + kCrLf},
        {"zero byte is an ordinary byte", std::string("a\0b\n", 4),
         Seg(std::string("a\0b", 3)) + kCrLf},
        {"an enciphered LF is stored as CR LF", lineToLf + "\n", Seg(lineToLf) + kCrLf},
        {"511 bytes are one segment", l511 + "\n", Seg(l511) + kCrLf},
        {"1,022 bytes are two full segments", l511 + l511 + "\r\n", Seg(l511) + Seg(l511) + kCrLf},
        {"1,100 bytes are 511 + 511 + 78", l511 + l511 + l78 + "\n",
         Seg(l511) + Seg(l511) + Seg(l78) + kCrLf},
        {"long last line without LF", l511 + l511, Seg(l511) + Seg(l511) + kCrLf},
        {"long line ending in CR at the end", l511 + "\r", Seg(l511) + Seg("\r") + kCrLf},
        {"512 bytes whose last is the CR of CR LF", l511 + "\r\n", Seg(l511) + kCrLf},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TranscodeText(c.input, kEncrypt, kGame), c.expected) << c.what;

    EXPECT_EQ(Seg(lineToLf).find(kCrLf), 0u) << "the case above must really produce an LF";
}

TEST(TranscodeText, RoundTripsPrintableFilesUnderEveryGame) {
    std::string input, expected;
    for (std::size_t length = 0; length < 1200; length += 37) {
        const std::string line = Text(length, static_cast<char>(length));
        input += line + (length % 2 ? "\r\n" : "\n");
        expected += line + kCrLf;
    }
    for (GameSelection game = 0; game < 4; ++game) {
        const std::string enciphered = TranscodeText(input, kEncrypt, game);
        EXPECT_NE(enciphered, expected);
        EXPECT_EQ(TranscodeText(enciphered, kDecrypt, game), expected) << "game " << game;
    }
}

// Hands out the input in reads of the given sizes, then of random sizes, as a pipe might.
class TricklingSource : public ByteSource {
public:
    TricklingSource(std::string text, unsigned seed, std::vector<std::size_t> sizes = {})
        : m_text(std::move(text)), m_sizes(std::move(sizes)), m_random(seed) {}
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError&) override {
        std::size_t n = m_next < m_sizes.size()
                            ? m_sizes[m_next++]
                            : std::uniform_int_distribution<std::size_t>(1, 600)(m_random);
        n = std::min({n, capacity, m_text.size() - m_pos});
        m_text.copy(buffer, n, m_pos);
        m_pos += n;
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    std::string m_text;
    std::size_t m_pos = 0;
    std::vector<std::size_t> m_sizes;
    std::size_t m_next = 0;
    std::mt19937 m_random;
};

std::string Trickled(const std::string& input, unsigned seed, std::vector<std::size_t> sizes = {}) {
    TricklingSource source(input, seed, std::move(sizes));
    StringSink sink;
    EXPECT_EQ(TranscodeStream(source, sink, kDecrypt, 3).status, StreamStatus::Completed);
    return sink.text;
}

TEST(TranscodeStream, ReadBoundariesDoNotMoveLineEndsOrSegments) {
    const std::string l511 = Text(511);
    const struct {
        const char* what;
        std::string input;
        std::vector<std::size_t> reads;
    } cases[] = {
        {"CR LF split where a full segment would end", Text(510) + "\r\n", {511, 1}},
        {"CR LF split in a short line", "ab\r\ncd\n", {3, 1, 3}},
        {"segment boundary on a read boundary", l511 + l511 + "x\n", {511, 511, 2}},
        {"segment boundary inside a read", l511 + l511 + "x\n", {300, 1000, 5}},
        {"lone CR at a read boundary", "a\rb\n", {2, 2}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Trickled(c.input, 0, c.reads), TranscodeText(c.input, kDecrypt, 3)) << c.what;

    std::string input;
    std::mt19937 random(7);
    for (int line = 0; line < 300; ++line) {
        const std::size_t length = random() % 1600;
        for (std::size_t i = 0; i < length; ++i)
            input += static_cast<char>(random() % 6 == 0 ? '\r' : ' ' + random() % 95);
        input += random() % 2 ? "\r\n" : "\n";
    }
    input += "tail\r";
    for (unsigned seed = 0; seed < 20; ++seed)
        ASSERT_EQ(Trickled(input, seed), TranscodeText(input, kDecrypt, 3)) << "seed " << seed;
}

TEST(TranscodeStream, CountsTheBytesThatWillNotComeBack) {
    const struct {
        const char* what;
        std::string input;
        std::uint64_t lossy;
        std::uint64_t firstLine;
    } cases[] = {
        {"clean text with both line ends", "plain\r\ntext\t\xE4\n", 0, 0},
        {"a control byte on line 3", "a\nb\nc\x01\x02\n\x03", 3, 3},
        {"a lone CR, not the CR of CR LF", "ok\r\nlone\rcr\n", 1, 2},
        {"UTF-8 on the first line", "gr\xC3\xBC\xC3\x9F\n", 4, 1},
        {"in the second segment of a long line", "x\n" + Text(600) + "\x7F\n", 1, 2},
    };
    for (const auto& c : cases) {
        TricklingSource source(c.input, 1, {c.input.size()});
        StringSink sink;
        const StreamResult result = TranscodeStream(source, sink, kEncrypt, kGame);
        EXPECT_EQ(result.lossyBytes, c.lossy) << c.what;
        EXPECT_EQ(result.firstLossyLine, c.firstLine) << c.what;
    }
}

class EndlessSource : public ByteSource {
public:
    std::ptrdiff_t Read(char* buffer, std::size_t capacity, SystemError& error) override {
        ++reads;
        std::fill_n(buffer, capacity, failAfter-- > 0 ? 'x' : '\n');
        if (failAfter < -3) {
            error = EIO;
            return -1;
        }
        return static_cast<std::ptrdiff_t>(capacity);
    }
    int failAfter = 1 << 30;
    int reads = 0;
};

class FullDisk : public ByteSink {
public:
    bool Write(const char*, std::size_t size, SystemError& error) override {
        if (written + size > capacity) {
            error = ENOSPC;
            return false;
        }
        written += size;
        return true;
    }
    std::size_t capacity = 0;
    std::size_t written = 0;
};

TEST(TranscodeStream, StopsAtTheFirstFailure) {
    const struct {
        const char* what;
        int readsBeforeFailure;
        std::size_t diskSpace;
        StreamStatus status;
        int error;
    } cases[] = {
        {"endless input into a full disk", 1 << 30, 0, StreamStatus::WriteFailed, ENOSPC},
        {"endless input into a disk that fills later", 1 << 30, 3 << 20, StreamStatus::WriteFailed,
         ENOSPC},
        {"read error after a few blocks", 0, 1u << 30, StreamStatus::ReadFailed, EIO},
    };
    for (const auto& c : cases) {
        EndlessSource source;
        source.failAfter = c.readsBeforeFailure;
        FullDisk disk;
        disk.capacity = c.diskSpace;
        const StreamResult result = TranscodeStream(source, disk, kEncrypt, kGame);
        EXPECT_EQ(result.status, c.status) << c.what;
        EXPECT_EQ(result.error, c.error) << c.what;
        EXPECT_LT(source.reads, 100) << c.what;
    }
}

} // namespace
} // namespace quorvex
