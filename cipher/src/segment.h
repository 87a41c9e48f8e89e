#pragma once

// The line transform as the run uses it: one pass that also tells what the run must
// know about the segment.

#include "quorvex/cipher.h"

#include <cstddef>

namespace quorvex {

struct SegmentFacts {
    std::size_t lossyBytes = 0; // as CountLossyBytes counts them
    bool wroteLineFeed = false; // the output holds an LF, to be stored as CR LF
};

SegmentFacts TransformSegment(const char* line, std::size_t length, CipherMode mode, CipherKey key,
                              char* out);

// The same with the shift already worked out, as a run does once for every segment length.
SegmentFacts TransformSegmentByShift(const char* line, std::size_t length, CipherMode mode,
                                     int shift, char* out);

} // namespace quorvex
