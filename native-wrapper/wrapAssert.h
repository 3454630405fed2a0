// Assertions that guard internal invariants. They stay active in every
// build: a broken invariant ends the process with a report that names the
// condition and the source file, whatever NDEBUG says.
#pragma once

[[noreturn]] void wrap_assert_failed(const char* condition, const char* file, int line);

#define WRAP_ASSERT(condition) \
    ((condition) ? (void)0 : wrap_assert_failed(#condition, __FILE__, __LINE__))
