// Every way a run can go wrong, through the real quorvex-cli process: the message, the
// exit status, the input left byte for byte as it was, and what is left at the output.

#include "quorvex/line_stream.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string AllByteValues() {
    std::string bytes;
    for (int round = 0; round < 3; ++round)
        for (int c = 0; c < 256; ++c)
            bytes += static_cast<char>(c);
    return bytes;
}

std::string PrintableLine(std::size_t length) {
    std::string line(length, ' ');
    for (std::size_t i = 0; i < length; ++i)
        line[i] = static_cast<char>(' ' + (i * 31 + i / 7) % 95);
    return line;
}

// What a run must leave at the output path.
enum class Left { Nothing, Untouched, Enciphered, RoundTrip, Anything };

struct Case {
    const char* what;
    // Prepares the folder and gives the arguments after `encrypt -g 0` (or a whole
    // command line of the tool, when it starts with "!").
    std::function<std::string(const fs::path& dir)> prepare;
    int status;
    std::string message; // part of stderr
    Left left;
    bool asNobody = false; // modes are checked by the kernel only for other users than root
    const char* input = "in.txt";
    const char* output = "out.txt";
};

class FaultMatrix : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("quorvex-faults-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::permissions(dir, fs::perms(0755));
        // A copy of the tool that an unprivileged user can reach and run.
        tool = dir / "quorvex-cli";
        fs::copy_file(QUORVEX_CLI, tool);
        fs::permissions(tool, fs::perms(0755));
    }
    void TearDown() override {
        std::system(("chmod -R u+rwx '" + dir.string() + "' 2>/dev/null").c_str());
        fs::remove_all(dir);
    }

    int Run(const std::string& arguments, bool asNobody, std::string& err) const {
        const bool root = ::geteuid() == 0;
        const std::string prefix =
            asNobody && root ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
        const std::string tail =
            arguments.rfind('!', 0) == 0 ? arguments.substr(1) : "encrypt -g 0 " + arguments;
        const std::string command = "exec 2>'" + (dir / "stderr").string() + "'; cd '" +
                                    (dir / "work").string() + "' || exit 99; timeout 60 " + prefix +
                                    "'" + tool.string() + "' " + tail;
        const int raw = std::system(command.c_str());
        err = ReadFile(dir / "stderr");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    fs::path dir;
    fs::path tool;
};

const std::string kText = "First line\r\nsecond line\n";

