// The OS layer's child process: a failed start keeps the OS's reason.
#include <gtest/gtest.h>

#include "osLayer.h"
#include "unitHelpers.h"

namespace {

TEST(Child, FailedStartKeepsTheOsError)
{
    os::Child child;
    std::string text = "\"" + unit_helpers::program_beside_tests("no-such-program") + "\" \"a\"";
    EXPECT_FALSE(child.start(text, os::ChildLaunch()));
    EXPECT_EQ(2, child.error());  // ENOENT and ERROR_FILE_NOT_FOUND alike
    EXPECT_FALSE(child.too_long());
    int exit_code = 0;
    EXPECT_FALSE(child.wait(exit_code));  // nothing to wait for
}

}  // namespace
