// quorvex-cli run as a user runs it: what it says, its exit status, and what it leaves on
// disk, for every way a run can go and every way it can fail.

#include "quorvex/line_stream.h"
#include "support.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>

#ifndef _WIN32
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using quorvex::kEncrypt;
using quorvex::TranscodeText;
using Names = std::vector<std::pair<std::string, std::string>>;

const std::string kText = "Meet me at the harbour when the moon is high, and bring the map.\n"
                          "The captain will not wait for anyone, not even for you.\r\n"
                          "If the guards ask, tell them you are a fisherman from the north.\n";
const std::string kLossy = "plain\nGr\xC3\xBC\xC3\x9F"
                           "e\x01\n";
const std::string kEnciphered =
    TranscodeText(kText, kEncrypt, quorvex::CipherKey::ForGame(1)); // for Velmire
const std::string kPlain =
    TranscodeText(kEnciphered, quorvex::kDecrypt, quorvex::CipherKey::ForGame(1));
const std::string kOffset50 = TranscodeText(kText, kEncrypt, quorvex::CipherKey::FromOffset(50));

std::string Encrypted(const std::string& text, int game) {
    return TranscodeText(text, kEncrypt, quorvex::CipherKey::ForGame(game));
}

// What a case puts in its folder beside in.txt and enc.txt: files with their bytes, or
// "@dir MODE", "@mode MODE", "@symlink TO", "@hardlink TO" and "@fifo".
void Prepare(const fs::path& dir, const Names& names) {
    for (const auto& [name, what] : names) {
        const fs::path path = dir / U8(name);
        fs::create_directories(path.parent_path());
        const std::string arg = what.substr(what.find(' ') + 1);
        if (what.starts_with("@dir"))
            fs::create_directory(path);
        if (what.starts_with("@dir ") || what.starts_with("@mode "))
            fs::permissions(path, fs::perms(std::stoi(arg, nullptr, 8)));
        else if (what.starts_with("@symlink "))
            fs::create_symlink(arg, path);
        else if (what.starts_with("@hardlink "))
            fs::create_hard_link(dir / arg, path);
#ifndef _WIN32
        else if (what == "@fifo")
            ::mkfifo(path.c_str(), 0644);
#endif
        else if (!what.starts_with("@"))
            WriteFile(path, what);
    }
}

struct Case {
    std::vector<std::string> args;
    int status;
    // In stderr, or in stdout after "stdout:"; all of it after "=" or "stdout="; nothing
    // on stderr if empty.
    std::string says;
    Names prepare = {};
    // What the folder holds afterwards: bytes ("@mode MODE" for permission bits), or nothing
    // for a file that must not be there. in.txt and enc.txt stay as they were unless named.
    std::vector<std::pair<std::string, std::optional<std::string>>> leaves = {};
    std::string input = {};   // standard input, from this file of the folder
    bool asNobody = false;    // modes bind only users other than root
    std::string failing = {}; // system calls that fail (tests/fail_calls.cpp)
};

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        ScratchFolder dir;
        fs::permissions(dir.Path(), c.asNobody ? fs::perms::all : fs::perms(0755));
        Prepare(dir.Path(), {{"in.txt", kText}, {"enc.txt", kEnciphered}});
        Prepare(dir.Path(), c.prepare);
        fs::path tool = QUORVEX_CLI;
        std::vector<std::string> args = c.args;
        // The tool under a shell line, in which "$0" names it; "!root" lines need root.
        if (!args.empty() && (args[0] == "!sh" || args[0] == "!root")) {
#ifndef _WIN32
            if (args[0] == "!root" && ::geteuid() != 0)
                continue;
#endif
            tool = "/bin/sh";
            args = {"-c", args[1], QUORVEX_CLI};
        }
#ifndef _WIN32
        if (c.asNobody && ::geteuid() == 0) {
            fs::copy_file(tool, dir / "quorvex-cli");
            args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups",
                                       (dir / "quorvex-cli").string()});
            tool = "/usr/bin/setpriv";
        }
#endif
        std::vector<std::pair<std::string, std::string>> env;
#ifdef QUORVEX_FAIL_CALLS
        if (!c.failing.empty())
            env = {{"LD_PRELOAD", QUORVEX_FAIL_CALLS},
                   {"ASAN_OPTIONS", "verify_asan_link_order=0"},
                   {"QUORVEX_FAIL", c.failing}};
#endif
        const Ran ran =
            RunProgram(tool, args, dir.Path(), c.input.empty() ? fs::path() : dir / c.input, env);
        EXPECT_EQ(ran.status, c.status) << ran.err;
        const bool out = c.says.starts_with("stdout");
        const std::string& said = out ? ran.out : ran.err;
        const std::string says = c.says.substr(out ? 6 : 0);
        if (says.starts_with("="))
            EXPECT_EQ(said, says.substr(1));
        else
            EXPECT_NE(said.find(says.substr(out ? 1 : 0)), std::string::npos) << said;
        EXPECT_TRUE(!c.says.empty() || ran.err.empty()) << ran.err;

        std::map<std::string, std::optional<std::string>> leaves(c.leaves.begin(), c.leaves.end());
        leaves.emplace("in.txt", kText);
        leaves.emplace("enc.txt", kEnciphered);
        if (c.status == 2)
            leaves.insert({{"out.txt", std::nullopt}, {"out", std::nullopt}});
        for (const auto& [name, bytes] : leaves) {
            EXPECT_EQ(fs::exists(dir / U8(name)), bytes.has_value()) << name;
            if (bytes && bytes->starts_with("@mode ")) {
                EXPECT_EQ(fs::status(dir / U8(name)).permissions(),
                          fs::perms(std::stoi(bytes->substr(6), nullptr, 8)));
            } else if (bytes && fs::is_regular_file(dir / U8(name))) {
                EXPECT_EQ(ReadFile(dir / U8(name)), *bytes) << name;
            }
        }
        // No half-written file is left behind, but for those a case starts with.
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
            EXPECT_TRUE(!entry.path().string().ends_with(".quorvex-part") ||
                        entry.path().string().find("game") != std::string::npos)
                << entry.path();
    }
}

