#pragma once

// The path most lines take: a line of printable ASCII (with LF or CR LF after it) shorter
// than kMaxCleanLine is rotated whole, many bytes at a time, with no per-byte checks.
// Every other line goes back to the writer's checked path.

#include "quorvex/cipher.h"

#include <cstddef>
#include <cstdint>

namespace quorvex {

// Lines of this length and longer take the checked path.
inline constexpr std::size_t kMaxCleanLine = 256;
// Bytes past the end of the input that the clean path may read, and past the output
// position that it may write, without using them.
inline constexpr std::size_t kCleanOverread = kMaxCleanLine + 64;

class LineOutput {
public:
    char* out = nullptr;   // where the next byte goes
    char* limit = nullptr; // once `out` reaches it, Drain
    std::uint64_t lines = 0;

    // Writes what the buffer holds in whole blocks; false when a write failed.
    virtual bool Drain() = 0;
    // One line that the clean path does not take, and its line end.
    virtual bool Checked(const char* line, std::size_t length) = 0;

protected:
    ~LineOutput() = default;
};

// Every line of [begin, end), which ends with an LF. `shifts` gives the shift for each
// length below kMaxCleanLine. False when a write failed.
using CleanLinesFn = bool (*)(const char* begin, const char* end, CipherMode mode,
                              const unsigned char* shifts, LineOutput& output);

namespace baseline {
bool CleanLines(const char* begin, const char* end, CipherMode mode, const unsigned char* shifts,
                LineOutput& output);
}
namespace avx2 {
bool CleanLines(const char* begin, const char* end, CipherMode mode, const unsigned char* shifts,
                LineOutput& output);
}

// AVX2 where the processor has it, else the baseline of the build.
CleanLinesFn BestCleanLines();

} // namespace quorvex
