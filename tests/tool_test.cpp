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
const std::string kEnciphered = TranscodeText(kText, kEncrypt, 1); // for Velmire
const std::string kPlain = TranscodeText(kEnciphered, quorvex::kDecrypt, 1);
const std::string kOffset50 = TranscodeText(kText, kEncrypt, quorvex::CipherKey::FromOffset(50));

std::string Encrypted(const std::string& text, int game) {
    return TranscodeText(text, kEncrypt, game);
}

// What a case puts in its folder beside in.txt and enc.txt: files with their bytes, or
// "@dir MODE", "@mode MODE", "@symlink TO" and "@hardlink TO".
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
        if (!args.empty() && args[0] == "!sh") { // the tool under a shell line; "$0" names it
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
        {{"encrypt", "--offset", "5", "-g", "0", "in.txt", "out.txt"}, 2, "excludes"},
        {{"encrypt", "-g", "auto", "in.txt", "out.txt"}, 2, "--game auto is for decrypt and edit"},
        {{"decrypt", "-g", "auto", "-", "out.txt"}, 2, "standard input cannot be read twice", {}, {}, "enc.txt"},
        {{"encrypt", "-g", "0", "-r", "in.txt", "out.txt"}, 2, "-r goes with"},
        {{"encrypt", "-g", "0", "-j", "2", "in.txt", "out.txt"}, 2, "-j goes with"},
        {{"encrypt", "-g", "0", "--backup", "in.txt", "out.txt"}, 2, "--in-place"},
        {{"encrypt", "-g", "0", "-i", "-o", "out", "in.txt"}, 2, "excludes"},
        {{"encrypt", "-g", "0", "-i", "-n", "in.txt"}, 2, "-n does not go with --in-place"},
        {{"encrypt", "-g", "0", "-o", "out", "-"}, 2, "standard input cannot"},
        {{"encrypt", "-g", "0", "-o", "out", "in.txt", "sub/in.txt"}, 2, "would both be written", {{"sub/in.txt", "x"}}},
        {{"encrypt", "-g", "1", "-i", "in.txt", "./in.txt"}, 2, "are the same file"},
        {{"edit", "-g", "0", "in.txt", "enc.txt"}, 2, "edit takes one FILE"},
        {{"--help"}, 0, "stdout:encrypt"},
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
        {{"encrypt", "-g", "0", "missing.txt", "out.txt"}, 1, "cannot open 'missing.txt'", {}, {{"out.txt", {}}}},
        {{"encrypt", "-g", "0", "", "out.txt"}, 1, "cannot open ''", {}, {{"out.txt", {}}}},
        {{"encrypt", "-g", "0", "folder", "out.txt"}, 1, "cannot open 'folder'", {{"folder", "@dir"}},
         {{"out.txt", {}}}},
        {{"encrypt", "-g", "0", "in.txt", "none/out.txt"}, 1, "cannot open 'none/out.txt'"},
        {{"encrypt", "-g", "0", "in.txt", "./in.txt"}, 1, "input and output are the same file"},
        {{"encrypt", "-g", "0", "in.txt", "hard.txt"}, 1, "input and output are the same file",
         {{"hard.txt", "@hardlink in.txt"}}},
        {{"encrypt", "-n", "-g", "0", "in.txt", "out.txt"}, 1, "will not overwrite 'out.txt'",
         {{"out.txt", "keep"}}, {{"out.txt", "keep"}}},
        {{"decrypt", "-g", "0", "enc.txt", "out.txt"}, 0, "warning: 'enc.txt' looks enciphered for Velmire, not Tarnholm"},
        {{"decrypt", "-g", "auto", "enc.txt", "out.txt"}, 0, "", {}, {{"out.txt", kPlain}}},
        {{"decrypt", "-g", "auto", "in.txt", "out.txt"}, 3, "reads as text as it is", {}, {{"out.txt", {}}}},
        {{"detect", "enc.txt"}, 0, "stdout=Velmire     100.0\nOstrand      23.3\nTarnholm     17.5\nCarrowmere   13.6\n"},
        {{"detect", "yes.txt"}, 0, "stdout:uncertain: Velmire comes close to Ostrand\n", {{"yes.txt", Encrypted("yes\n", 2)}}},
        {{"detect", "-"}, 0, "stdout:Velmire ", {}, {}, "enc.txt"},
        {{"detect", "--any-offset", "o50.txt"}, 0, "stdout:offset 50 ", {{"o50.txt", kOffset50}}},
        {{"detect", "o50.txt"}, 3, "stdout:no game gives plausible text", {{"o50.txt", kOffset50}}},
        {{"detect", "in.txt"}, 3, "stdout:'in.txt' reads as text as it is"},
        {{"detect", "empty.txt"}, 3, "stdout:'empty.txt' is empty", {{"empty.txt", ""}}},
        {{"detect", "missing.txt"}, 1, "cannot open 'missing.txt'"},
#ifdef _WIN32
        {{"encrypt", "-g", "0", "\xE6\x97\xA5\xF0\x9F\x98\x80.txt", "o\xF0\x9F\x98\x80.txt"}, 0, "",
         {{"\xE6\x97\xA5\xF0\x9F\x98\x80.txt", kText}}, {{"o\xF0\x9F\x98\x80.txt", Encrypted(kText, 0)}}},
        {{"encrypt", "-g", "0", "in.txt", "IN.TXT"}, 1, "input and output are the same file"},
        // cmd, which reads the file into standard input, keeps others from writing to it.
        {{"encrypt", "-g", "0", "-", "in.txt"}, 1, "cannot open 'in.txt'", {}, {}, "in.txt"},
#else
        {{"encrypt", "-g", "0", "-", "in.txt"}, 1, "input and output are the same file", {}, {}, "in.txt"},
        {{"encrypt", "-g", "0", "in.txt", "out\nput.txt"}, 0, "", {}, {{"out\nput.txt", Encrypted(kText, 0)}}},
        {{"encrypt", "-g", "0", "in.txt", "link.txt"}, 1, "input and output are the same file",
         {{"link.txt", "@symlink in.txt"}}},
        {{"encrypt", "-g", "0", "in.txt", "/dev/full"}, 1, "cannot write '/dev/full': No space"},
        // As nobody, whom modes bind (Wine run by root writes a read-only file all the same).
        {{"encrypt", "-g", "0", "in.txt", "out.txt"}, 1, "cannot open 'out.txt'",
         {{"out.txt", "keep"}, {"out.txt", "@mode 0444"}}, {{"out.txt", "keep"}}, {}, true},
        {{"!sh", "(cat enc.txt; sleep 0.2; cat enc.txt) | \"$0\" detect -"}, 0, "stdout:Velmire "},
        {{"encrypt", "-g", "0", "in.txt", "out.txt"}, 1, "cannot open 'in.txt': Permission denied",
         {{"in.txt", "@mode 0"}}, {{"out.txt", {}}}, {}, true},
        {{"encrypt", "-g", "0", "in.txt", "ro/out.txt"}, 1, "Permission denied", {{"ro", "@dir 0555"}},
         {{"ro/out.txt", {}}}, {}, true},
#endif
    });
}

