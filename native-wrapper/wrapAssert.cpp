#include "wrapAssert.h"

#include <cstdlib>

#include "message.h"

void wrap_assert_failed(const char* condition, const char* file, int line)
{
    print_err(stderr, msg::assertion_failed, condition, file, line);
    std::abort();
}
