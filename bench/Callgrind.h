#pragma once

// Callgrind's client requests only when valgrind's headers are installed;
// the benchmarks build and run without them.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif
