// quorvex-cli: the dialog's transcoding run from a shell, for one file, many files at once
// or in place, through an editor, and a guess at which game a file belongs to.

#include "platform.h"
#include "quorvex/cipher.h"
#include "quorvex/detect.h"
#include "quorvex/transcode.h"
#include "tool.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

using tool::Quoted;
using tool::Say;

constexpr const char* kCommands[] = {"encrypt", "decrypt", "edit", "detect"};

int UsageError(const std::string& message) {
    Say(message);
    std::cerr << "Try '" << tool::kProgram << " --help' for more information.\n";
    return tool::kExitUsage;
}

// Progress goes to stderr only when asked for, so stdout can carry the output file.
class StderrSink : public quorvex::MessageSink {
public:
    explicit StderrSink(bool verbose) : m_verbose(verbose) {}
    void Show(std::string_view text) override {
        if (m_verbose)
            std::cerr << text << '\n';
    }

private:
    bool m_verbose;
};

// Whether an existing OUTPUT may be overwritten: a regular file that holds something is
// the user's to give up, on a terminal; with none to ask on, only with --force.
bool MayOverwrite(const tool::Options& options, const std::string& output,
                  const quorvex::FileIdentity& identity) {
    if (options.force || !identity.regular || identity.size == 0)
        return true;
    const platform::Answer answer = platform::Ask("overwrite " + Quoted(output) + "? [y/N] ");
    if (answer == platform::Answer::Yes)
        return true;
    Say(answer == platform::Answer::No
            ? Quoted(output) + " is left as it was"
            : Quoted(output) + " exists: -f overwrites it; -o FOLDER or -i run several files");
    return false;
}

// INPUT OUTPUT: the dialog's run, with each stage on stderr when asked for.
int RunOne(const tool::Options& options) {
    const bool standardIn = options.files[0] == "-", standardOut = options.files[1] == "-";
    const std::string input = standardIn ? "standard input" : options.files[0];
    const std::string output = standardOut ? "standard output" : options.files[1];
    const std::string inputShown = standardIn ? input : Quoted(input);
    const std::string outputShown = standardOut ? output : Quoted(output);
    quorvex::SystemError error = 0;
    quorvex::File file =
        standardIn ? quorvex::File::StandardInput() : quorvex::File::OpenForReading(input, error);
    std::string front;
    if (!file.IsOpen() || (tool::JudgesFront(options) && !tool::ReadFront(file, front, error))) {
        Say(tool::Failure("cannot read input", inputShown, quorvex::DescribeError(error)));
        return tool::kExitFailure;
    }
    const tool::KeyChoice choice = tool::ChooseKey(options, front, input, standardIn);
    if (!tool::SayChoice(choice))
        return tool::kExitNoKey;
    // As cp, no new file is made where a link that leads nowhere stands.
    std::error_code status;
    if (!standardOut &&
        std::filesystem::is_symlink(
            std::filesystem::symlink_status(tool::PathOf(output), status)) &&
        !std::filesystem::exists(tool::PathOf(output), status)) {
        Say(tool::Failure("cannot write output", outputShown,
                          "not writing through a symbolic link that leads nowhere"));
        return tool::kExitFailure;
    }
    quorvex::FileIdentity in, out;
    if (!standardOut && quorvex::IdentifyPath(output, out, error)) {
        const char* refusal = std::filesystem::is_directory(tool::PathOf(output), status)
                                  ? "is a folder (use -o FOLDER)"
                              : file.Identify(in, error) && in.SameFileAs(out)
                                  ? "input and output are the same file"
                                  : nullptr;
        if (refusal) {
            Say(tool::Failure("cannot write output", outputShown, refusal));
            return tool::kExitFailure;
        }
        if (options.noClobber)
            return 0;
        if (!MayOverwrite(options, output, out))
            return tool::kExitFailure;
    }
    StderrSink sink(options.verbose);
    const quorvex::TranscodeResult result = quorvex::RunTranscode(
        quorvex::FileRef::Opened(input, file, front),
        standardOut ? quorvex::FileRef::Standard(output) : quorvex::FileRef::Path(output),
        options.mode, *choice.key, sink);
    if (result.Failed()) {
        const bool reading = result.role == quorvex::FileRole::Input;
        Say(tool::Failure(reading ? "cannot read input" : "cannot write output",
                          reading ? inputShown : outputShown, result.reason));
        return tool::kExitFailure;
    }
    if (result.lossyBytes > 0 && !options.quiet)
        Say(tool::LossyWarning(result.lossyBytes, result.firstLossyLine, inputShown, options.mode));
    return 0;
}

