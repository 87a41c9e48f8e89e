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
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

using tool::Quoted;
using tool::Say;

constexpr const char* kCommands[] = {"encrypt", "decrypt", "edit", "detect"};
constexpr const char* kUsage =
    "Usage: quorvex-cli encrypt|decrypt (--game GAME | --offset K) [OPTIONS] INPUT OUTPUT\n"
    "       quorvex-cli encrypt|decrypt (--game GAME | --offset K) [OPTIONS]\n"
    "                   (--output-dir FOLDER | --in-place) INPUT...\n"
    "       quorvex-cli edit (--game GAME | --offset K) FILE\n"
    "       quorvex-cli detect [--any-offset] FILE\n"
    "Try 'quorvex-cli --help' for more information.\n";

int UsageError(const std::string& message) {
    Say(message);
    std::cerr << kUsage;
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

quorvex::FileRef FileOf(const std::string& argument, const char* standardName) {
    return argument == "-" ? quorvex::FileRef::Standard(standardName)
                           : quorvex::FileRef::Path(argument);
}

std::string Shown(const quorvex::FileRef& file) {
    return file.standard ? file.name : Quoted(file.name);
}

// INPUT OUTPUT: the dialog's run, with each stage on stderr when asked for.
int RunOne(const tool::Options& options) {
    const quorvex::FileRef input = FileOf(options.files[0], "standard input");
    const quorvex::FileRef output = FileOf(options.files[1], "standard output");
    const tool::KeyChoice choice = tool::ChooseKey(options, input.name, input.standard);
    if (!choice.warning.empty())
        Say("warning: " + choice.warning);
    if (!choice.key) {
        Say(choice.refusal);
        return choice.readFailed ? tool::kExitFailure : tool::kExitNoKey;
    }
    std::error_code error;
    if (options.noClobber && !output.standard &&
        std::filesystem::exists(tool::PathOf(output.name), error)) {
        Say("will not overwrite " + Shown(output) + ": the file exists (--no-clobber)");
        return tool::kExitFailure;
    }
    StderrSink sink(options.verbose);
    const quorvex::TranscodeResult result =
        quorvex::RunTranscode(input, output, options.mode, *choice.key, sink);
    if (result.Failed()) {
        const char* verb = result.outcome == quorvex::RunOutcome::ReadFailed    ? "cannot read"
                           : result.outcome == quorvex::RunOutcome::WriteFailed ? "cannot write"
                                                                                : "cannot open";
        Say(std::string(verb) + " " +
            Shown(result.role == quorvex::FileRole::Input ? input : output) + ": " + result.reason);
        return tool::kExitFailure;
    }
    if (options.mode == quorvex::kEncrypt && result.lossyBytes > 0 && !options.quiet)
        Say(tool::LossyWarning(result.lossyBytes, result.firstLossyLine, Shown(input)));
    return 0;
}

int DetectGame(const tool::Options& options) {
    const std::string& file = options.files.front();
    const bool standard = file == "-";
    const std::string shown = standard ? "standard input" : Quoted(file);
    const tool::Sample sample = tool::ReadSample(file, standard);
    if (!sample.failure.empty()) {
        Say(std::string(sample.verb) + " " + shown + ": " + sample.failure);
        return tool::kExitFailure;
    }
    const quorvex::Detection detection = quorvex::Detect(
        sample.text, options.anyOffset ? quorvex::OffsetCandidates() : quorvex::GameCandidates());
    std::cout << tool::Report(detection, shown, options.anyOffset);
    const bool named = detection.verdict == quorvex::Verdict::Clear ||
                       detection.verdict == quorvex::Verdict::Uncertain;
    return named ? 0 : tool::kExitNoKey;
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
    if (what.size() > 1 && std::isupper(static_cast<unsigned char>(what[0])) &&
        std::islower(static_cast<unsigned char>(what[1])))
        what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
    return what;
}

void AddKeyOptions(CLI::App& command, tool::Options& options) {
    CLI::Option* game = command.add_option(
        "-g,--game", options.game,
        "Game: " + tool::GameChoices() + "; auto (decrypt and edit) takes the one detect names");
    command
        .add_option("--offset", options.offset,
                    "Offset 0 to 94 of a game that is not in the list, in place of --game")
        ->check(CLI::Range(0, quorvex::kAlphabetSize - 1))
        ->excludes(game);
    command.add_flag("-q,--quiet", options.quiet,
                     "No warnings: bytes that will not come back, a game that looks wrong");
}

CLI::App* AddRunCommand(CLI::App& app, const char* name, const char* what, tool::Options& options) {
    CLI::App* command = app.add_subcommand(name, what);
    AddKeyOptions(*command, options);
    command->add_flag("-v,--verbose", options.verbose, "Print every stage of the run to stderr");
    command->add_flag("-n,--no-clobber", options.noClobber, "Never overwrite an existing output");
    CLI::Option* folder = command->add_option("-o,--output-dir", options.outputFolder,
                                              "Write each INPUT into FOLDER under its own name");
    CLI::Option* inPlace =
        command->add_flag("-i,--in-place", options.inPlace, "Replace each INPUT with its result")
            ->excludes(folder);
    command
        ->add_option("--backup", options.backup,
                     "With --in-place, keep each original as its name and SUFFIX (default ~)")
        ->needs(inPlace);
    command->add_flag("-r,--recursive", options.recursive,
                      "Run every file in the folders given, keeping their relative paths");
    command->add_option("-j,--jobs", options.jobs, "Files run at once (default: one per core)")
        ->check(CLI::Range(1u, 1024u));
    command
        ->add_option("FILES", options.files,
                     "INPUT OUTPUT, or the inputs with --output-dir or --in-place; - is standard "
                     "input or output")
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
    if (edit && options.files.size() != 1)
        return "edit takes one FILE";
    if (!run && !edit)
        return {};
    if (!options.offset && options.game.empty())
        return "--game or --offset is required";
    if (options.AutoGame() && options.mode == quorvex::kEncrypt)
        return "--game auto is for decrypt and edit";
    // Detection reads the front of the input before the run reads it all.
    if ((options.AutoGame() || edit) && options.files.front() == "-")
        return "standard input cannot be read twice: name a file";
    if (!options.offset && !options.AutoGame() && !tool::ParseGame(options.game))
        return "unknown game " + Quoted(options.game) + "; choose one of " + tool::GameChoices();
    return {};
}

} // namespace