// clang-format off
TEST(Tool, UsageErrorsTouchNothing) {
    RunCases({
        {{}, 2, "a command is needed"},
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
        {{"-V"}, 2, "unknown option '-V'"},
        {{"encrypt", "-V", "-g", "0", "in.txt", "out.txt"}, 2, "unknown option '-V'"},
        {{"encrypt", "in.txt", "out.txt"}, 2, "--game or --offset is required"},
        {{"encrypt", "-g", "Velmird", "in.txt", "out.txt"}, 2, "unknown game 'Velmird'"},
        {{"encrypt", "-g", "4", "in.txt", "out.txt"}, 2, "unknown game '4'"},
        {{"encrypt", "-g", "0", "in.txt"}, 2, "INPUT and OUTPUT are needed, or --output-dir or --in-place for one input"},
        {{"encrypt", "--offset", "95", "in.txt", "out.txt"}, 2, "--offset"},
        {{"encrypt", "--offset", "0x10", "in.txt", "out.txt"}, 2, "'0x10' is not a whole number from 0 to 94"},
        {{"encrypt", "-g", "0", "-j", "abc", "-o", "out", "in.txt"}, 2, "--jobs: 'abc' is not a whole number from 1 to 1024"},
        {{"encrypt", "--offset", "5", "-g", "0", "in.txt", "out.txt"}, 2, "excludes"},
        {{"encrypt", "-g", "auto", "in.txt", "out.txt"}, 2, "--game auto is for decrypt and edit"},
        {{"edit", "-g", "auto", "-"}, 2, "edit needs a FILE"},
        {{"encrypt", "-g", "0", "-r", "in.txt", "out.txt"}, 2, "-r goes with"},
        {{"encrypt", "-g", "0", "-j", "2", "in.txt", "out.txt"}, 2, "-j goes with"},
        {{"encrypt", "-g", "0", "--backup", "in.txt", "out.txt"}, 2, "--in-place"},
        {{"encrypt", "-g", "0", "-i", "--backup=", "in.txt", "enc.txt"}, 2, "--backup needs a value: a SUFFIX"},
        {{"encrypt", "-g", "1", "-f", "-o", "", "in.txt", "enc.txt"}, 2, "-o needs a value"},
        {{"decrypt", "-g", "1", "-r", "--output-dir=", "in.txt", "enc.txt"}, 2, "--output-dir needs a value"},
        {{"encrypt", "-g", "0", "-i", "--backup=/bak", "in.txt"}, 2, "must not hold a folder separator"},
        {{"encrypt", "-g", "0", "-i", "--backup", "in.txt", "in.txt~"}, 2, "'in.txt~' is an input, and the backup of 'in.txt'",
         {{"in.txt~", "mine"}}, {{"in.txt~", "mine"}}},
        {{"encrypt", "-g", "1", "-i", "-r", "d", "d"}, 2, "'d/x.txt' is given twice", {{"d/x.txt", kText}}, {{"d/x.txt", kText}}},
        {{"encrypt", "-g", "0", "-i", "-o", "out", "in.txt"}, 2, "excludes"},
        {{"encrypt", "-g", "0", "-i", "-n", "in.txt"}, 2, "-n does not go with --in-place"},
        {{"encrypt", "-g", "0", "-o", "out", "-"}, 2, "standard input cannot"},
        {{"detect", "-", "enc.txt"}, 2, "standard input goes with no other FILE"},
        {{"encrypt", "-g", "0", "-o", "out", "in.txt", "sub/in.txt"}, 2, "would both be written", {{"sub/in.txt", "x"}}},
        {{"encrypt", "-g", "1", "-i", "in.txt", "./in.txt"}, 2, "'./in.txt' is given twice"},
        {{"encrypt", "-g", "1", "-o", ".", "in.txt"}, 2, "'./in.txt' would be both an input and an output"},
        {{"encrypt", "-g", "0", "-r", "-o", "d/s", "d"}, 2, "cannot write into 'd/s', which is inside the input folder 'd'",
         {{"d/a.txt", kText}, {"d/s/b.txt", kText}}, {{"d/s/b.txt", kText}, {"d/s/s", {}}}},
        {{"encrypt", "-g", "0", "-r", "-o", "out", "."}, 2, "which is inside the input folder '.'"},
        {{"edit", "-g", "0", "in.txt", "enc.txt"}, 2, "only one FILE is taken"},
        {{"--help"}, 0, "stdout:encrypt"},
        {{"encrypt", "--help"}, 0, "stdout:--backup[=SUFFIX]"},
        {{"--version"}, 0, "stdout:quorvex-cli 1.0.0.1"},
    });
}