// One file: the whole ranking. Several, or folders: a line for each.
int DetectGames(tool::Options options) {
    std::error_code error;
    const bool one = options.files.size() == 1 &&
                     (options.files[0] == "-" ||
                      !std::filesystem::is_directory(tool::PathOf(options.files[0]), error));
    tool::Plan plan;
    if (one)
        plan.jobs.push_back({nullptr, options.files[0], nullptr, options.files[0]});
    else
        plan = tool::MakePlan(options, false);
    if (!plan.refusal.empty())
        return UsageError(plan.refusal);
    for (const std::string& message : plan.skipped)
        Say(message);
    int status = plan.failed.empty() ? 0 : tool::kExitFailure;
    for (const std::string& message : plan.failed)
        Say(message);
    tool::FolderOpener opener(false, tool::FoldersHeld(1));
    for (const tool::Job& job : plan.jobs) {
        const bool standard = job.argument == "-";
        const std::string argument = job.argument.value_or("");
        const std::string name = standard ? "standard input" : job.Source();
        quorvex::SystemError error = 0;
        std::string where;
        const quorvex::Folder* folder = job.from ? opener.Open(job.from, error, where) : nullptr;
        quorvex::File file = standard   ? quorvex::File::StandardInput()
                             : folder   ? folder->OpenRegular(job.name, error)
                             : job.from ? quorvex::File()
                                        : quorvex::File::OpenForReading(argument, error);
        std::string front;
        if (!file.IsOpen() || !tool::ReadFront(file, front, error)) {
            Say(tool::Failure("cannot read", standard ? name : Quoted(where.empty() ? name : where),
                              quorvex::DescribeError(error)));
            status = tool::kExitFailure;
            continue;
        }
        const quorvex::Detection detection = tool::DetectFront(front, options.anyOffset);
        std::cout << (one ? tool::Report(detection, standard ? name : Quoted(name),
                                         options.anyOffset)
                          : (standard ? name : tool::Listed(name)) + ": " +
                                tool::VerdictLine(detection, options.anyOffset) + "\n");
        const bool named = detection.verdict == quorvex::Verdict::Clear ||
                           detection.verdict == quorvex::Verdict::Uncertain;
        if (!named && status == 0)
            status = tool::kExitNoKey;
    }
    return status;
}

// What CLI11 found wrong, in the tool's own words.
std::string Explain(const CLI::ParseError& error) {
    std::string what = error.what();
    if (what == "A subcommand is required")
        return "a command is needed: encrypt, decrypt, edit or detect";
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        std::string first = what.substr(what.find(": ") + 2);
        first = first.substr(0, first.find(' '));
        return (first.starts_with("-") ? "unknown option " : "unexpected argument ") +
               Quoted(first);
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error) && what.ends_with(" is required"))
        return what.starts_with("-") ? what : "no file is named";
    if (const std::size_t colon = what.find(": ");
        dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        const std::string option = what.substr(0, colon);
        if (what.find("At Most") == std::string::npos)
            return option + " needs a value";
        return option.starts_with("-") ? option + " is given more than once"
                                       : "only one " + option + " is taken";
    }
    if (what.size() > 1 && std::isupper(static_cast<unsigned char>(what[0])) &&
        std::islower(static_cast<unsigned char>(what[1])))
        what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
    return what;
}

// A whole number in decimal digits only: "0x10" and "010" are not 16 and 8 here.
CLI::Validator WholeNumber(long first, long last) {
    const std::string range = std::to_string(first) + " to " + std::to_string(last);
    return CLI::Validator(
        [first, last, range](std::string& text) {
            const bool digits = !text.empty() && text.size() < 10 &&
                                std::all_of(text.begin(), text.end(), [](char c) {
                                    return std::isdigit(static_cast<unsigned char>(c));
                                });
            const long value = digits ? std::stol(text) : -1;
            return digits && value >= first && value <= last
                       ? std::string()
                       : Quoted(text) + " is not a whole number from " + range;
        },
        "", "");
}

// --backup takes its suffix only after '=', and shows so in the help.
class Formatter : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        return option->get_name() == "--backup"
                   ? "--backup[=SUFFIX]"
                   : CLI::Formatter::make_option_name(option, positional);
    }
    // Only what the option takes: which options go together is the help's text to say.
    std::string make_option_opts(const CLI::Option* option) const override {
        const std::string type = option->get_type_name();
        return option->get_name() == "--backup" || option->get_type_size() == 0 || type.empty()
                   ? ""
                   : " " + type;
    }
};

