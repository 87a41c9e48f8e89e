// Built with -mavx2 and only ever called after the processor was seen to have it.
#define QUORVEX_CLEAN_LINES avx2
#include "clean_lines_impl.h"
