#include "wrapAssert.h"

#include <cstdio>
#include <cstdlib>

void wrap_assert_failed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", condition, file, line);
    std::fflush(stderr);
    std::abort();
}