TEST(Tool, ManyFilesIntoAFolderOrInPlace) {
    const std::string b = std::string(170, 'b') + "\n"; // 358 bytes in all, one short of "0.4 KiB"
    const Names tree = {{"game/a.txt", kText}, {"game/sub/b.txt", b}, {"game/.c.txt.1234.quorvex-part", "x"}};
    RunCases({
        {{"encrypt", "-g", "1", "-r", "-j", "2", "-o", "out", "game"}, 0, "=quorvex-cli: 2 files done, 0 failed, 0.3 KiB\n", tree,
         {{"out/a.txt", kEnciphered}, {"out/sub/b.txt", Encrypted(b, 1)}, {"out/.c.txt.1234.quorvex-part", {}}}},
        {{"decrypt", "-g", "0", "-o", "out", "missing.txt", "enc.txt", "game"}, 1,
         "\nquorvex-cli: warning: 'enc.txt' looks enciphered for Velmire, not Tarnholm\n"
         "quorvex-cli: cannot open 'game': it is a folder (-r runs every file in it)\n"
         "quorvex-cli: 1 file done, 2 failed, 0.2 KiB\n", tree,
         {{"out/enc.txt", TranscodeText(kEnciphered, quorvex::kDecrypt, 0)}, {"out/missing.txt", {}}}},
        {{"encrypt", "-g", "1", "-o", ".", "in.txt"}, 1, "input and output are the same file"},
        {{"encrypt", "-n", "-g", "1", "-o", "out", "in.txt", "enc.txt"}, 1, "will not overwrite",
         {{"out/in.txt", "keep"}}, {{"out/in.txt", "keep"}, {"out/enc.txt", Encrypted(kEnciphered, 1)}}},
        {{"encrypt", "-g", "1", "-i", "--backup", "in.txt"}, 0, "1 file done", {},
         {{"in.txt", kEnciphered}, {"in.txt~", kText}}},
        {{"decrypt", "-g", "auto", "-i", "--backup=.old", "enc.txt", "in.txt"}, 3, "no game is clearly right", {},
         {{"enc.txt", kPlain}, {"enc.txt.old", kEnciphered}}},
#ifndef _WIN32
        {{"encrypt", "-g", "1", "-i", "link.txt"}, 0, "1 file done", {{"in.txt", "@mode 0640"}, {"link.txt", "@symlink in.txt"}},
         {{"link.txt", kEnciphered}, {"in.txt", "@mode 0640"}}},
        // A disk that fills: the file size limit fails the write (with its signal ignored).
        {{"!sh", "trap '' XFSZ; ulimit -f 16; exec \"$0\" encrypt -g 1 -o out big.txt"}, 1, "cannot write",
         {{"big.txt", std::string(65536, 'x')}}, {{"big.txt", std::string(65536, 'x')}, {"out/big.txt", {}}}},
        {{"!sh", "trap '' XFSZ; ulimit -f 16; exec \"$0\" encrypt -g 1 -i big.txt"}, 1, "cannot write",
         {{"big.txt", std::string(65536, 'x')}}, {{"big.txt", std::string(65536, 'x')}}},
        {{"encrypt", "-g", "1", "-o", "out", "in.txt", "locked.txt"}, 1, "cannot open 'locked.txt': Permission denied",
         {{"locked.txt", "x"}, {"locked.txt", "@mode 0"}}, {{"out/in.txt", kEnciphered}}, {}, true},
        {{"encrypt", "-g", "1", "-o", "ro", "in.txt"}, 1, "cannot write", {{"ro", "@dir 0555"}}, {{"ro/in.txt", {}}}, {}, true},
        // What the system seldom refuses: a file without a name, linking or renaming it, ...
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 0, "1 file done", {}, {{"in.txt", kEnciphered}}, {}, false, "tmpfile"},
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 1, "in.txt': Input/output error", {}, {}, {}, false, "tmpfile,rename"},
        {{"encrypt", "-g", "1", "-o", "out", "in.txt"}, 1, "cannot write 'out/in.txt'", {}, {}, {}, false, "linkat"},
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 1, "in.txt': Input/output error", {}, {}, {}, false, "fchmod"},
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 1, "in.txt': Input/output error", {}, {}, {}, false, "fsync"},
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 1, "cannot flush the folder of '", {}, {{"in.txt", kEnciphered}}, {}, false, "folder"},
        {{"encrypt", "-g", "1", "-o", "out", "in.txt"}, 1, "cannot write 'out/in.txt': Input/output error", {}, {{"out/in.txt", {}}}, {}, false, "close"},
        {{"encrypt", "-g", "1", "-i", "in.txt"}, 1, "in.txt': Input/output error", {}, {}, {}, false, "close"},
        // edit asks on a terminal, here one that script(1) makes, whether to write lossy text.
        {{"!sh", R"(echo y | VISUAL="printf 'gr\303\274\n' >>" TMPDIR=. script -qec "'$0' edit -g 1 enc.txt" /dev/null)"}, 0,
         "stdout:anyway? [y/N]", {}, {{"enc.txt", Encrypted(kPlain + "gr\xC3\xBC\n", 1)}}},
        {{"!sh", R"(echo n | VISUAL="printf 'gr\303\274\n' >>" TMPDIR=. script -qec "'$0' edit -g 1 enc.txt" /dev/null)"}, 1,
         "stdout:nothing written; 'enc.txt' is unchanged"},
        {{"!sh", "TMPDIR=none \"$0\" edit -g 1 enc.txt"}, 1, "cannot make a private folder"},
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
        {"echo added >>", "auto", 0, "", changed},
        {"true", "0", 0,
         "warning: 'enc.txt' looks enciphered for Velmire, not Tarnholm\n"
         "quorvex-cli: no changes; 'enc.txt' is left as it was",
         kEnciphered},
        {"false", "auto", 1, "the editor failed with status 1; 'enc.txt' is unchanged",
         kEnciphered},
        {lossy + "; true", "auto", 1, "warning: line 4 holds bytes", kEnciphered},
        {"for i in 1 2 3 4 5 6 7 8 9 10 11 12; do " + lossy + "; done; true", "auto", 1,
         "warning: lines 4, 5, 6, 7, 8, 9, 10, 11, 12, 13 and 2 more hold bytes", kEnciphered},
        {"kill -TERM $PPID; sleep 1 #", "auto", -1, "", kEnciphered},
        {"kill -KILL $$ #", "auto", 1, "the editor did not finish", kEnciphered},
        {"rm enc.txt; mkdir enc.txt; echo added >>", "auto", 1, "; 'enc.txt' is unchanged", {}},
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
    const std::string enciphered = TranscodeText(text, kEncrypt, 2);
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
