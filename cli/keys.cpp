// Which key a file is run with, and what detection says of a file's front.

#include "quorvex/file.h"
#include "tool.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace tool {

namespace {

std::string GameName(quorvex::GameSelection game) {
    return std::string(quorvex::GameNames[static_cast<std::size_t>(game)]);
}

// Enough text to tell whether a file looks run already: every run pays for it.
constexpr std::size_t kCheckBytes = 64 * 1024;

// The whole lines of the front, up to `limit` bytes, that detection judges.
std::string_view Sample(std::string_view front, std::size_t limit) {
    return front.size() > limit ? quorvex::WholeLines(front.substr(0, limit)) : front;
}

} // namespace

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

bool ReadFront(quorvex::File& file, std::string& front, quorvex::SystemError& error) {
    front.resize(quorvex::kDetectSampleBytes + 1);
    std::size_t got = 0;
    while (got < front.size()) {
        const std::ptrdiff_t n = file.Read(front.data() + got, front.size() - got, error);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    front.resize(got);
    return true;
}

quorvex::Detection DetectFront(std::string_view front, bool anyOffset) {
    return quorvex::Detect(Sample(front, quorvex::kDetectSampleBytes),
                           anyOffset ? quorvex::OffsetCandidates() : quorvex::GameCandidates());
}

std::string VerdictLine(const quorvex::Detection& detection, bool anyOffset) {
    switch (detection.verdict) {
    case quorvex::Verdict::Empty:
        return "no text";
    case quorvex::Verdict::NotEnciphered:
        return "not enciphered";
    case quorvex::Verdict::Implausible:
        return std::string("no ") + (anyOffset ? "offset" : "game") + " gives plausible text";
    case quorvex::Verdict::Uncertain:
        return "uncertain: " + detection.ranked[0].name + " or " + detection.ranked[1].name;
    case quorvex::Verdict::Clear:
        break;
    }
    return detection.ranked[0].name;
}

std::string Report(const quorvex::Detection& detection, const std::string& shown, bool anyOffset) {
    std::ostringstream out;
    switch (detection.verdict) {
    case quorvex::Verdict::Empty:
        out << shown << " holds no text: there is nothing to tell a key by\n";
        return out.str();
    case quorvex::Verdict::NotEnciphered:
        out << shown << " reads as text as it is: it does not look enciphered\n";
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

bool SayChoice(const KeyChoice& choice) {
    for (const std::string& message : choice.messages)
        Say(message);
    return choice.key.has_value();
}

bool JudgesFront(const Options& options) {
    return !options.offset && (options.AutoGame() || options.inPlace || !options.quiet);
}

KeyChoice ChooseKey(const Options& options, std::string_view front, const std::string& name,
                    bool standard) {
    KeyChoice choice;
    const std::string shown = standard ? name : Quoted(name);
    if (options.offset) {
        choice.key = quorvex::CipherKey::FromOffset(*options.offset);
        return choice;
    }
    const std::optional<quorvex::GameSelection> named = ParseGame(options.game);
    if (named)
        choice.key = quorvex::CipherKey::ForGame(*named);
    if (!JudgesFront(options))
        return choice;
    // Choosing a key judges the whole front; a named game's file, a smaller part.
    const quorvex::Detection detection = quorvex::Detect(
        Sample(front, options.AutoGame() ? quorvex::kDetectSampleBytes : kCheckBytes),
        quorvex::GameCandidates());
    const quorvex::Verdict verdict = detection.verdict;
    const bool clear = verdict == quorvex::Verdict::Clear;
    if (options.AutoGame()) {
        if (clear) {
            choice.key = detection.ranked[0].key;
            if (!options.quiet)
                choice.messages.push_back((standard ? name : Listed(name)) + ": " +
                                          detection.ranked[0].name);
        } else if (verdict == quorvex::Verdict::Empty) {
            choice.key = quorvex::CipherKey::None(); // an empty file gives an empty one
        } else if (verdict == quorvex::Verdict::NotEnciphered && options.inPlace &&
                   !options.force) {
            choice.skip = true;
            choice.messages.push_back(shown + " reads as plain text: it does not look "
                                              "enciphered; skipped (--force runs it all the same)");
        } else {
            choice.messages.push_back("no game is clearly right for " + shown + ": " +
                                      VerdictLine(detection, false) + " (detect shows more)");
        }
        return choice;
    }
    // A file that looks already run, or meant for another game, is run again only when
    // asked for: an in-place batch that was stopped can then simply be run once more, and
    // no file is enciphered twice or deciphered with the wrong key by a slip.
    const std::string best = clear ? detection.ranked[0].name : std::string();
    std::string seen;
    if (options.mode == quorvex::kEncrypt && clear)
        seen = shown + " already looks enciphered for " + best;
    if (options.mode == quorvex::kDecrypt && verdict == quorvex::Verdict::NotEnciphered)
        seen = shown + " reads as plain text: it does not look enciphered";
    if (options.mode == quorvex::kDecrypt && clear && best != GameName(*named))
        seen = shown + " looks enciphered for " + best + ", not " + GameName(*named);
    if (!seen.empty() && options.inPlace && !options.force) {
        choice.key.reset();
        choice.skip = true;
        choice.messages.push_back(seen + "; skipped (--force runs it all the same)");
    } else if (!seen.empty() && !options.quiet) {
        choice.messages.push_back("warning: " + seen);
    }
    return choice;
}

} // namespace tool