TEST_F(FaultMatrix, EveryFailureIsReportedAndNothingIsLost) {
    const std::string bigLine = PrintableLine(100 << 20) + "\r\n";
    const Case cases[] = {
        {"missing input", [](auto&) { return "missing.txt out.txt"; }, 1,
         "cannot open 'missing.txt': No such file or directory", Left::Nothing},
        {"empty input path", [](auto&) { return "'' out.txt"; }, 1,
         "cannot open '': No such file or directory", Left::Nothing},
        {"input is a folder",
         [](auto& d) {
             fs::create_directory(d / "folder");
             return "folder out.txt";
         },
         1, "cannot open 'folder': Is a directory", Left::Nothing},
        {"empty output path", [](auto&) { return "in.txt ''"; }, 1,
         "cannot open '': No such file or directory", Left::Nothing},
        {"output is a folder",
         [](auto& d) {
             fs::create_directory(d / "out.txt");
             return "in.txt out.txt";
         },
         1, "cannot open 'out.txt': Is a directory", Left::Anything},
        {"output in a missing folder", [](auto&) { return "in.txt none/out.txt"; }, 1,
         "cannot open 'none/out.txt': No such file or directory", Left::Nothing},
        {"unreadable input",
         [](auto& d) {
             fs::permissions(d / "in.txt", fs::perms::none);
             return "in.txt out.txt";
         },
         1, "cannot open 'in.txt': Permission denied", Left::Nothing, true},
        {"unwritable output",
         [](auto& d) {
             WriteFile(d / "out.txt", "keep");
             fs::permissions(d / "out.txt", fs::perms(0444));
             return "in.txt out.txt";
         },
         1, "cannot open 'out.txt': Permission denied", Left::Untouched, true},
        {"unwritable output folder",
         [](auto& d) {
             fs::create_directory(d / "ro");
             fs::permissions(d / "ro", fs::perms(0555));
             return "in.txt ro/out.txt";
         },
         1, "cannot open 'ro/out.txt': Permission denied", Left::Nothing, true},
        {"same file by path", [](auto&) { return "in.txt in.txt"; }, 1,
         "cannot open 'in.txt': input and output are the same file", Left::Anything},
        {"same file by a relative path", [](auto&) { return "in.txt ../work/./in.txt"; }, 1,
         "input and output are the same file", Left::Anything},
        {"same file by a symbolic link",
         [](auto& d) {
             fs::create_symlink("in.txt", d / "link.txt");
             return "in.txt link.txt";
         },
         1, "input and output are the same file", Left::Anything},
        {"same file by a hard link",
         [](auto& d) {
             fs::create_hard_link(d / "in.txt", d / "hard.txt");
             return "in.txt hard.txt";
         },
         1, "input and output are the same file", Left::Anything},
        {"standard input that is the output",
         [](auto& d) {
             fs::rename(d / "in.txt", d / "in-and-out.txt");
             return "- in-and-out.txt < in-and-out.txt";
         },
         1, "input and output are the same file", Left::Anything, false, "in-and-out.txt"},
        {"full disk", [](auto&) { return "in.txt /dev/full"; }, 1,
         "cannot write '/dev/full': No space left on device", Left::Anything},
        {"endless input into a full disk", [](auto&) { return "/dev/zero /dev/full"; }, 1,
         "cannot write '/dev/full': No space left on device", Left::Anything},
        {"a FIFO as input",
         [](auto& d) {
             ::mkfifo((d / "fifo").c_str(), 0644);
             return "fifo out.txt & printf 'First line\\r\\nsecond line\\n' > fifo; wait $!";
         },
         0, "", Left::Enciphered},
        {"one 100 MiB line",
         [&bigLine](auto& d) {
             WriteFile(d / "in.txt", bigLine);
             return "in.txt out.txt";
         },
         0, "", Left::RoundTrip},
        {"every byte value",
         [](auto& d) {
             WriteFile(d / "in.txt", AllByteValues());
             return "in.txt out.txt";
         },
         0, "", Left::Enciphered},
        {"paths with spaces and letters",
         [](auto& d) {
             fs::rename(d / "in.txt", d / "in put ä.txt");
             return "'in put ä.txt' 'out put ö.txt'";
         },
         0, "", Left::Enciphered, false, "in put ä.txt", "out put ö.txt"},
        {"paths with a newline",
         [](auto& d) {
             fs::rename(d / "in.txt", d / "in\nput.txt");
             return "'in\nput.txt' 'out\nput.txt'";
         },
         0, "", Left::Enciphered, false, "in\nput.txt", "out\nput.txt"},
    };

    int held = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path work = dir / "work";
        std::system(("chmod -R u+rwx '" + work.string() + "' 2>/dev/null").c_str());
        fs::remove_all(work);
        fs::create_directory(work);
        fs::permissions(work, fs::perms(0755));
        WriteFile(work / "in.txt", kText);
        const std::string arguments = c.prepare(work);

        const fs::path input = work / c.input, output = work / c.output;
        const std::string before = ReadFile(input);
        const std::optional<std::string> outputBefore =
            fs::is_regular_file(output) ? std::optional(ReadFile(output)) : std::nullopt;

        std::string err;
        const int status = Run(arguments, c.asNobody, err);
        fs::permissions(input, fs::perms(0644));

        bool ok = true;
        const auto check = [&ok](bool condition, const std::string& what) {
            EXPECT_TRUE(condition) << what;
            ok = ok && condition;
        };
        check(status == c.status, "status " + std::to_string(status) + ", stderr: " + err);
        check(err.find(c.message) != std::string::npos, "stderr: " + err);
        check(ReadFile(input) == before, "the input changed");
        switch (c.left) {
        case Left::Nothing:
            check(!fs::exists(output), "an output was created");
            break;
        case Left::Untouched:
            check(outputBefore && ReadFile(output) == *outputBefore, "the output changed");
            break;
        case Left::Enciphered:
            check(ReadFile(output) == quorvex::TranscodeText(before, quorvex::kEncrypt, 0),
                  "wrong output");
            break;
        case Left::RoundTrip: {
            const std::string enciphered = ReadFile(output);
            check(enciphered.size() == before.size() && enciphered != before, "wrong output");
            check(quorvex::TranscodeText(enciphered, quorvex::kDecrypt, 0) == before,
                  "no round trip");
            break;
        }
        case Left::Anything:
            break;
        }
        held += ok;
    }
    std::cout << "fault matrix: " << held << " of " << std::size(cases) << " cases hold\n";
}

} // namespace
