#include "quorvex/detect.h"
#include "quorvex/line_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex {
namespace {

// A few lines of plain prose, the kind of text a game's dialogue files hold.
const std::string kProse =
    "The old ferryman waited by the river until the lanterns were lit.\n"
    "\"You are late,\" he said, and pushed the boat away from the shore.\n"
    "Nobody answered him; the wind carried the smell of rain over the water.\n"
    "WHEN THE BELL RINGS THREE TIMES, THE GATE OF THE NORTHERN TOWER OPENS.\n"
    "She counted the coins twice before she put them back into her purse.\n";

TEST(Detect, NamesTheGameATextWasEncipheredFor) {
    for (GameSelection game = 0; game < 4; ++game) {
        const Detection detection = Detect(TranscodeText(kProse, kEncrypt, game), GameCandidates());
        ASSERT_EQ(detection.ranked.size(), 4u);
        EXPECT_EQ(detection.ranked[0].name, GameNames[game]);
        EXPECT_EQ(detection.verdict, Verdict::Clear);

        EXPECT_GT(detection.ranked[0].score, 2 * detection.ranked[1].score);
    }
}

TEST(Detect, FindsAnyOffsetAmongAll95) {
    for (int offset : {0, 1, 40, 94}) {
        const Detection detection = Detect(
            TranscodeText(kProse, kEncrypt, CipherKey::FromOffset(offset)), OffsetCandidates());
        ASSERT_EQ(detection.ranked.size(), 95u);
        EXPECT_EQ(detection.ranked[0].name, "offset " + std::to_string(offset));
        EXPECT_EQ(detection.verdict, Verdict::Clear);
    }
}

TEST(Detect, SaysSoWhenNoGameGivesText) {
    std::string noise;
    for (int i = 0; i < 3000; ++i)
        noise += static_cast<char>((i * 7919 + i / 13) % 256);
    const struct {
        const char* what;
        std::string input;
    } cases[] = {
        {"binary noise", noise},
        {"a text enciphered under no game of the list",
         TranscodeText(kProse, kEncrypt, CipherKey::FromOffset(50))},
        {"nothing at all", ""},
    };
    for (const auto& c : cases)
        EXPECT_NE(Detect(c.input, GameCandidates()).verdict, Verdict::Clear) << c.what;
}

TEST(WholeLines, CutsASampleWhereALineEnds) {
    const std::string segment(kMaxSegmentLength, 'q');
    const struct {
        const char* what;
        std::string data;
        std::string kept;
    } cases[] = {
        {"after the last line end", "one\r\ntwo\nthr", "one\r\ntwo\n"},
        {"one long line keeps its full segments", segment + segment + "tail", segment + segment},
        {"a short piece without a line end stays", "short", "short"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WholeLines(c.data), c.kept) << c.what;
}

} // namespace
} // namespace quorvex