TEST(Tool, OneFileEveryWayItCanGo) {
    const std::string toGame3 = Encrypted(kText, 3);
    std::string allBytes;
    for (int c = 0; c < 768; ++c)
        allBytes += static_cast<char>(c);
    RunCases({
        {{"encrypt", "-g", "3", "in.txt", "out.txt"}, 0, "", {}, {{"out.txt", toGame3}}},
        {{"encrypt", "--game", "cARROWMERE", "-", "out.txt"}, 0, "", {}, {{"out.txt", toGame3}}, "in.txt"},
        {{"encrypt", "--offset", "81", "in.txt", "-"}, 0, "stdout:" + toGame3},
        {{"decrypt", "--offset", "94", "in.txt", "-"}, 0, "stdout:" + TranscodeText(kText, quorvex::kDecrypt, quorvex::CipherKey::FromOffset(94))},
        {{"decrypt", "-v", "-g", "Velmire", "enc.txt", "out.txt"}, 0,
         "Input File is Opening.\nOutput File is Opening.\nFiles are Open.\nStart Decrypt.\nClose Files.\n",
         {}, {{"out.txt", kPlain}}},
        {{"encrypt", "-g", "0", "all.bin", "out.txt"}, 0, "will not decipher back", {{"all.bin", allBytes}},
         {{"out.txt", Encrypted(allBytes, 0)}}},
        {{"encrypt", "-g", "1", "lossy.txt", "out.txt"}, 0,
         "warning: 5 bytes of 'lossy.txt' will not decipher back as they were, the first on line 2",
         {{"lossy.txt", kLossy}}, {{"out.txt", Encrypted(kLossy, 1)}}},
        {{"encrypt", "-q", "-g", "1", "lossy.txt", "out.txt"}, 0, "", {{"lossy.txt", kLossy}}},
        {{"encrypt", "-g", "0", "in put ä.txt", "out put ö.txt"}, 0, "", {{"in put ä.txt", "x\n"}},
         {{"out put ö.txt", Encrypted("x\n", 0)}}},
        {{"encrypt", "-g", "1", "enc.txt", "out.txt"}, 0, "warning: 'enc.txt' already looks enciphered for Velmire", {},
         {{"out.txt", Encrypted(kEnciphered, 1)}}},
        {{"decrypt", "-g", "1", "in.txt", "out.txt"}, 0, "warning: 'in.txt' reads as plain text: it does not look enciphered"},
        {{"encrypt", "-g", "0", "missing.txt", "out.txt"}, 1, "cannot read input 'missing.txt'", {}, {{"out.txt", {}}}},
        {{"encrypt", "-g", "0", "", "out.txt"}, 1, "cannot read input ''", {}, {{"out.txt", {}}}},
        {{"encrypt", "-g", "0", "folder", "out.txt"}, 1, "cannot read input 'folder'", {{"folder", "@dir"}},
         {{"out.txt", {}}}},
        {{"encrypt", "-g", "0", "in.txt", "folder"}, 1, "cannot write output 'folder': is a folder (use -o FOLDER)", {{"folder", "@dir"}}},
        {{"encrypt", "-g", "0", "in.txt", "none/x/out.txt"}, 1, "cannot write output 'none/x/out.txt': "},
        {{"encrypt", "-g", "0", "in.txt", "./in.txt"}, 1, "input and output are the same file"},
        {{"encrypt", "-g", "0", "in.txt", "hard.txt"}, 1, "input and output are the same file",
         {{"hard.txt", "@hardlink in.txt"}}},
        // An OUTPUT that holds something is overwritten only when the user says so.
        {{"decrypt", "-g", "1", "enc.txt", "in.txt"}, 1, "'in.txt' exists: -f overwrites it; -o FOLDER or -i run several files"},
        {{"decrypt", "-f", "-g", "1", "enc.txt", "in.txt"}, 0, "", {}, {{"in.txt", kPlain}}},
        {{"encrypt", "-n", "-g", "0", "in.txt", "out.txt"}, 0, "", {{"out.txt", "keep"}}, {{"out.txt", "keep"}}},
        {{"decrypt", "-g", "0", "enc.txt", "out.txt"}, 0, "warning: 'enc.txt' looks enciphered for Velmire, not Tarnholm"},
        {{"decrypt", "-g", "auto", "enc.txt", "out.txt"}, 0, "=quorvex-cli: enc.txt: Velmire\n", {}, {{"out.txt", kPlain}}},
        {{"decrypt", "-q", "-g", "auto", "-", "out.txt"}, 0, "", {}, {{"out.txt", kPlain}}, "enc.txt"},
        {{"decrypt", "-g", "auto", "in.txt", "out.txt"}, 3, "no game is clearly right for 'in.txt': not enciphered", {}, {{"out.txt", {}}}},
        {{"decrypt", "-g", "auto", "empty.txt", "out.txt"}, 0, "", {{"empty.txt", ""}}, {{"out.txt", ""}}},
        {{"detect", "enc.txt"}, 0, "stdout=Velmire     100.0\nOstrand      23.3\nTarnholm     17.5\nCarrowmere   13.6\n"},
        {{"detect", "yes.txt"}, 0, "stdout:uncertain: Velmire comes close to Ostrand\n", {{"yes.txt", Encrypted("yes\n", 2)}}},
        {{"detect", "-"}, 0, "stdout:Velmire ", {}, {}, "enc.txt"},
        {{"detect", "--any-offset", "o50.txt"}, 0, "stdout:offset 50 ", {{"o50.txt", kOffset50}}},
        {{"detect", "o50.txt"}, 3, "stdout:no game gives plausible text", {{"o50.txt", kOffset50}}},
        {{"detect", "in.txt"}, 3, "stdout:'in.txt' reads as text as it is"},
        {{"detect", "empty.txt"}, 3, "stdout:'empty.txt' holds no text", {{"empty.txt", "\r\n\n"}}},
        {{"detect", "enc.txt", "in.txt", "empty.txt", "o50.txt", "yes it is.txt"}, 3,
         "stdout=enc.txt: Velmire\nin.txt: not enciphered\nempty.txt: no text\no50.txt: no game gives plausible text\n"
         "'yes it is.txt': uncertain: Ostrand or Velmire\n",
         {{"empty.txt", ""}, {"o50.txt", kOffset50}, {"yes it is.txt", Encrypted("yes\n", 2)}}},
        {{"detect", "-r", "d"}, 0, "stdout=d/x.txt: Velmire\nd/y/z.txt: Ostrand\n", {{"d/x.txt", kEnciphered}, {"d/y/z.txt", Encrypted(kText, 2)}}},
        {{"detect", "missing.txt"}, 1, "cannot read 'missing.txt'"},
        {{"detect", "enc.txt", ""}, 1, "cannot read '': "},
        {{"edit", "-g", "auto", "empty.txt"}, 3, "'empty.txt' is empty: --game auto cannot tell its game", {{"empty.txt", ""}}},
#ifdef _WIN32
        {{"encrypt", "-g", "0", "\xE6\x97\xA5\xF0\x9F\x98\x80.txt", "o\xF0\x9F\x98\x80.txt"}, 0, "",
         {{"\xE6\x97\xA5\xF0\x9F\x98\x80.txt", kText}}, {{"o\xF0\x9F\x98\x80.txt", Encrypted(kText, 0)}}},
        {{"encrypt", "-g", "0", "in.txt", "IN.TXT"}, 1, "input and output are the same file"},
        // cmd, which reads the file into standard input, keeps others from writing to it.
        {{"encrypt", "-f", "-g", "0", "-", "in.txt"}, 1, "cannot write output 'in.txt'", {}, {}, "in.txt"},
#else
        {{"encrypt", "-g", "0", "-", "in.txt"}, 1, "input and output are the same file", {}, {}, "in.txt"},
        {{"encrypt", "-g", "0", "in.txt", "out\nput.txt"}, 0, "", {}, {{"out\nput.txt", Encrypted(kText, 0)}}},
        {{"encrypt", "-g", "0", "in.txt", "link.txt"}, 1, "input and output are the same file",
         {{"link.txt", "@symlink in.txt"}}},
        {{"encrypt", "-g", "0", "in.txt", "/dev/full"}, 1, "cannot write output '/dev/full': No space"},
        {{"decrypt", "-g", "1", "enc.txt", "/dev/null"}, 0, ""},
        {{"encrypt", "-g", "0", "in.txt", "link.txt"}, 1, "not writing through a symbolic link that leads nowhere",
         {{"link.txt", "@symlink nowhere.txt"}}, {{"nowhere.txt", {}}}},
        {{"!sh", "\"$0\" decrypt -g 1 enc.txt - >&-"}, 1, "cannot write output standard output: Bad file descriptor"},
        // Names reach the terminal escaped, as a shell would read them back.
        {{"encrypt", "-g", "0", "n\x1b[2J'\xff\n\xC3\xA4", "out.txt"}, 1, "cannot read input 'n'$'\\033''[2J'\\'''$'\\377\\n''\xC3\xA4': "},
        // A pipe or FIFO named by a path is read once, judged and run from the same bytes.
        {{"!sh", "cat enc.txt | \"$0\" decrypt -g 1 /dev/stdin out.txt"}, 0, "", {}, {{"out.txt", kPlain}}},
        {{"!sh", "cat enc.txt > fifo & \"$0\" decrypt -g auto fifo out.txt"}, 0, "fifo: Velmire", {{"fifo", "@fifo"}}, {{"out.txt", kPlain}}},
        {{"!sh", R"(echo y | script -qec "'$0' decrypt -g 1 enc.txt in.txt" /dev/null)"}, 0, "stdout:overwrite 'in.txt'? [y/N]", {}, {{"in.txt", kPlain}}},
        {{"!sh", "\"$0\" detect enc.txt > /dev/full"}, 1, "write error: No space left on device"},
        // As nobody, whom modes bind (Wine run by root writes a read-only file all the same).
        {{"encrypt", "-f", "-g", "0", "in.txt", "out.txt"}, 1, "cannot write output 'out.txt'",
         {{"out.txt", "keep"}, {"out.txt", "@mode 0444"}}, {{"out.txt", "keep"}}, {}, true},
        {{"!sh", "(cat enc.txt; sleep 0.2; cat enc.txt) | \"$0\" detect -"}, 0, "stdout:Velmire "},
        {{"encrypt", "-g", "0", "in.txt", "out.txt"}, 1, "cannot read input 'in.txt': Permission denied",
         {{"in.txt", "@mode 0"}}, {{"out.txt", {}}}, {}, true},
        {{"encrypt", "-g", "0", "in.txt", "ro/out.txt"}, 1, "Permission denied", {{"ro", "@dir 0555"}},
         {{"ro/out.txt", {}}}, {}, true},
#endif
    });
}

