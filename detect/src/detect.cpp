#include "quorvex/detect.h"

#include "quorvex/line_stream.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace quorvex {

namespace {

// A wrong key rotates every line of printable text by the same amount, which turns
// English letters and spaces into punctuation, digits or the wrong case. A model of how
// often each byte occurs in English prose tells the two apart within a few lines.
class ProseModel {
public:
    ProseModel() {
        std::array<double, 256> weight{};
        weight.fill(1e-7); // control bytes and bytes above 127
        for (int c = kAlphabetFirst; c <= kAlphabetLast; ++c)
            weight[c] = 5e-5; // rare punctuation
        // Letter shares in English text, in percent.
        constexpr std::array<double, 26> letters{8.2,  1.5, 2.8, 4.3, 12.7, 2.2,  2.0, 6.1, 7.0,
                                                 0.15, 0.8, 4.0, 2.4, 6.7,  7.5,  1.9, 0.1, 6.0,
                                                 6.3,  9.1, 2.8, 1.0, 2.4,  0.15, 2.0, 0.07};
        // Both cases alike: game texts, like licences, may shout in capitals.
        for (int i = 0; i < 26; ++i) {
            weight['a' + i] += 0.39 * letters[i] / 100;
            weight['A' + i] += 0.39 * letters[i] / 100;
        }
        weight[' '] += 0.16;
        for (int d = '0'; d <= '9'; ++d)
            weight[d] += 0.001;
        const std::pair<char, double> punctuation[] = {
            {',', 0.011},  {'.', 0.011},  {'"', 0.002},  {'\'', 0.002}, {'-', 0.003},
            {'(', 0.001},  {')', 0.001},  {';', 0.0007}, {':', 0.0007}, {'!', 0.0003},
            {'?', 0.0004}, {'/', 0.0005}, {'\t', 0.001}};
        for (const auto& [c, share] : punctuation)
            weight[static_cast<unsigned char>(c)] += share;

        double total = 0;
        for (double w : weight)
            total += w;
        for (std::size_t c = 0; c < weight.size(); ++c) {
            const double p = weight[c] / total;
            m_logP[c] = std::log(p);
            m_entropy -= p * m_logP[c];
        }
    }

    // Mean log-probability per byte, leaving out line ends; NaN for no byte at all.
    double MeanLogP(std::string_view text) const {
        double sum = 0;
        std::size_t count = 0;
        for (char c : text) {
            if (c == '\r' || c == '\n')
                continue;
            sum += m_logP[static_cast<unsigned char>(c)];
            ++count;
        }
        return count ? sum / static_cast<double>(count) : std::nan("");
    }

    // What text drawn from the model itself scores on average.
    double Typical() const { return -m_entropy; }

private:
    std::array<double, 256> m_logP{};
    double m_entropy = 0;
};

const ProseModel& Prose() {
    static const ProseModel model;
    return model;
}

// Below this the best candidate does not give text; within this factor of the best,
// the runner-up might have been the right one.
constexpr double kPlausibleScore = 25;
constexpr double kCloseRatio = 0.5;

} // namespace

std::vector<Candidate> GameCandidates() {
    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < GameNames.size(); ++i)
        candidates.push_back({std::string(GameNames[i]), static_cast<GameSelection>(i)});
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

double NaturalTextScore(std::string_view text) {
    const double mean = Prose().MeanLogP(text);
    if (std::isnan(mean))
        return 0;
    return std::clamp(100 * std::exp(mean - Prose().Typical()), 0.0, 100.0);
}

Detection Detect(std::string_view enciphered, const std::vector<Candidate>& candidates) {
    Detection detection;
    for (const Candidate& candidate : candidates)
        detection.ranked.push_back(
            {candidate.name, NaturalTextScore(TranscodeText(enciphered, kDecrypt, candidate.key))});
    std::stable_sort(
        detection.ranked.begin(), detection.ranked.end(),
        [](const RankedCandidate& a, const RankedCandidate& b) { return a.score > b.score; });
    if (!detection.ranked.empty()) {
        const double best = detection.ranked[0].score;
        detection.plausible = best >= kPlausibleScore;
        detection.uncertain =
            detection.ranked.size() > 1 && detection.ranked[1].score >= best * kCloseRatio;
    }
    return detection;
}

} // namespace quorvex
