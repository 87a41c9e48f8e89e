// quorvex-cli: the dialog's transcoding run from a shell, and a guess at which game a
// file belongs to.

#include "quorvex/cipher.h"
#include "quorvex/detect.h"
#include "quorvex/file.h"
#include "quorvex/transcode.h"

#include "platform.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoPlausibleKey = 3;
constexpr const char* kProgram = "quorvex-cli";
constexpr const char* kUsage =
    "Usage: quorvex-cli encrypt|decrypt (--game GAME | --offset K) [--verbose] [--quiet] "
    "INPUT OUTPUT\n"
    "       quorvex-cli detect [--any-offset] FILE\n"
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
    return arg == "-" ? quorvex::FileRef::Standard("standard input") : quorvex::FileRef::Path(arg);
}

quorvex::FileRef Output(const std::string& arg) {
    return arg == "-" ? quorvex::FileRef::Standard("standard output") : quorvex::FileRef::Path(arg);
}

std::string Describe(const quorvex::FileRef& file) {
    return file.standard ? file.name : "'" + file.name + "'";
}

int Fail(const char* verb, const quorvex::FileRef& file, const std::string& reason) {
    std::cerr << kProgram << ": " << verb << ' ' << Describe(file) << ": " << reason << '\n';
    return kExitFailure;
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
    std::optional<int> offset;
    bool verbose = false;
    bool quiet = false;
    bool anyOffset = false;
    std::string input;
    std::string output;
};

CLI::App* AddRunCommand(CLI::App& app, const char* name, const char* description, Arguments& args) {
    CLI::App* command = app.add_subcommand(name, description);
    CLI::Option* game = command->add_option("-g,--game", args.game, "Game: " + GameChoices());
    command
        ->add_option("--offset", args.offset,
                     "Offset 0 to 94 of a game that is not in the list, in place of --game")
        ->check(CLI::Range(0, quorvex::kAlphabetSize - 1))
        ->excludes(game);
    command->add_flag("-v,--verbose", args.verbose, "Print every stage of the run to stderr");
    command->add_flag("-q,--quiet", args.quiet,
                      "Do not warn about bytes that will not decipher back as they were");
    command->add_option("INPUT", args.input, "File to read, or - for standard input")->required();
    command->add_option("OUTPUT", args.output, "File to write, or - for standard output")
        ->required();
    return command;
}

quorvex::CipherKey KeyOf(const Arguments& args) {
    if (args.offset)
        return quorvex::CipherKey::FromOffset(*args.offset);
    if (args.game.empty())
        throw CLI::RequiredError("--game or --offset");
    const std::optional<quorvex::GameSelection> game = ParseGame(args.game);
    if (!game)
        throw CLI::ValidationError("--game", "unknown game '" + args.game + "'; choose one of " +
                                                 GameChoices());
    return *game;
}

void WarnAboutLossyBytes(const quorvex::TranscodeResult& result, const quorvex::FileRef& input) {
    std::cerr << kProgram << ": warning: " << result.lossyBytes << " byte"
              << (result.lossyBytes == 1 ? "" : "s") << " of " << Describe(input)
              << " will not decipher back as they were, the first on line " << result.firstLossyLine
              << " (only printable ASCII, tab and the Latin-1 letters ä ö ü á ó í come back)\n";
}

int Run(const Arguments& args, quorvex::CipherMode mode, quorvex::CipherKey key) {
    StderrSink sink(args.verbose);
    const quorvex::FileRef input = Input(args.input);
    const quorvex::FileRef output = Output(args.output);
    const quorvex::TranscodeResult result = quorvex::RunTranscode(input, output, mode, key, sink);
    if (result.Failed())
        return Fail(Verb(result.outcome), result.role == quorvex::FileRole::Input ? input : output,
                    result.reason);
    if (mode == quorvex::kEncrypt && result.lossyBytes > 0 && !args.quiet)
        WarnAboutLossyBytes(result, input);
    return 0;
}

// The front of a file that detection judges, cut after its last whole line unless the
// file ends within it.
struct Sample {
    std::string text;
    std::string failure; // why it could not be read, or empty
    const char* verb = "cannot read";
};

Sample ReadSample(const quorvex::FileRef& ref) {
    Sample sample;
    quorvex::SystemError error = 0;
    quorvex::File file = ref.standard ? quorvex::File::StandardInput()
                                      : quorvex::File::OpenForReading(ref.name, error);
    if (!file.IsOpen()) {
        sample.verb = "cannot open";
        sample.failure = quorvex::DescribeError(error);
        return sample;
    }
    // One byte more than the sample tells whether the file goes on.
    sample.text.resize(quorvex::kDetectSampleBytes + 1);
    std::size_t got = 0;
    while (got < sample.text.size()) {
        const std::ptrdiff_t n =
            file.Read(sample.text.data() + got, sample.text.size() - got, error);
        if (n < 0) {
            sample.failure = quorvex::DescribeError(error);
            return sample;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    const bool whole = got <= quorvex::kDetectSampleBytes;
    sample.text.resize(std::min(got, quorvex::kDetectSampleBytes));
    if (!whole)
        sample.text = std::string(quorvex::WholeLines(sample.text));
    return sample;
}

int DetectGame(const Arguments& args) {
    const quorvex::FileRef file = Input(args.input);
    const Sample sample = ReadSample(file);
    if (!sample.failure.empty())
        return Fail(sample.verb, file, sample.failure);

    const quorvex::Detection detection = quorvex::Detect(
        sample.text, args.anyOffset ? quorvex::OffsetCandidates() : quorvex::GameCandidates());
    for (const quorvex::RankedCandidate& candidate : detection.ranked)
        std::cout << std::left << std::setw(12) << candidate.name << std::right << std::fixed
                  << std::setprecision(1) << std::setw(5) << candidate.score << '\n';
    if (!detection.plausible) {
        std::cout << "no " << (args.anyOffset ? "offset" : "game") << " gives plausible text\n";
        return kExitNoPlausibleKey;
    }
    if (detection.uncertain)
        std::cout << "uncertain: " << detection.ranked[1].name << " comes close to "
                  << detection.ranked[0].name << '\n';
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Enciphers and deciphers game text files line by line.", kProgram};
    // On Windows a path may begin with a slash too; options begin with dashes only.
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string(kProgram) + " " QUORVEX_VERSION);
    app.require_subcommand(1);
    Arguments args;
    CLI::App* encrypt = AddRunCommand(app, "encrypt", "Encipher INPUT into OUTPUT", args);
    AddRunCommand(app, "decrypt", "Decipher INPUT into OUTPUT", args);
    CLI::App* detect = app.add_subcommand(
        "detect", "Tell which game FILE was enciphered for, from its first 256 KiB");
    detect->add_flag("--any-offset", args.anyOffset,
                     "Rank all 95 offsets instead of the four games");
    detect->add_option("FILE", args.input, "Enciphered file, or - for standard input")->required();

    std::optional<quorvex::CipherKey> key;
    const std::vector<std::string> arguments = platform::Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments)
        pointers.push_back(argument.c_str());
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
        if (!detect->parsed())
            key = KeyOf(args);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << kProgram << ": " << e.what() << '\n' << kUsage;
        return kExitUsage;
    }

    if (detect->parsed())
        return DetectGame(args);
    return Run(args, encrypt->parsed() ? quorvex::kEncrypt : quorvex::kDecrypt, *key);
}