#ifndef _WIN32
std::string DeepPath(int depth) {
    std::string path;
    for (int i = 0; i < depth; ++i)
        path += "d/";
    return path;
}
#endif

TEST(Tool, ManyFilesIntoAFolderOrInPlace) {
    const std::string b = std::string(170, 'b') + "\n"; // 358 bytes in all, one short of "0.4 KiB"
    const Names tree = {{"game/a.txt", kText}, {"game/sub/b.txt", b}, {"game/.c.txt.1234.quorvex-part", "x"}};
    const std::string longName = std::string(246, 'n') + ".txt"; // with the hidden file's tag, over 255
    std::string kBig; // read in several blocks, each slowed down
    while (kBig.size() < (1u << 20))
        kBig += kText;
    RunCases({
        {{"encrypt", "-g", "1", "-r", "-j", "2", "-o", "out", "game"}, 0, "=quorvex-cli: 2 files done, 1 skipped, 0 failed, 0.3 KiB\n", tree,
         {{"out/a.txt", kEnciphered}, {"out/sub/b.txt", Encrypted(b, 1)}, {"out/.c.txt.1234.quorvex-part", {}}}},
        {{"decrypt", "-g", "0", "-o", "out", "missing.txt", "enc.txt", "game"}, 1,
         "quorvex-cli: warning: 'enc.txt' looks enciphered for Velmire, not Tarnholm\n"
         "quorvex-cli: 1 file done, 2 failed, 0.2 KiB\n", tree,
         {{"out/enc.txt", TranscodeText(kEnciphered, quorvex::kDecrypt, quorvex::CipherKey::ForGame(0))}, {"out/missing.txt", {}}}},
        {{"encrypt", "-g", "1", "-o", "out", "game"}, 1, "cannot read 'game': is a folder (use -r)", tree},
        {{"decrypt", "-g", "auto", "-o", "out", "empty.txt", "enc.txt"}, 0, "enc.txt: Velmire", {{"empty.txt", ""}},
         {{"out/empty.txt", ""}, {"out/enc.txt", kPlain}}},
        {{"encrypt", "-n", "-g", "1", "-o", "out", "in.txt", "lossy.txt"}, 0, "=quorvex-cli: 1 file done, 1 skipped, 0 failed, 0.2 KiB\n",
         {{"out/in.txt", "keep"}, {"lossy.txt", kText}}, {{"out/in.txt", "keep"}, {"out/lossy.txt", kEnciphered}}},
        {{"encrypt", "-g", "1", "-i", "--backup", "in.txt"}, 0, "1 file done", {},
         {{"in.txt", kEnciphered}, {"in.txt~", kText}}},
        {{"encrypt", "-g", "1", "-i", "--", "--backup"}, 0, "1 file done", {{"--backup", kText}},
         {{"--backup", kEnciphered}, {"--backup~", {}}}},
        {{"decrypt", "-g", "auto", "-i", "--backup=.old", "enc.txt", "in.txt"}, 0, "'in.txt' reads as plain text: it does not look enciphered; skipped", {},
         {{"enc.txt", kPlain}, {"enc.txt.old", kEnciphered}}},
        // In place, a file already run is skipped unless forced, and so is one that would lose bytes.
        {{"encrypt", "-g", "1", "-i", "enc.txt", "in.txt"}, 0, "'enc.txt' already looks enciphered for Velmire; skipped", {},
         {{"in.txt", kEnciphered}}},
        {{"encrypt", "-f", "-g", "1", "-i", "enc.txt"}, 0, "1 file done", {}, {{"enc.txt", Encrypted(kEnciphered, 1)}}},
        {{"encrypt", "-g", "1", "-i", "lossy.txt"}, 1, "will not replace 'lossy.txt': 5 bytes would not come back from a round trip",
         {{"lossy.txt", kLossy}}, {{"lossy.txt", kLossy}}},
        {{"encrypt", "-g", "1", "-i", "--backup", "lossy.txt"}, 0, "1 file done", {{"lossy.txt", kLossy}},
         {{"lossy.txt", Encrypted(kLossy, 1)}, {"lossy.txt~", kLossy}}},
        // Backups and the hidden files of stopped runs are never inputs of a walk.
        {{"decrypt", "-g", "1", "-r", "-i", "--backup=.old", "d"}, 0, "2 files done, 2 skipped",
         {{"d/a.txt", kEnciphered}, {"d/a.txt~", kEnciphered}, {"d/b.old", kEnciphered}, {"d/x.old/c.txt", kEnciphered}},
         {{"d/a.txt", kPlain}, {"d/a.txt.old", kEnciphered}, {"d/a.txt~", kEnciphered}, {"d/b.old", kEnciphered},
          {"d/x.old/c.txt", kPlain}}},
        // Bytes that would not come back replace no file, in place or in a folder.
        {{"decrypt", "-g", "1", "-i", "lossy.txt"}, 1, "will not replace 'lossy.txt'", {{"lossy.txt", kEnciphered + "\x01\n"}},
         {{"lossy.txt", kEnciphered + "\x01\n"}}},
        {{"encrypt", "-g", "1", "-o", "out", "lossy.txt"}, 1, "will not replace 'out/lossy.txt'",
         {{"lossy.txt", kLossy}, {"out/lossy.txt", "old"}}, {{"out/lossy.txt", "old"}}},
        {{"encrypt", "-g", "1", "-i", longName}, 0, "1 file done", {{longName, kText}}, {{longName, kEnciphered}}},
        {{"encrypt", "-g", "1", "-o", "out", longName}, 0, "1 file done", {{longName, kText}, {"out/" + longName, "old"}},
         {{"out/" + longName, kEnciphered}}},
#ifdef _WIN32
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 0, "1 file done", {{"in.txt", "@mode 0444"}}, {{"in.txt", "@mode 0444"}}},
#else
        {{"encrypt", "-g", "1", "-i", "link.txt"}, 0, "1 file done", {{"in.txt", "@mode 0640"}, {"link.txt", "@symlink in.txt"}},
         {{"link.txt", kEnciphered}, {"in.txt", "@mode 0640"}}},
        // A walk follows no link, to a file or a folder, and leaves no folder it was given.
        {{"encrypt", "-g", "1", "-r", "-i", "shared"}, 0, "'shared/sub/evil.txt': symbolic link, skipped",
         {{"shared/a.txt", kText}, {"victim.txt", kText}, {"shared/sub/evil.txt", "@symlink ../../victim.txt"},
          {"shared/twin.txt", "@symlink a.txt"}, {"shared/up", "@symlink .."}},
         {{"shared/a.txt", kEnciphered}, {"victim.txt", kText}}},
        {{"encrypt", "-g", "1", "-o", "out", "in.txt", "enc.txt"}, 1, "cannot write output 'out/in.txt': symbolic link",
         {{"out/in.txt", "@symlink ../victim.txt"}, {"out/enc.txt", "@fifo"}, {"victim.txt", "keep"}},
         {{"victim.txt", "keep"}}},
        {{"encrypt", "-g", "1", "-r", "-o", "out", "shared"}, 0, "=quorvex-cli: 'shared/sub/evil.txt': symbolic link, skipped\n"
         "quorvex-cli: 1 file done, 1 skipped, 0 failed, 0.2 KiB\n", {{"shared/a.txt", kText}, {"shared/sub/evil.txt", "@symlink ../../in.txt"}},
         {{"out/a.txt", kEnciphered}, {"out/sub/evil.txt", {}}}},
        {{"!sh", "ulimit -n 16; exec \"$0\" encrypt -g 1 -r -o out deep"}, 0, "1 file done", {{"deep/" + DeepPath(200) + "x.txt", kText}},
         {{"out/" + DeepPath(200) + "x.txt", kEnciphered}}},
        {{"encrypt", "-g", "1", "-i", "fifo", "/dev/null", "/dev/stdin", "in.txt"}, 1, "cannot replace '/dev/stdin': not a regular file",
         {{"fifo", "@fifo"}}, {{"in.txt", kEnciphered}}, "enc.txt"},
        {{"encrypt", "-g", "0", "-i", "enc.txt"}, 0, "'enc.txt' already looks enciphered for Velmire; skipped"},
        {{"decrypt", "-g", "0", "-i", "enc.txt"}, 0, "'enc.txt' looks enciphered for Velmire, not Tarnholm; skipped"},
        {{"encrypt", "-g", "1", "-i", "--backup", "lossy.txt"}, 1, "its backup 'lossy.txt~' would be replaced too",
         {{"lossy.txt", kLossy}, {"lossy.txt~", "older"}}, {{"lossy.txt", kLossy}, {"lossy.txt~", "older"}}},
        {{"!root", "mkdir out && chgrp 65534 out && chmod 2775 out && chmod 640 in.txt && "
                   "\"$0\" encrypt -q -g 1 -o out in.txt && stat -c %a out/in.txt"}, 0, "stdout=600\n"},
        {{"encrypt", "-g", "1", "-r", "-o", "out", "game"}, 0, "1 file done", {{"game/ro/x.txt", kText}, {"game/ro", "@dir 0555"}},
         {{"out/ro/x.txt", kEnciphered}}, {}, true},
        {{"!root", "chown 65534:65534 in.txt && chmod 2640 in.txt && setfacl -m u:65534:r in.txt && setfattr -n user.note -v kept in.txt && "
                   "\"$0\" encrypt -q -g 1 -i in.txt && stat -c '%u %g %a' in.txt && getfacl -cn in.txt | grep 65534 && "
                   "getfattr --only-values -n user.note in.txt"}, 0, "stdout=65534 65534 2640\nuser:65534:r--\nkept", {}, {{"in.txt", kEnciphered}}},
        // As nobody: another's set-user-ID file loses the bit; an output is no more open than its input.
        {{"encrypt", "-q", "-g", "1", "-i", "in.txt"}, 0, "", {{"in.txt", "@mode 04755"}}, {{"in.txt", "@mode 0755"}}, {}, true},
        {{"encrypt", "-g", "1", "-o", "out", "in.txt"}, 1, "cannot write output 'out/in.txt': it is write-protected",
         {{"out/in.txt", "keep"}, {"out/in.txt", "@mode 0444"}}, {{"out/in.txt", "keep"}}, {}, true},
        {{"encrypt", "-g", "1", "-r", "-o", "out", "game"}, 0, "1 file done", {{"game/secret/s.txt", kText}, {"game/secret", "@dir 0700"}},
         {{"out/secret", "@mode 0700"}}},
        {{"!sh", "mkdir d && setfacl -d -m u:1:r d && cp in.txt d/f && chmod 640 d/f && setfacl -b d/f && "
                 "\"$0\" encrypt -q -g 1 -i d/f; getfacl -cn d/f | grep -c :1:"}, 1, "stdout=0\n"},
        {{"encrypt", "-g", "1", "-o", "out", "in.txt", "lossy.txt"}, 0, "2 files done",
         {{"in.txt", "@mode 0600"}, {"lossy.txt", kText}, {"out/lossy.txt", "old"}, {"out/lossy.txt", "@mode 0604"}},
         {{"out/in.txt", "@mode 0600"}, {"out/lossy.txt", "@mode 0604"}}},
        {{"encrypt", "-g", "1", "-r", "-o", "out", "game"}, 1, "cannot read folder 'game/locked': Permission denied",
         {{"game/a.txt", kText}, {"game/locked/b.txt", kText}, {"game/locked", "@dir 0"}}, {{"out/a.txt", kEnciphered}}, {}, true},
        // Interrupted, a batch says how far it got, and leaves no half-written file.
        {{"!sh", "timeout --preserve-status -s INT 0.3 \"$0\" encrypt -g 1 -j 1 -o out big.txt in.txt"}, 130,
         "interrupted: 0 of 2 files done", {{"big.txt", kBig}}, {{"out/big.txt", {}}}, {}, false, "slowread"},
        {{"!sh", "timeout --preserve-status -s TERM 0.3 \"$0\" encrypt -g 1 -i big.txt"}, 143,
         "interrupted: 0 of 1 file done", {{"big.txt", kBig}}, {{"big.txt", kBig}}, {}, false, "slowread"},
        // A disk that fills: the file size limit fails the write (with its signal ignored).
        {{"!sh", "trap '' XFSZ; ulimit -f 16; exec \"$0\" encrypt -g 1 -o out big.txt"}, 1, "cannot write output 'out/big.txt'",
         {{"big.txt", std::string(65536, 'x')}}, {{"big.txt", std::string(65536, 'x')}, {"out/big.txt", {}}}},
        {{"!sh", "trap '' XFSZ; ulimit -f 16; exec \"$0\" encrypt -g 1 -i big.txt"}, 1, "cannot replace 'big.txt'",
         {{"big.txt", std::string(65536, 'x')}}, {{"big.txt", std::string(65536, 'x')}}},
        {{"encrypt", "-g", "1", "-o", "out", "in.txt", "locked.txt"}, 1, "cannot read input 'locked.txt': Permission denied",
         {{"locked.txt", "x"}, {"locked.txt", "@mode 0"}}, {{"out/in.txt", kEnciphered}}, {}, true},
        {{"encrypt", "-g", "1", "-o", "ro", "in.txt"}, 1, "cannot write output 'ro/in.txt'", {{"ro", "@dir 0555"}}, {{"ro/in.txt", {}}}, {}, true},
        // What the system seldom refuses: a file without a name, linking or renaming it, ...
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 0, "1 file done", {}, {{"in.txt", kEnciphered}}, {}, false, "tmpfile"},
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 1, "in.txt': Input/output error", {}, {}, {}, false, "tmpfile,rename"},
        {{"encrypt", "-g", "1", "-o", "out", "in.txt"}, 1, "cannot write output 'out/in.txt'", {}, {}, {}, false, "linkat"},
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 1, "in.txt': Input/output error", {}, {}, {}, false, "fchmod"},
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 1, "in.txt': Input/output error", {}, {}, {}, false, "fsync"},
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 1, "cannot flush the folder of '", {}, {{"in.txt", kEnciphered}}, {}, false, "folder"},
        {{"encrypt", "-g", "1", "-o", "out", "in.txt"}, 1, "cannot write output 'out/in.txt': Input/output error", {}, {{"out/in.txt", {}}}, {}, false, "close"},
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 1, "in.txt': Input/output error", {}, {}, {}, false, "close"},
        // edit asks on a terminal, here one that script(1) makes, whether to write lossy text;
        // whatever keeps the edit from being written, it is kept.
        {{"!sh", R"(echo y | VISUAL="printf 'gr\303\274\n' >>" TMPDIR=. script -qec "'$0' edit -g 1 enc.txt" /dev/null)"}, 0,
         "stdout:anyway? [y/N]", {}, {{"enc.txt", Encrypted(kPlain + "gr\xC3\xBC\n", 1)}}},
        {{"!sh", R"(echo n | VISUAL="printf 'gr\303\274\n' >>" TMPDIR=. script -qec "'$0' edit -g 1 enc.txt" /dev/null)"}, 1,
         "stdout:nothing written; 'enc.txt' is unchanged; the edited text stays in './quorvex-"},
        {{"!sh", "VISUAL='echo added >>' TMPDIR=. \"$0\" edit -g 1 enc.txt"}, 1, "the edited text stays in './quorvex-", {}, {}, {}, false, "rename"},
        {{"!sh", "VISUAL='echo added >>' \"$0\" edit -q -g 1 enc.txt"}, 0, "", {{"enc.txt", "@mode 0640"}}, {{"enc.txt", "@mode 0640"}}},
        {{"!sh", "VISUAL='echo added >>' TMPDIR=. \"$0\" edit -g 1 .as-deciphered"}, 0, "", {{".as-deciphered", kEnciphered}},
         {{".as-deciphered", Encrypted(kPlain + "added\r\n", 1)}}},
        {{"!sh", "TMPDIR=none \"$0\" edit -g 1 enc.txt"}, 1, "cannot make a private folder in 'none': No such file or directory"},
