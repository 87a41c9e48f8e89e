#include "quorvex/line_stream.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quorvex-cli-test-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "in.txt", std::ios::binary) << kText;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the tool through the shell in the test folder. The arguments come after the
    // default redirections, so that their own redirections win.
    Outcome Cli(const std::string& arguments) const {
        const std::string command =
            "cd '" + dir.string() + "' && '" QUORVEX_CLI "' >stdout.txt 2>stderr.txt " + arguments;
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(dir / "stdout.txt"),
                ReadFile(dir / "stderr.txt")};
    }

    static constexpr const char* kText = "Some text\r\nfor the tool\n";
    fs::path dir;
};

TEST_F(CliTest, ExitStatusAndWhatItSays) {
    const std::string usage = "Usage: quorvex-cli encrypt|decrypt";
    const struct {
        const char* arguments;
        int status;
        std::string stdoutHas;
        std::string stderrHas;
    } cases[] = {
        {"", 2, "", usage},
        {"shuffle -g 0 in.txt out.txt", 2, "", usage},
        {"encrypt in.txt out.txt", 2, "", "--game"},
        {"encrypt -g Zork in.txt out.txt", 2, "", "unknown game 'Zork'"},
        {"encrypt -g 4 in.txt out.txt", 2, "", "unknown game '4'"},
        {"encrypt -g 0 in.txt", 2, "", usage},
        {"encrypt -g 0 in.txt out.txt extra", 2, "", usage},
        {"--help", 0, "encrypt", ""},
        {"encrypt --help", 0, "--game", ""},
        {"--version", 0, "quorvex-cli 1.0.0.1", ""},
        {"encrypt -g 0 -v missing.txt out.txt", 1, "",
         "Input File is Opening.\nFile could not be opened.\nquorvex-cli: cannot open"},
        {"decrypt --verbose -g 0 in.txt out.txt", 0, "",
         "Input File is Opening.\nOutput File is Opening.\nFiles are Open.\nStart "
         "Decrypt.\nClose Files.\n"},
    };
    for (const auto& c : cases) {
        fs::remove(dir / "out.txt");
        const Outcome got = Cli(c.arguments);
        EXPECT_EQ(got.status, c.status) << c.arguments << "\n" << got.err;
        EXPECT_NE(got.out.find(c.stdoutHas), std::string::npos) << c.arguments;
        EXPECT_NE(got.err.find(c.stderrHas), std::string::npos) << c.arguments << "\n" << got.err;
        if (c.status == 2) {
            EXPECT_FALSE(fs::exists(dir / "out.txt")) << c.arguments << ": touched a file";
        }
        EXPECT_EQ(ReadFile(dir / "in.txt"), kText) << c.arguments;
    }
}

TEST_F(CliTest, EverySpellingOfAGameAndEveryStreamGivesTheSameBytes) {
    const std::string expected = quorvex::TranscodeText(kText, quorvex::kEncrypt, 3);
    const char* spellings[] = {
        "encrypt -g 3 in.txt out.txt",          "encrypt --game Carrowmere in.txt out.txt",
        "encrypt -g cARROWMERE in.txt out.txt", "encrypt -g 3 - out.txt < in.txt",
        "encrypt -g 3 in.txt - > out.txt",      "encrypt -g 3 - - < in.txt > out.txt",
        "encrypt -g 3 - - < in.txt >> out.txt",
    };
    for (const char* arguments : spellings) {
        fs::remove(dir / "out.txt");
        const Outcome got = Cli(arguments);
        EXPECT_EQ(got.status, 0) << arguments << "\n" << got.err;
        EXPECT_EQ(got.err, "") << arguments << ": must be silent on success";
        EXPECT_EQ(ReadFile(dir / "out.txt"), expected) << arguments;
    }
}

} // namespace

namespace {

TEST_F(CliTest, OffsetsDetectionAndLossyBytes) {
    const std::string prose = "Meet me at the harbour when the moon is high, and bring the map.\n"
                              "The captain will not wait for anyone, not even for you.\n"
                              "If the guards ask, tell them you are a fisherman from the north.\n";
    std::ofstream(dir / "prose.txt", std::ios::binary) << prose;
    std::ofstream(dir / "utf8.txt", std::ios::binary) << "plain\nGr\xC3\xBC\xC3\x9F"
                                                         "e\x01\n";
    ASSERT_EQ(Cli("encrypt -g Ostrand prose.txt ostrand.txt").status, 0);
    ASSERT_EQ(Cli("encrypt --offset 50 prose.txt offset50.txt").status, 0);
    const std::string warning = "warning: 5 bytes of 'utf8.txt' will not decipher back as they "
                                "were, the first on line 2";
    const struct {
        const char* arguments;
        int status;
        std::string stdoutStarts;
        std::string stderrHas;
        bool silent;
    } cases[] = {
        {"detect ostrand.txt", 0, "Ostrand", "", true},
        {"detect - < ostrand.txt", 0, "Ostrand", "", true},
        {"detect offset50.txt", 3, "", "", true},
        {"detect --any-offset offset50.txt", 0, "offset 50", "", true},
        {"detect prose.txt", 3, "", "", true},
        {"detect missing.txt", 1, "", "cannot open 'missing.txt'", false},
        {"detect", 2, "", "Usage:", false},
        {"encrypt --offset 95 prose.txt x.txt", 2, "", "Usage:", false},
        {"encrypt --offset 5 -g 0 prose.txt x.txt", 2, "", "Usage:", false},
        {"encrypt utf8.txt out.txt", 2, "", "--game or --offset", false},
        {"encrypt -g 1 utf8.txt warned.txt", 0, "", warning, false},
        {"encrypt -g 1 --quiet utf8.txt quiet.txt", 0, "", "", true},
        {"decrypt -g 1 utf8.txt out.txt", 0, "", "", true},
    };
    for (const auto& c : cases) {
        const Outcome got = Cli(c.arguments);
        EXPECT_EQ(got.status, c.status) << c.arguments << "\n" << got.err;
        EXPECT_EQ(got.out.rfind(c.stdoutStarts, 0), 0u) << c.arguments << "\n" << got.out;
        EXPECT_NE(got.err.find(c.stderrHas), std::string::npos) << c.arguments << "\n" << got.err;
        if (c.silent) {
            EXPECT_EQ(got.err, "") << c.arguments;
        }
    }
    // The warning changes nothing that is written; an offset equal to a game's is that game.
    const std::string enciphered =
        quorvex::TranscodeText(ReadFile(dir / "utf8.txt"), quorvex::kEncrypt, 1);
    EXPECT_EQ(ReadFile(dir / "warned.txt"), enciphered);
    EXPECT_EQ(ReadFile(dir / "quiet.txt"), enciphered);
    ASSERT_EQ(Cli("encrypt --offset " + std::to_string(quorvex::GameOffsets[2]) +
                  " prose.txt by-offset.txt")
                  .status,
              0);
    EXPECT_EQ(ReadFile(dir / "by-offset.txt"), ReadFile(dir / "ostrand.txt"));
}

} // namespace
