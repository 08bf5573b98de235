// Property checks for the fuzz targets: a violated property prints what failed and aborts, which
// libFuzzer reports as a crash and saves the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace mbus::fuzz {

inline void Check(bool holds, const char* property) {
    if (holds)
        return;
    std::fprintf(stderr, "property violated: %s\n", property);
    std::abort();
}

} // namespace mbus::fuzz
