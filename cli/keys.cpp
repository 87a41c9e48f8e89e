#include "quorvex/file.h"
#include "quorvex/transcode.h"
#include "tool.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <sstream>

namespace tool {

void Say(const std::string& message) {
    std::cerr << kProgram << ": " << message << '\n';
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

std::optional<quorvex::GameSelection> ParseGame(std::string_view text) {
    const auto same = [](std::string_view a, std::string_view b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) ==
                   std::tolower(static_cast<unsigned char>(y));
        });
    };
    for (std::size_t i = 0; i < quorvex::GameNames.size(); ++i)
        if (same(text, quorvex::GameNames[i]) || text == std::to_string(i))
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

Sample ReadSample(const std::string& path, bool standardInput) {
    Sample sample;
    quorvex::SystemError error = 0;
    quorvex::File file =
        standardInput ? quorvex::File::StandardInput() : quorvex::File::OpenForReading(path, error);
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
    sample.text.resize(got);
    if (got > quorvex::kDetectSampleBytes)
        sample.text = std::string(quorvex::WholeLines(sample.text.substr(0, got - 1)));
    return sample;
}

std::string Report(const quorvex::Detection& detection, const std::string& file, bool anyOffset) {
    std::ostringstream out;
    switch (detection.verdict) {
    case quorvex::Verdict::Empty:
        out << file << " is empty: there is nothing to tell a key by\n";
        return out.str();
    case quorvex::Verdict::NotEnciphered:
        out << file << " reads as text as it is: it does not look enciphered\n";
        return out.str();
    default:
        break;
    }
    for (const quorvex::RankedCandidate& candidate : detection.ranked) {
        char line[64];
        std::snprintf(line, sizeof line, "%-12s%5.1f\n", candidate.name.c_str(), candidate.score);
        out << line;
    }
    if (detection.verdict == quorvex::Verdict::Implausible)
        out << "no " << (anyOffset ? "offset" : "game") << " gives plausible text\n";
    if (detection.verdict == quorvex::Verdict::Uncertain)
        out << "uncertain: " << detection.ranked[1].name << " comes close to "
            << detection.ranked[0].name << '\n';
    return out.str();
}

KeyChoice ChooseKey(const Options& options, const std::string& path, bool standardInput) {
    KeyChoice choice;
    const std::string shown = standardInput ? "standard input" : Quoted(path);
    if (options.offset) {
        choice.key = quorvex::CipherKey::FromOffset(*options.offset);
        return choice;
    }
    const std::optional<quorvex::GameSelection> named = ParseGame(options.game);
    const bool check = options.AutoGame() ||
                       (options.mode == quorvex::kDecrypt && !options.quiet && !standardInput);
    if (named)
        choice.key = *named;
    if (!check)
        return choice;

    const Sample sample = ReadSample(path, standardInput);
    if (!sample.failure.empty()) {
        // A named game goes ahead; the run reports the file itself.
        if (options.AutoGame()) {
            choice.readFailed = true;
            choice.refusal = std::string(sample.verb) + " " + shown + ": " + sample.failure;
        }
        return choice;
    }
    const quorvex::Detection detection = quorvex::Detect(sample.text, quorvex::GameCandidates());
    const bool clear = detection.verdict == quorvex::Verdict::Clear;
    if (options.AutoGame()) {
        if (clear)
            choice.key = detection.ranked[0].key;
        else
            choice.refusal =
                "no game is clearly right for " + shown + ":\n" + Report(detection, shown, false);
    } else if (clear && detection.ranked[0].name != quorvex::GameNames[*named]) {
        choice.warning = shown + " looks enciphered for " + detection.ranked[0].name + ", not " +
                         std::string(quorvex::GameNames[*named]);
    }
    return choice;
}

std::string LossyWarning(std::uint64_t bytes, std::uint64_t firstLine, const std::string& file) {
    return "warning: " + quorvex::LossyBytesMessage(bytes, firstLine, file);
}

} // namespace tool
