#include "quorvex/detect.h"

#include "quorvex/line_stream.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace quorvex {

namespace {

// A wrong key turns every printable character of a file by one and the same amount
// within the alphabet, whatever the line: it deciphers each line by its own length just
// as the right one does. So one table of how often each character occurs in text tells
// the right key from the 94 others, given a few lines.
class TextModel {
public:
    TextModel() {
        // Shares in per mille of the characters 32..126 in a mix of English prose
        // (package changelogs) and program text (C headers), half each.
        constexpr std::array<double, kAlphabetSize> shares{
            154,   0.0873, 0.631,  3.87,  0.0283, 0.024, 0.29, 0.606, 10.7,  10.7,  //  !"#$%&'()
            10.4,  1.72,   8.58,   11.4,  8.09,   5.75,  12.4, 9.45,  8.52,  3.8,   // *+,-./0123
            3.2,   4.36,   3.3,    2.02,  2.69,   4.52,  7.61, 3.17,  1.52,  1.37,  // 456789:;<=
            1.5,   0.0283, 1.09,   7.62,  2.79,   8.8,   3.96, 11.7,  3.95,  2.79,  // >?@ABCDEFG
            1.29,  7.75,   0.712,  2,     7.99,   4.33,  8.67, 8.62,  7.76,  0.355, // HIJKLMNOPQ
            8.52,  16.4,   8.82,   3.02,  1.91,   0.567, 3.21, 1.17,  0.245, 1.04,  // RSTUVWXYZ[
            0.524, 1.03,   0.0181, 37.1,  0.0877, 32.5,  10.1, 24.6,  24,    63.8,  // \]^_`abcde
            15.2,  11,     13.4,   38,    0.536,  9.5,   23.5, 14.3,  38,    32.8,  // fghijklmno
            18.2,  0.799,  32.4,   38.7,  43,     16.8,  5.69, 4.54,  5.98,  7.73,  // pqrstuvwxy
            1.09,  0.452,  0.2,    0.446, 0.189};                                   // z{|}~
        // No character is ruled out; and a game's text may shout in capitals, which
        // without some give would read better turned into small letters.
        constexpr double kFloor = 0.5;
        constexpr double kOtherCase = 0.2;
        std::array<double, kAlphabetSize> weight{};
        for (int v = 0; v < kAlphabetSize; ++v)
            weight[v] = shares[v] + kFloor;
        for (int i = 0; i < 26; ++i) {
            const double lower = weight['a' - kAlphabetFirst + i];
            const double upper = weight['A' - kAlphabetFirst + i];
            weight['a' - kAlphabetFirst + i] += kOtherCase * upper;
            weight['A' - kAlphabetFirst + i] += kOtherCase * lower;
        }
        double total = 0;
        for (double w : weight)
            total += w;
        for (int v = 0; v < kAlphabetSize; ++v) {
            const double p = weight[v] / total;
            const double logP = std::log(p);
            for (int turn = 0; turn < kTurns; ++turn)
                m_logP[turn * kAlphabetSize + v] = logP;
            m_typical += p * logP;
        }
    }

    // The log-probabilities twice over, so that a character turned back by a shift of 0 to
    // 94 is looked up without a division: index v - shift + kAlphabetSize.
    const double* Turned(int shift) const { return m_logP.data() + kAlphabetSize - shift; }
    // What text drawn from the model itself scores per character, on average.
    double Typical() const { return m_typical; }

private:
    static constexpr int kTurns = 2;
    std::array<double, kTurns * kAlphabetSize> m_logP{};
    double m_typical = 0;
};

const TextModel& Model() {
    static const TextModel model;
    return model;
}

// The printable characters of a sample, counted by the reduced length of the segment
// they stand in: all any key's deciphering depends on.
class Counts {
public:
    explicit Counts(std::string_view text) {
        ForEachLine(text, [this](std::string_view line) {
            ForEachSegment(line, [this](std::string_view segment) {
                Add(segment);
                return true;
            });
        });
    }

    std::size_t Total() const { return m_total; }
    // Bytes in lines, line ends not counted: none means every key gives the same text.
    std::size_t LineBytes() const { return m_lineBytes; }

    // Of the sample deciphered under `key`; a key without offset leaves it as it is.
    double LogLikelihood(CipherKey key) const {
        const TextModel& model = Model();
        double sum = 0;
        for (int reduced = 0; reduced < kAlphabetSize; ++reduced)
            sum += Dot(m_counts[reduced], model.Turned(key.Offset() ? LineShift(reduced, key) : 0));
        return sum;
    }

private:
    using Row = std::array<double, kAlphabetSize>;

