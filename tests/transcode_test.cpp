// A run on real files: what the user is told, in order, and what is left on disk; how a
// folder opens what lies in it; and which game a file belongs to.

#include "quorvex/detect.h"
#include "quorvex/transcode.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quorvex {
namespace {

using Messages = std::vector<std::string>;

// Records what the user would have been shown, and what the output held at "Close Files.".
struct Recorder : MessageSink {
    explicit Recorder(fs::path output) : output(std::move(output)) {}
    void Show(std::string_view text) override {
        shown.emplace_back(text);
        if (text == messages::kCloseFiles)
            atClose = ReadFile(output);
    }
    fs::path output;
    Messages shown;
    std::string atClose;
};

// The first `stages` messages of a run in `mode`, and `last` if there is one.
Messages Shown(CipherMode mode, std::size_t stages, std::string_view last = {}) {
    const std::string_view all[] = {
        messages::kInputOpening, messages::kOutputOpening, messages::kFilesOpen,
        mode == kEncrypt ? messages::kStartEncrypt : messages::kStartDecrypt,
        messages::kCloseFiles};
    Messages shown(std::begin(all), std::begin(all) + stages);
    if (!last.empty())
        shown.emplace_back(last);
    return shown;
}

TEST(Run, ShowsEveryStageAndLeavesTheInputAsItWas) {
    ScratchFolder dir;
    const fs::path in = dir / "in.txt", out = dir / "out.txt";
    fs::create_directory(dir / "folder");
    const std::string text = "first line\r\nsecond\nno end";
    // clang-format off
    const struct {
        fs::path input, output; CipherMode mode; Messages shown; RunOutcome outcome; FileRole role;
        std::string written; // what the output holds afterwards, if it is checked
    } cases[] = {
        {in, out, kEncrypt, Shown(kEncrypt, 5), RunOutcome::Completed, FileRole::Input, TranscodeText(text, kEncrypt, CipherKey::ForGame(2))},
        {in, out, kDecrypt, Shown(kDecrypt, 5), RunOutcome::Completed, FileRole::Input, TranscodeText(text, kDecrypt, CipherKey::ForGame(2))},
        {in, out, -1, Shown(-1, 3), RunOutcome::Completed, FileRole::Input, ""},
        {in, out, 2, Shown(2, 3), RunOutcome::Completed, FileRole::Input, ""},
        {dir / "missing", out, kEncrypt, Shown(kEncrypt, 1, messages::kOpenFailed), RunOutcome::OpenFailed, FileRole::Input, "old"},
        {dir / "folder", out, kEncrypt, Shown(kEncrypt, 1, messages::kOpenFailed), RunOutcome::OpenFailed, FileRole::Input, "old"},
        {in, dir / "folder", kEncrypt, Shown(kEncrypt, 2, messages::kOpenFailed), RunOutcome::OpenFailed, FileRole::Output, {}},
        {in, in, kEncrypt, Shown(kEncrypt, 2, messages::kOpenFailed), RunOutcome::OpenFailed, FileRole::Output, {}},
#ifndef _WIN32
        {in, "/dev/full", kDecrypt, Shown(kDecrypt, 4, messages::kWriteFailed), RunOutcome::WriteFailed, FileRole::Output, {}},
        {"/proc/self/mem", out, kEncrypt, Shown(kEncrypt, 4, messages::kReadFailed), RunOutcome::ReadFailed, FileRole::Input, {}},
#endif
    };
    // clang-format on
    for (const auto& c : cases) {
        WriteFile(in, text);
        WriteFile(out, "old");
        Recorder sink(c.output);
        const TranscodeResult result =
            RunTranscode(FileRef::Path(c.input.string()), FileRef::Path(c.output.string()), c.mode,
                         CipherKey::ForGame(2), sink);
        SCOPED_TRACE(c.input.string() + " -> " + c.output.string());
        EXPECT_EQ(sink.shown, c.shown);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.role, c.role);
        EXPECT_EQ(result.reason.empty(), c.outcome == RunOutcome::Completed);
        EXPECT_EQ(ReadFile(in), text);
        if (!c.written.empty() || c.outcome == RunOutcome::Completed) {
            EXPECT_EQ(ReadFile(out), c.written);
        }
        if (c.mode == kEncrypt || c.mode == kDecrypt) {
            EXPECT_EQ(sink.atClose, c.outcome == RunOutcome::Completed ? c.written : "");
        }
    }
}

const std::string kProse =
    "The old ferryman waited by the river until the lanterns were lit.\n"
    "\"You are late,\" he said, and pushed the boat away from the shore.\n"
    "Nobody answered him; the wind carried the smell of rain over the water.\n"
    "WHEN THE BELL RINGS THREE TIMES, THE GATE OF THE NORTHERN TOWER OPENS.\n"
    "[tower]\nbell_count = 3\nopens_at = \"midnight\"\n<gate side=\"north\"/>\n";

