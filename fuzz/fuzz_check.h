// What the fuzz targets share: a check that stops the run with the failing input saved.
#pragma once

#include <cstdio>
#include <cstdlib>

// libFuzzer saves the input of any abort as a crash artifact; an exception that escapes a
// target ends the run the same way.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
