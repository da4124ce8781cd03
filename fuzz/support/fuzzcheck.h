// A broken promise stops a fuzz target at once, naming the check, so the
// fuzzer keeps the input.
#ifndef TOLVANE_FUZZ_FUZZCHECK_H
#define TOLVANE_FUZZ_FUZZCHECK_H

#include <cstdio>

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s: check failed: %s\n", __FILE__, #cond);                       \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (0)

#endif