TEST(Detect, NamesTheKeyOrSaysWhyNot) {
    std::mt19937 random(3);
    std::string noise(3000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    const std::string offset40 = TranscodeText(kProse, kEncrypt, CipherKey::FromOffset(40));
    // clang-format off
    const struct { std::string sample; std::vector<Candidate> candidates; Verdict verdict; std::string best; } cases[] = {
        {TranscodeText(kProse, kEncrypt, CipherKey::ForGame(0)), GameCandidates(), Verdict::Clear, "Tarnholm"},
        {TranscodeText(kProse, kEncrypt, CipherKey::ForGame(1)), GameCandidates(), Verdict::Clear, "Velmire"},
        {TranscodeText(kProse, kEncrypt, CipherKey::ForGame(2)), GameCandidates(), Verdict::Clear, "Ostrand"},
        {TranscodeText(kProse, kEncrypt, CipherKey::ForGame(3)), GameCandidates(), Verdict::Clear, "Carrowmere"},
        {offset40, OffsetCandidates(), Verdict::Clear, "offset 40"},
        {offset40, GameCandidates(), Verdict::Implausible, ""},
        {TranscodeText(kProse, kEncrypt, CipherKey::ForGame(0)), {{"a", CipherKey::ForGame(0)}, {"b", CipherKey::ForGame(0)}}, Verdict::Uncertain, "a"},
        {noise, GameCandidates(), Verdict::Implausible, ""},
        {"\x01\x02\n", GameCandidates(), Verdict::Implausible, ""},
        {kProse, GameCandidates(), Verdict::NotEnciphered, ""},
        {"", GameCandidates(), Verdict::Empty, ""},
        {"\r\n\n", GameCandidates(), Verdict::Empty, ""},
        {std::string(3, '\0') + "\n", GameCandidates(), Verdict::Implausible, ""}};
    // clang-format on
    for (const auto& c : cases) {
        const Detection detection = Detect(c.sample, c.candidates);
        EXPECT_EQ(detection.verdict, c.verdict) << c.best;
        for (const RankedCandidate& ranked : detection.ranked)
            EXPECT_FALSE(std::isnan(ranked.score)) << ranked.name;
        if (c.verdict == Verdict::Clear || c.verdict == Verdict::Uncertain) {
            ASSERT_EQ(detection.ranked.size(), c.candidates.size());
            EXPECT_EQ(detection.ranked[0].name, c.best);
            EXPECT_GE(detection.ranked[0].logLikelihood, detection.ranked[1].logLikelihood);
            EXPECT_GE(detection.ranked[0].score, 30);
        }
    }
    // The model itself: a change to any weight moves this sum over every offset.
    double sum = 0;
    for (const RankedCandidate& c : Detect(offset40, OffsetCandidates()).ranked)
        sum += c.logLikelihood;
    EXPECT_NEAR(sum, -168517.469, 0.01);
    const std::string segment(kMaxSegmentLength, 'q');
    EXPECT_EQ(WholeLines("one\r\ntwo\nthr"), "one\r\ntwo\n");
    EXPECT_EQ(WholeLines(segment + segment + "tail"), segment + segment);
    EXPECT_EQ(WholeLines("short"), "short");
}

#ifndef _WIN32
// Whatever is swapped in for a file or folder while a batch runs, nothing is opened
// through a link and no FIFO is waited on.
TEST(Folder, OpensNothingThroughALinkAndWaitsOnNoFifo) {
    ScratchFolder dir;
    WriteFile(dir / "file", "x");
    fs::create_directory(dir / "folder");
    fs::create_symlink("file", dir / "link");
    fs::create_symlink("folder", dir / "folder link");
    ::mkfifo((dir / "fifo").c_str(), 0644);
    SystemError error = 0;
    const Folder top = Folder::Open(dir.Path().string(), false, error);
    const struct {
        std::string name;
        SystemError asFile, asFolder; // 0: it opens
    } cases[] = {{"file", 0, ENOTDIR},
                 {"link", kIsLink, kIsLink},
                 {"folder", kNotRegularFile, 0},
                 {"folder link", kIsLink, kIsLink},
                 {"fifo", kNotRegularFile, ENOTDIR},
                 {"missing", ENOENT, ENOENT}};
    for (const auto& c : cases) {
        error = 0;
        EXPECT_EQ(top.OpenRegular(c.name, error).IsOpen(), c.asFile == 0) << c.name;
        EXPECT_EQ(error, c.asFile) << c.name;
        error = 0;
        EXPECT_EQ(top.Child(c.name, false, error).IsOpen(), c.asFolder == 0) << c.name;
        EXPECT_EQ(error, c.asFolder) << c.name;
    }
}
#endif

// A hidden name fits in a folder entry whatever the name, and cuts no character in two.
TEST(Folder, HiddenNamesFitAndKeepWholeCharacters) {
    for (std::size_t length = 0; length < 300; ++length) {
        std::string name;
        while (name.size() < length)
            name += name.size() % 3 ? "Ã¤" : "x";
        const std::string hidden = HiddenNameFor(name);
        ASSERT_LE(hidden.size(), 255u);
        const std::size_t kept = hidden.size() - 1 - 17 - std::string(PendingFile::kSuffix).size();
        EXPECT_EQ(hidden.substr(1, kept), name.substr(0, kept));
        EXPECT_NE(static_cast<unsigned char>(name[kept]) & 0xC0, 0x80) << length;
        EXPECT_NE(hidden, HiddenNameFor(name));
    }
}

} // namespace
} // namespace quorvex
