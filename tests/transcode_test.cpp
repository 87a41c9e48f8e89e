#include "quorvex/line_stream.h"
#include "quorvex/transcode.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace quorvex {
namespace {

using Messages = std::vector<std::string>;

// Records what the user would have been shown, and what the output held at "Close Files.".
class RecordingSink : public MessageSink {
public:
    explicit RecordingSink(fs::path output = {}) : m_output(std::move(output)) {}
    void Show(std::string_view text) override {
        shown.emplace_back(text);
        if (text == messages::kCloseFiles && !m_output.empty())
            outputAtClose = ReadFile(m_output);
    }
    Messages shown;
    std::string outputAtClose;

private:
    fs::path m_output;
};

class TranscodeFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("quorvex-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
};

const std::string kStart[] = {std::string(messages::kInputOpening),
                              std::string(messages::kOutputOpening),
                              std::string(messages::kFilesOpen)};

Messages Shown(std::initializer_list<std::string_view> tail) {
    Messages all(std::begin(kStart), std::end(kStart));
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

TEST_F(TranscodeFilesTest, ShowsEveryStageInOrderAndWritesTheWholeFile) {
    const std::string text = "first line\r\nsecond\nno end";
    const struct {
        const char* what;
        std::string input;
        CipherMode mode;
        Messages shown;
        std::string output;
    } cases[] = {
        {"encrypt", text, kEncrypt, Shown({messages::kStartEncrypt, messages::kCloseFiles}),
         TranscodeText(text, kEncrypt, 2)},
        {"decrypt", text, kDecrypt, Shown({messages::kStartDecrypt, messages::kCloseFiles}),
         TranscodeText(text, kDecrypt, 2)},
        {"empty file", "", kEncrypt, Shown({messages::kStartEncrypt, messages::kCloseFiles}), ""},
        {"no mode leaves the output empty", text, -1, Shown({}), ""},
        {"unknown mode leaves the output empty", text, 2, Shown({}), ""},
    };
    for (const auto& c : cases) {
        const fs::path in = dir / "in.txt", out = dir / "out.txt";
        WriteFile(in, c.input);
        WriteFile(out, "old contents to be replaced");
        RecordingSink sink(out);
        const TranscodeResult result =
            RunTranscode(FileRef::Path(in), FileRef::Path(out), c.mode, 2, sink);
        EXPECT_FALSE(result.Failed()) << c.what;
        EXPECT_EQ(sink.shown, c.shown) << c.what;
        EXPECT_EQ(ReadFile(out), c.output) << c.what;
        if (!c.output.empty()) {
            EXPECT_EQ(sink.outputAtClose, c.output) << c.what << ": complete at \"Close Files.\"";
        }
        EXPECT_EQ(ReadFile(in), c.input) << c.what;
    }
}

// Which message ends each kind of failure; the fault matrix runs every case through
// the real tool.
TEST_F(TranscodeFilesTest, ReportsEveryFailureAndNeverHarmsTheInput) {
    const std::string text = "keep me\r\n";
    const fs::path in = dir / "in.txt", out = dir / "out.txt";
    fs::create_directory(dir / "folder");
    const Messages inputFails{std::string(messages::kInputOpening),
                              std::string(messages::kOpenFailed)};
    const Messages outputFails{std::string(messages::kInputOpening),
                               std::string(messages::kOutputOpening),
                               std::string(messages::kOpenFailed)};
    const struct {
        const char* what;
        fs::path input;
        fs::path output;
        CipherMode mode;
        Messages shown;
        RunOutcome outcome;
        FileRole role;
    } cases[] = {
        {"missing input", dir / "missing", out, kEncrypt, inputFails, RunOutcome::OpenFailed,
         FileRole::Input},
        {"output is a folder", in, dir / "folder", kEncrypt, outputFails, RunOutcome::OpenFailed,
         FileRole::Output},
        {"same path", in, in, kEncrypt, outputFails, RunOutcome::OpenFailed, FileRole::Output},
        {"full disk while enciphering", in, "/dev/full", kEncrypt,
         Shown({messages::kStartEncrypt, messages::kWriteFailed}), RunOutcome::WriteFailed,
         FileRole::Output},
        {"full disk while deciphering", in, "/dev/full", kDecrypt,
         Shown({messages::kStartDecrypt, messages::kWriteFailed}), RunOutcome::WriteFailed,
         FileRole::Output},
        {"input that cannot be read", "/proc/self/mem", out, kEncrypt,
         Shown({messages::kStartEncrypt, messages::kReadFailed}), RunOutcome::ReadFailed,
         FileRole::Input},
    };
    for (const auto& c : cases) {
        WriteFile(in, text);
        fs::remove(out);
        RecordingSink sink;
        const TranscodeResult result =
            RunTranscode(FileRef::Path(c.input), FileRef::Path(c.output), c.mode, 0, sink);
        EXPECT_EQ(sink.shown, c.shown) << c.what;
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        EXPECT_EQ(result.role, c.role) << c.what;
        EXPECT_FALSE(result.reason.empty()) << c.what;
        EXPECT_EQ(ReadFile(in), text) << c.what;
        if (c.role == FileRole::Input && c.outcome == RunOutcome::OpenFailed) {
            EXPECT_FALSE(fs::exists(out)) << c.what << ": output must not be created";
        }
    }
}

TEST_F(TranscodeFilesTest, SpecialFilesAreNeverTakenForTheSameFile) {
    RecordingSink sink;
    EXPECT_FALSE(
        RunTranscode(FileRef::Path("/dev/null"), FileRef::Path("/dev/null"), kEncrypt, 1, sink)
            .Failed());
    EXPECT_EQ(sink.shown, Shown({messages::kStartEncrypt, messages::kCloseFiles}));
}

TEST_F(TranscodeFilesTest, TheDialogsRunEndsTheProcessWithStatusOneOnFailure) {
    RecordingSink sink;
    EXPECT_EXIT(
        TranscodeFiles((dir / "missing").string(), (dir / "out").string(), kEncrypt, 0, sink),
        ::testing::ExitedWithCode(1), "");
}

} // namespace
} // namespace quorvex