void AddKeyOptions(CLI::App& command, tool::Options& options) {
    CLI::Option* game = command
                            .add_option("-g,--game", options.game,
                                        "Game: " + tool::GameChoices() +
                                            "; auto (decrypt and edit) takes the one detect "
                                            "names, and says which")
                            ->type_name("GAME");
    command
        .add_option("--offset", options.offset,
                    "Offset 0 to 94 of a game that is not in the list, in place of --game")
        ->check(WholeNumber(0, quorvex::kAlphabetSize - 1))
        ->type_name("K")
        ->excludes(game);
    command.add_flag("-q,--quiet", options.quiet,
                     "No warnings: bytes that will not come back, a file that looks already "
                     "run or run for another game, the game --game auto chose");
}

CLI::App* AddRunCommand(CLI::App& app, const char* name, const char* what, tool::Options& options) {
    CLI::App* command = app.add_subcommand(name, what);
    AddKeyOptions(*command, options);
    command->add_flag("-v,--verbose", options.verbose,
                      "Print every stage of a single run, or each file of a batch, to stderr");
    command->add_flag("-n,--no-clobber", options.noClobber,
                      "Skip an output that exists already (counted as skipped, not failed)");
    command->add_flag("-f,--force", options.force,
                      "Overwrite an existing OUTPUT without asking, and replace outputs that "
                      "are write-protected or whose bytes would not come back; in place, also "
                      "run files that look already run");
    CLI::Option* folder = command
                              ->add_option("-o,--output-dir", options.outputFolder,
                                           "Write each INPUT into FOLDER under its own name; a "
                                           "file whose bytes would not come back is not replaced")
                              ->type_name("FOLDER");
    CLI::Option* inPlace =
        command
            ->add_flag("-i,--in-place", options.inPlace,
                       "Replace each INPUT with its result, keeping its owner, permissions and "
                       "attributes; only regular files, and none whose bytes would not come back")
            ->excludes(folder);
    command
        ->add_flag("--backup{~}", options.backup,
                   "With --in-place, keep each original as its name and SUFFIX (default ~)")
        ->needs(inPlace);
    command->add_flag("-r,--recursive", options.recursive,
                      "Run every file in the folders given, keeping their relative paths; "
                      "symbolic links, FIFOs, devices and backups met on the way are skipped");
    command->add_option("-j,--jobs", options.jobs, "Files run at once (default: one per core)")
        ->check(WholeNumber(1, 1024))
        ->type_name("N");
    command
        ->add_option("FILES", options.files,
                     "INPUT OUTPUT, or the inputs with --output-dir or --in-place; - is standard "
                     "input or output; an OUTPUT that holds something is overwritten only when "
                     "you say yes, or with -f")
        ->type_name("")
        ->required();
    return command;
}

// Whatever parsing alone does not decide.
std::string Misuse(const tool::Options& options, bool run, bool edit) {
    if (run && !options.ManyFiles()) {
        if (options.files.size() != 2)
            return "INPUT and OUTPUT are needed, or --output-dir or --in-place for " +
                   std::string(options.files.size() < 2 ? "one input" : "several inputs");
        if (options.recursive || options.jobs)
            return std::string(options.recursive ? "-r" : "-j") +
                   " goes with --output-dir or --in-place";
    }
    if (options.noClobber && options.inPlace)
        return "-n does not go with --in-place, which always replaces its files";
    // A suffix with a separator names no file beside the original.
    if (options.backup && options.backup->find_first_of("/\\") != std::string::npos)
        return "--backup=SUFFIX must not hold a folder separator";
    if (edit && options.files.size() != 1)
        return "edit takes one FILE";
    if (!run && !edit)
        return options.files.size() > 1 &&
                       std::count(options.files.begin(), options.files.end(), "-")
                   ? "standard input goes with no other FILE"
                   : std::string();
    if (!options.offset && options.game.empty())
        return "--game or --offset is required";
    if (options.AutoGame() && options.mode == quorvex::kEncrypt)
        return "--game auto is for decrypt and edit";
    if (edit && options.files.front() == "-")
        return "edit needs a FILE, not standard input";
    if (!options.offset && !options.AutoGame() && !tool::ParseGame(options.game))
        return "unknown game " + Quoted(options.game) + "; choose one of " + tool::GameChoices();
    return {};
}

