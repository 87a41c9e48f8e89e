// quorvex-cli: the dialog's transcoding run, from a shell.

#include "quorvex/cipher.h"
#include "quorvex/transcode.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr const char* kProgram = "quorvex-cli";
constexpr const char* kUsage =
    "Usage: quorvex-cli encrypt|decrypt --game GAME [--verbose] INPUT OUTPUT\n"
    "Try 'quorvex-cli --help' for more information.\n";

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::optional<quorvex::GameSelection> ParseGame(std::string_view text) {
    for (std::size_t i = 0; i < quorvex::GameNames.size(); ++i)
        if (EqualsIgnoringCase(text, quorvex::GameNames[i]) || text == std::to_string(i))
            return static_cast<quorvex::GameSelection>(i);
    return std::nullopt;
}

std::string GameChoices() {
    std::string choices;
    for (std::size_t i = 0; i < quorvex::GameNames.size(); ++i)
        choices +=
            (i ? ", " : "") + std::string(quorvex::GameNames[i]) + " (" + std::to_string(i) + ")";
    return choices;
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

quorvex::FileRef Input(const std::string& arg) {
    return arg == "-" ? quorvex::FileRef::Descriptor(STDIN_FILENO, "standard input")
                      : quorvex::FileRef::Path(arg);
}

quorvex::FileRef Output(const std::string& arg) {
    return arg == "-" ? quorvex::FileRef::Descriptor(STDOUT_FILENO, "standard output")
                      : quorvex::FileRef::Path(arg);
}

std::string Describe(const quorvex::FileRef& file) {
    return file.descriptor >= 0 ? file.name : "'" + file.name + "'";
}

const char* Verb(quorvex::RunOutcome outcome) {
    switch (outcome) {
    case quorvex::RunOutcome::ReadFailed:
        return "cannot read";
    case quorvex::RunOutcome::WriteFailed:
        return "cannot write";
    default:
        return "cannot open";
    }
}

struct Arguments {
    std::string game;
    bool verbose = false;
    std::string input;
    std::string output;
};

CLI::App* AddRunCommand(CLI::App& app, const char* name, const char* description, Arguments& args) {
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option("-g,--game", args.game, "Game: " + GameChoices())->required();
    command->add_flag("-v,--verbose", args.verbose, "Print every stage of the run to stderr");
    command->add_option("INPUT", args.input, "File to read, or - for standard input")->required();
    command->add_option("OUTPUT", args.output, "File to write, or - for standard output")
        ->required();
    return command;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Enciphers and deciphers game text files line by line.", kProgram};
    app.set_version_flag("--version", std::string(kProgram) + " " QUORVEX_VERSION);
    app.require_subcommand(1);
    Arguments args;
    CLI::App* encrypt = AddRunCommand(app, "encrypt", "Encipher INPUT into OUTPUT", args);
    AddRunCommand(app, "decrypt", "Decipher INPUT into OUTPUT", args);

    std::optional<quorvex::GameSelection> game;
    try {
        app.parse(argc, argv);
        game = ParseGame(args.game);
        if (!game)
            throw CLI::ValidationError("--game", "unknown game '" + args.game +
                                                     "'; choose one of " + GameChoices());
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << kProgram << ": " << e.what() << '\n' << kUsage;
        return kExitUsage;
    }

    const quorvex::CipherMode mode = encrypt->parsed() ? quorvex::kEncrypt : quorvex::kDecrypt;
    StderrSink sink(args.verbose);
    const quorvex::FileRef input = Input(args.input);
    const quorvex::FileRef output = Output(args.output);
    const quorvex::TranscodeResult result = quorvex::RunTranscode(input, output, mode, *game, sink);
    if (!result.Failed())
        return 0;
    const quorvex::FileRef& failed = result.role == quorvex::FileRole::Input ? input : output;
    std::cerr << kProgram << ": " << Verb(result.outcome) << ' ' << Describe(failed) << ": "
              << result.reason << '\n';
    return kExitFailure;
}
