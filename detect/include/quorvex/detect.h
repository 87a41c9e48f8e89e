#pragma once

// Which key was a file enciphered with? Each candidate deciphers a sample of the file,
// and the candidates are ranked by how much the result looks like natural text.

#include "quorvex/cipher.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

// How much of a file detection reads: enough for thousands of lines, instant on any file.
inline constexpr std::size_t kDetectSampleBytes = 256 * 1024;

struct Candidate {
    std::string name;
    CipherKey key;
};

struct RankedCandidate {
    std::string name;
    double score; // 0 to 100: how much the deciphered sample looks like natural text
};

struct Detection {
    std::vector<RankedCandidate> ranked; // best first
    bool plausible = false;              // the best one gives natural-looking text
    bool uncertain = false;              // the runner-up comes close to the best
};

// The four games, or every offset 0 to 94.
std::vector<Candidate> GameCandidates();
std::vector<Candidate> OffsetCandidates();

// The front of `data` that ends with a whole line, so that no line is judged by a
// length it does not have.
std::string_view WholeLines(std::string_view data);

// 0 to 100; natural English-like text scores near 100, rotated text far lower.
double NaturalTextScore(std::string_view text);

Detection Detect(std::string_view enciphered, const std::vector<Candidate>& candidates);

} // namespace quorvex
