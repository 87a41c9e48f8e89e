#pragma once

// The path most lines take: a line of printable ASCII and tabs (with LF or CR LF after it)
// that fits in one segment is rotated whole, many bytes at a time, and written with its
// CR LF in the same step. Every other line goes back to the writer's checked path.

#include "quorvex/cipher.h"
#include "quorvex/line_stream.h"

#include <cstddef>
#include <cstdint>

namespace quorvex {

// Lines of this length and longer take the checked path: they are cut into segments.
inline constexpr std::size_t kMaxCleanLine = kMaxSegmentLength + 1;
// Input bytes classified before their lines are written.
inline constexpr std::size_t kCleanStretch = 4096;
// Bytes before the input that the clean path may read (it looks at the byte before an
// LF), and bytes past its end that it may read without using them.
inline constexpr std::size_t kCleanUnderread = 1;
inline constexpr std::size_t kCleanOverread = kMaxCleanLine + 64;
// How far past `limit` the clean path may write: it drains only between stretches. A
// stretch of empty LF lines comes out twice as long, the line it starts with may have
// begun in the stretch before, and the last line's vectors reach past its end.
inline constexpr std::size_t kCleanOverwrite = 2 * kCleanStretch + 2 * kMaxCleanLine;

// Where the output stands. The writer owns it and hands it to the clean path, which
// moves it as it writes and hands it back to each of the writer's calls below, which
// move it too.
struct OutputCursor {
    char* out = nullptr;   // where the next byte goes
    char* limit = nullptr; // once `out` reaches it, Drain; kCleanOverwrite bytes follow it
    std::uint64_t lines = 0;
};

class LineOutput {
public:
    // Hands on what the buffer holds in whole blocks; false when a write failed.
    virtual bool Drain(OutputCursor& at) = 0;
    // Writes one line that the clean path does not take, and its line end, the careful way.
    virtual bool WriteChecked(const char* line, std::size_t length, OutputCursor& at) = 0;

protected:
    ~LineOutput() = default;
};

// Every line of [begin, end), which ends with an LF; the kCleanUnderread bytes before
// `begin` must be readable and hold no CR. `shifts` gives the shift for each length below
// kMaxCleanLine. False when a write failed.
using CleanLinesFn = bool (*)(const char* begin, const char* end, CipherMode mode,
                              const unsigned char* shifts, LineOutput& output, OutputCursor& at);

namespace baseline {
bool CleanLines(const char* begin, const char* end, CipherMode mode, const unsigned char* shifts,
                LineOutput& output, OutputCursor& at);
}
namespace avx2 {
bool CleanLines(const char* begin, const char* end, CipherMode mode, const unsigned char* shifts,
                LineOutput& output, OutputCursor& at);
}

// AVX2 where the processor has it, else the baseline of the build.
CleanLinesFn BestCleanLines();

} // namespace quorvex
