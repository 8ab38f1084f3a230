#include "engine/stack/err.h"

#include <cstdio>
#include <cstdlib>

void lwip_assert_fail(const char* function, const char* message) {
    std::fprintf(stderr, "%s: lwip assertion failure: %s\n", function, message);
    std::fflush(stderr);
    std::abort();
}