#endif
    });
}
// clang-format on

// The user's editor, played by a small script: named by VISUAL, or found on PATH as
// "editor", else "vi".
TEST(Tool, EditsThroughTheUsersEditor) {
    const std::string changed = Encrypted(kPlain + "added\r\n", 1);
    struct Edit {
        std::string editor, game;
        int status; // -1: killed by a signal
        std::string says;
        std::optional<std::string> leaves;    // enc.txt's bytes; none if it is not a file
        std::vector<std::string> onPath = {}; // programs: "NAME" appends a line, "NAME!" fails
    };
#ifdef _WIN32
    const Edit edits[] = {
        {"cmd /c echo added>>", "auto", 0, "", changed},
        {"cmd /c rem", "auto", 0, "no changes; 'enc.txt' is left as it was", kEnciphered},
        {"cmd /c exit 3", "auto", 1, "the editor failed with status 3", kEnciphered}};
#else
    const std::string lossy = "printf 'gr\\303\\274\\n' >> \"$1\"";
    const Edit edits[] = {
        {"test $(stat -c %a \"$1\") = 600 && echo added >>", "auto", 0, "enc.txt: Velmire",
         changed},
        {"true", "0", 0,
         "warning: 'enc.txt' looks enciphered for Velmire, not Tarnholm\n"
         "quorvex-cli: no changes; 'enc.txt' is left as it was",
         kEnciphered},
        {"false", "auto", 1, "the editor failed with status 1; 'enc.txt' is unchanged",
         kEnciphered},
        {lossy + "; true", "auto", 1, "warning: line 4 holds bytes", kEnciphered},
        {"printf 'x\\r' >>", "auto", 1, "warning: line 4 holds bytes",
         kEnciphered}, // a CR ending no line
        {"for i in 1 2 3 4 5 6 7 8 9 10 11 12; do " + lossy + "; done; true", "auto", 1,
         "warning: lines 4, 5, 6, 7, 8, 9, 10, 11, 12, 13 and 2 more hold bytes", kEnciphered},
        {"kill -TERM $PPID; sleep 1 #", "auto", -1, "the edited text stays in", kEnciphered},
        {"echo added >> \"$1\"; false #", "auto", 1,
         "failed with status 1; 'enc.txt' is unchanged; the edited", kEnciphered},
        {"kill -KILL $$ #", "auto", 1, "the editor did not finish", kEnciphered},
        {"rm enc.txt; mkdir enc.txt; echo added >>",
         "auto",
         1,
         "changed since it was deciphered",
         {}},
        {"printf x >> enc.txt; echo added >>", "auto", 1, "changed since it was deciphered",
         kEnciphered + "x"},
        {"", "auto", 0, "", changed, {"editor", "vi!"}},
        {"", "auto", 0, "", changed, {"vi"}}};
#endif
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.editor);
        ScratchFolder dir;
        fs::create_directories(dir / "tmp");
        WriteFile(dir / "enc.txt", kEnciphered);
        const auto before = fs::last_write_time(dir / "enc.txt");
        const std::string tmp = (dir / "tmp").string();
        std::vector<std::pair<std::string, std::string>> env = {
            {"VISUAL", edit.editor}, {"TMP", tmp}, {"TMPDIR", tmp}};
        if (!edit.onPath.empty()) // and, for once, no TMPDIR or EDITOR
            env = {
                {"VISUAL", ""}, {"EDITOR", ""}, {"TMPDIR", ""}, {"PATH", (dir / "bin").string()}};
        for (const std::string& program : edit.onPath) {
            const bool fails = program.ends_with("!");
            const fs::path path = dir / "bin" / program.substr(0, program.size() - fails);
            fs::create_directories(path.parent_path());
            WriteFile(path, fails ? "#!/bin/sh\nexit 1\n" : "#!/bin/sh\necho added >> \"$1\"\n");
            fs::permissions(path, fs::perms(0755));
        }
        const Ran ran =
            RunProgram(QUORVEX_CLI, {"edit", "--game", edit.game, "enc.txt"}, dir.Path(), {}, env);
        EXPECT_EQ(ran.status, edit.status) << ran.err;
        EXPECT_NE(ran.err.find(edit.says), std::string::npos) << ran.err;
        EXPECT_EQ(fs::is_regular_file(dir / "enc.txt"), edit.leaves.has_value());
        if (edit.leaves) {
            EXPECT_EQ(ReadFile(dir / "enc.txt"), *edit.leaves);
            EXPECT_TRUE(edit.leaves != kEnciphered ||
                        fs::last_write_time(dir / "enc.txt") == before)
                << "rewritten";
        }
        // Deciphered text is left only where the tool says so, and only with no one to ask.
        std::size_t left = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dir / "tmp"))
            left += entry.is_regular_file() + entry.is_directory();
        EXPECT_EQ(left, ran.err.find("the edited text stays in") != std::string::npos ? 2u : 0u)
            << ran.err;
    }
}