int main(int argc, char** argv) {
    const platform::Console console;
    std::vector<std::string> arguments = platform::Arguments(argc, argv);
    // --backup takes its suffix only after '=': the next argument is always a file.
    for (std::string& argument : arguments)
        if (argument == "--backup")
            argument = "--backup=~";
    if (arguments.size() > 1) {
        const std::string& first = arguments[1];
        const bool known =
            std::find(std::begin(kCommands), std::end(kCommands), first) != std::end(kCommands);
        if (!known && !first.starts_with("-"))
            return UsageError("unknown command " + Quoted(first));
        if (!known && first != "--help" && first != "-h" && first != "--version")
            return UsageError("unknown option " + Quoted(first));
    }

    CLI::App app{"Enciphers and deciphers game text files line by line.", tool::kProgram};
    // On Windows a path may begin with a slash too; options begin with dashes only.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string(tool::kProgram) + " " QUORVEX_VERSION);
    app.require_subcommand(1);
    tool::Options options;
    CLI::App* encrypt = AddRunCommand(app, "encrypt", "Encipher files", options);
    CLI::App* decrypt = AddRunCommand(app, "decrypt", "Decipher files", options);
    CLI::App* edit = app.add_subcommand("edit", "Decipher FILE, open it in " +
                                                    std::string(platform::kEditorVariables) +
                                                    ", and encipher the changes back");
    AddKeyOptions(*edit, options);
    edit->add_option("FILE", options.files, "Enciphered file")->required();
    CLI::App* detect = app.add_subcommand(
        "detect", "Tell which game FILE was enciphered for, from its first 256 KiB");
    detect->add_flag("--any-offset", options.anyOffset,
                     "Rank all 95 offsets instead of the four games");
    detect->add_option("FILE", options.files, "Enciphered file, or - for standard input")
        ->required()
        ->expected(1);

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
        return DetectGame(options);
    if (edit->parsed())
        return tool::Edit(options);
    return options.ManyFiles() ? tool::RunMany(options) : RunOne(options);
}
