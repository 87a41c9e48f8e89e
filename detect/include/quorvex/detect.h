#pragma once

// Which key was a file enciphered with? Each candidate deciphers a sample of the file,
// and the candidates are ranked by how much the result looks like text.

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
    CipherKey key;
    double logLikelihood; // of the deciphered sample under the text model: what ranks
    double score;         // 0 to 100, as shown: how much the result looks like text
};

enum class Verdict {
    Clear,         // the best candidate gives text, and no other comes close
    Uncertain,     // it gives text, but the runner-up comes close
    Implausible,   // no candidate gives text, or a key that is not one of them does better
    Empty,         // nothing to judge: no bytes but line ends, the same under every key
    NotEnciphered, // the sample reads as text as it is
};

struct Detection {
    std::vector<RankedCandidate> ranked; // best first
    Verdict verdict = Verdict::Empty;
};

// The four games, or every offset 0 to 94.
std::vector<Candidate> GameCandidates();
std::vector<Candidate> OffsetCandidates();

// The front of `data` that ends with a whole line, so that no line is judged by a
// length it does not have.
std::string_view WholeLines(std::string_view data);

Detection Detect(std::string_view enciphered, const std::vector<Candidate>& candidates);

} // namespace quorvex