#ifndef _WIN32
// Killed at any moment, a run leaves every original whole, and every output absent,
// complete, or only as the hidden file of an unfinished run.
TEST(Tool, KilledAtAnyMomentLosesNothing) {
    ScratchFolder dir;
    std::string text;
    std::mt19937 random(5);
    while (text.size() < (64u << 20))
        text += std::string(random() % 200, static_cast<char>('A' + random() % 26)) + "\n";
    const std::string enciphered = TranscodeText(text, kEncrypt, quorvex::CipherKey::ForGame(2));
    for (int round = 0; round < 12; ++round) {
        const bool inPlace = round % 2;
        WriteFile(dir / "game.txt", text);
        fs::remove_all(dir / "out");
        const pid_t child = ::fork();
        if (child == 0 && ::chdir(dir.Path().c_str()) == 0)
            ::execl(QUORVEX_CLI, "quorvex-cli", "encrypt", "-g", "2", "-q", inPlace ? "-i" : "-o",
                    inPlace ? "game.txt" : "out", inPlace ? nullptr : "game.txt", nullptr);
        if (child == 0)
            ::_exit(127);
        ::usleep(static_cast<useconds_t>(random() % 300) * 1000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        // In place, the original is the output: whole before the rename, the result after.
        const std::string original = ReadFile(dir / "game.txt");
        const std::string output = ReadFile(dir / (inPlace ? "game.txt" : "out/game.txt"));
        EXPECT_TRUE(inPlace || original == text) << "round " << round;
        EXPECT_TRUE(output == enciphered || (inPlace ? output == text : output.empty())) << round;
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "game.txt" || name == "out" || name.ends_with(".quorvex-part"))
                << name;
        }
    }
}
#endif

} // namespace
