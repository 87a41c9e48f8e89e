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

// The whole lines of the front that detection judges.
std::string_view Sample(std::string_view front) {
    return front.size() > quorvex::kDetectSampleBytes
               ? quorvex::WholeLines(front.substr(0, quorvex::kDetectSampleBytes))
               : front;
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
    return quorvex::Detect(Sample(front),
                           anyOffset ? quorvex::OffsetCandidates() : quorvex::GameCandidates());
}

std::string VerdictLine(const quorvex::Detection& detection, bool anyOffset) {
    switch (detection.verdict) {
    case quorvex::Verdict::Empty:
        return "empty";
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
        out << shown << " is empty: there is nothing to tell a key by\n";
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
    const quorvex::Detection detection = DetectFront(front, false);
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
    // A file that looks already run is run again only when asked for: an in-place batch
    // that was stopped can then simply be run once more.
    std::string done;
    if (options.mode == quorvex::kEncrypt && clear && detection.ranked[0].name == GameName(*named))
        done = shown + " already looks enciphered for " + detection.ranked[0].name;
    if (options.mode == quorvex::kDecrypt && verdict == quorvex::Verdict::NotEnciphered)
        done = shown + " reads as plain text: it does not look enciphered";
    if (!done.empty() && options.inPlace && !options.force) {
        choice.key.reset();
        choice.skip = true;
        choice.messages.push_back(done + "; skipped (--force runs it all the same)");
    } else if (!done.empty() && !options.quiet) {
        choice.messages.push_back("warning: " + done);
    }
    if (options.mode == quorvex::kDecrypt && clear && !options.quiet &&
        detection.ranked[0].name != GameName(*named))
        choice.messages.push_back("warning: " + shown + " looks enciphered for " +
                                  detection.ranked[0].name + ", not " + GameName(*named));
    return choice;
}

} // namespace tool
