#include "wrapAssert.h"

#include <cstdlib>

#include "message.h"

void wrap_assert_failed(const char* condition, const char* file, int line)
{
    print_message(stderr, "Assertion failed: %s, file %s, line %d\n", condition, file, line);
    std::abort();
}