    // Every character, also those that do not occur (they add nothing), in four sums
    // that do not wait for each other: this runs 95 times for each of about 100 keys.
    static double Dot(const Row& counts, const double* logP) {
        std::array<double, 4> parts{};
        int v = 0;
        for (; v + 4 <= kAlphabetSize; v += 4)
            for (int k = 0; k < 4; ++k)
                parts[k] += counts[v + k] * logP[v + k];
        for (; v < kAlphabetSize; ++v)
            parts[0] += counts[v] * logP[v];
        return (parts[0] + parts[1]) + (parts[2] + parts[3]);
    }

    void Add(std::string_view segment) {
        m_lineBytes += segment.size();
        // A reduced length of 95 turns characters as far as one of 0.
        auto& row = m_counts[ReduceLineLength(segment.size()) % kAlphabetSize];
        for (const char c : segment) {
            const int value = static_cast<unsigned char>(c) - kAlphabetFirst;
            if (value >= 0 && value < kAlphabetSize) {
                ++row[value];
                ++m_total;
            }
        }
    }

    // Whole numbers, kept as the floating point they are multiplied with.
    std::array<Row, kAlphabetSize> m_counts{};
    std::size_t m_total = 0;
    std::size_t m_lineBytes = 0;
};

// Per character, how far below text drawn from the model the best one may read; and
// how much better than it any other key may explain the sample.
constexpr double kLeastTextLike = -1.2;
constexpr double kMostOutdone = 0.35;
// Evidence, in nats, below which the runner-up counts as close.
constexpr double kClearLead = 10;

double Score(double perCharacter) {
    return std::clamp(100 * std::exp(perCharacter - Model().Typical()), 0.0, 100.0);
}

} // namespace

std::vector<Candidate> GameCandidates() {
    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < GameNames.size(); ++i)
        candidates.push_back(
            {std::string(GameNames[i]), CipherKey::ForGame(static_cast<GameSelection>(i))});
    return candidates;
}

std::vector<Candidate> OffsetCandidates() {
    std::vector<Candidate> candidates;
    for (int offset = 0; offset < kAlphabetSize; ++offset)
        candidates.push_back({"offset " + std::to_string(offset), CipherKey::FromOffset(offset)});
    return candidates;
}

std::string_view WholeLines(std::string_view data) {
    const std::size_t lf = data.rfind('\n');
    if (lf != std::string_view::npos)
        return data.substr(0, lf + 1);
    // One long line: its full segments are deciphered right whatever its real length.
    const std::size_t whole = data.size() - data.size() % kMaxSegmentLength;
    return whole > 0 ? data.substr(0, whole) : data;
}

Detection Detect(std::string_view enciphered, const std::vector<Candidate>& candidates) {
    Detection detection;
    const Counts counts(enciphered);
    if (counts.LineBytes() == 0) // nothing, or line ends alone
        return detection;
    const auto n = static_cast<double>(counts.Total());
    for (const Candidate& candidate : candidates) {
        const double ll = counts.LogLikelihood(candidate.key);
        detection.ranked.push_back({candidate.name, candidate.key, ll, n > 0 ? Score(ll / n) : 0});
    }
    std::stable_sort(
        detection.ranked.begin(), detection.ranked.end(),
        [](const auto& a, const auto& b) { return a.logLikelihood > b.logLikelihood; });
    if (detection.ranked.empty() || counts.Total() == 0) {
        detection.verdict = Verdict::Implausible;
        return detection;
    }

    const RankedCandidate& best = detection.ranked[0];
    const double asItIs = counts.LogLikelihood(CipherKey::None()) / n;
    if (asItIs >= best.logLikelihood / n && asItIs - Model().Typical() >= kLeastTextLike) {
        detection.verdict = Verdict::NotEnciphered;
        return detection;
    }
    double bestOther = -HUGE_VAL;
    for (int offset = 0; offset < kAlphabetSize; ++offset)
        if (offset != best.key.Offset())
            bestOther = std::max(bestOther, counts.LogLikelihood(CipherKey::FromOffset(offset)));
    const bool textLike = best.logLikelihood / n - Model().Typical() >= kLeastTextLike;
    const bool outdone = (bestOther - best.logLikelihood) / n > kMostOutdone;
    if (!textLike || outdone)
        detection.verdict = Verdict::Implausible;
    else if (detection.ranked.size() > 1 &&
             best.logLikelihood - detection.ranked[1].logLikelihood < kClearLead)
        detection.verdict = Verdict::Uncertain;
    else
        detection.verdict = Verdict::Clear;
    return detection;
}

} // namespace quorvex