// An option given an empty value, such as "--output-dir=" or "-o ''", would be taken as
// not given, or would take the next argument for its value: either way the run would
// not be the one asked for. The option, or nothing.
std::string EmptyValue(const std::vector<std::string>& arguments) {
    constexpr std::string_view kTakeValues[] = {"-g",           "--game", "--offset", "-o",
                                                "--output-dir", "-j",     "--jobs"};
    const auto end = std::find(arguments.begin(), arguments.end(), "--");
    for (auto at = arguments.begin(); at != end; ++at) {
        if (at->starts_with("--") && at->ends_with("=") && at->size() > 3)
            return at->substr(0, at->size() - 1);
        if (std::find(std::begin(kTakeValues), std::end(kTakeValues), *at) !=
                std::end(kTakeValues) &&
            at + 1 != end && at[1].empty())
            return *at;
    }
    return {};
}

int Main(const std::vector<std::string>& arguments) {
    if (arguments.size() > 1) {
        const std::string& first = arguments[1];
        const bool known =
            std::find(std::begin(kCommands), std::end(kCommands), first) != std::end(kCommands);
        if (!known && !first.starts_with("-"))
            return UsageError("unknown command " + Quoted(first));
        if (!known && first != "--help" && first != "-h" && first != "--version")
            return UsageError("unknown option " + Quoted(first));
    }
    if (const std::string option = EmptyValue(arguments); !option.empty())
        return UsageError(option + " needs a value" + (option == "--backup" ? ": a SUFFIX" : ""));

    CLI::App app{"Enciphers and deciphers game text files line by line.", tool::kProgram};
    app.formatter(std::make_shared<Formatter>());
    // On Windows a path may begin with a slash too; options begin with dashes only.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string(tool::kProgram) + " " QUORVEX_VERSION);
    app.require_subcommand(1);
    tool::Options options;
    CLI::App* encrypt = AddRunCommand(app, "encrypt", "Encipher files", options);
    CLI::App* decrypt = AddRunCommand(app, "decrypt", "Decipher files", options);
    CLI::App* edit = app.add_subcommand(
        "edit", "Decipher FILE, open it in " + std::string(platform::kEditorVariables) +
                    ", and encipher the changes back; if it cannot be written back, the "
                    "edited text is kept and named");
    AddKeyOptions(*edit, options);
    edit->add_option("FILE", options.files, "Enciphered file")
        ->type_name("")
        ->expected(1)
        ->required();
    CLI::App* detect = app.add_subcommand(
        "detect", "Tell which game each FILE was enciphered for, from its first 256 KiB");
    detect->add_flag("--any-offset", options.anyOffset,
                     "Rank all 95 offsets instead of the four games");
    detect->add_flag("-r,--recursive", options.recursive,
                     "Tell it for every file in the folders given, a line each");
    detect->add_option("FILE", options.files, "Enciphered files, or - for standard input")
        ->type_name("")
        ->required();

    std::vector<const char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(argument.c_str());
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::Success& success) {
        return app.exit(success);
    } catch (const CLI::ParseError& error) {
        return UsageError(Explain(error));
    }
    options.mode = decrypt->parsed() || edit->parsed() ? quorvex::kDecrypt : quorvex::kEncrypt;
    const bool run = encrypt->parsed() || decrypt->parsed();
    if (const std::string misuse = Misuse(options, run, edit->parsed()); !misuse.empty())
        return UsageError(misuse);

    if (detect->parsed())
        return DetectGames(options);
    if (edit->parsed())
        return tool::Edit(options);
    return options.ManyFiles() ? tool::RunMany(options) : RunOne(options);
}

// Every write to standard output is checked, as coreutils programs check theirs; what the
// tool prints there is held until the end, where a failed write can say why.
int FlushedOutput(int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    Say(std::string("write error") + (errno ? std::string(": ") + std::strerror(errno) : ""));
    return status == tool::kExitUsage ? status : tool::kExitFailure;
}

} // namespace

int main(int argc, char** argv) {
    const platform::Console console;
    static char held[1 << 16];
    std::setvbuf(stdout, held, _IOFBF, sizeof held);
    try {
        return FlushedOutput(Main(platform::Arguments(argc, argv)));
    } catch (const std::exception& error) {
        Say(std::string("unexpected failure: ") + error.what());
    } catch (...) {
        Say("unexpected failure");
    }
    return tool::kExitFailure;
}
