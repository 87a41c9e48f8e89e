#define QUORVEX_CLEAN_LINES baseline
#include "clean_lines_impl.h"

namespace quorvex {

CleanLinesFn BestCleanLines() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                             __builtin_cpu_supports("popcnt");
    if (wide)
        return avx2::CleanLines;
#endif
    return baseline::CleanLines;
}

} // namespace quorvex
