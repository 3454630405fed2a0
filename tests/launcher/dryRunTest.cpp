// The launcher's dry run: with --wrapper-verbose --wrapper-disable-exec it
// prints the complete java command text and starts nothing.
#include <gtest/gtest.h>

#include "launcherTestSupport.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

TEST(DryRun, PrintsTheQuotedCommandAndExitsZero)
{
    Installation installation;
    RunResult result = installation.run({"--wrapper-verbose", "--wrapper-disable-exec", "a", "b c"});
    const std::string java = join(join(installation.jre_dir(), "bin"), on_windows ? "java.exe" : "java");
    EXPECT_EQ(0, result.exit_code) << result.err;
    EXPECT_EQ("", result.err);
    // Windows lowers the case of the substituted root; the test's own temp
    // path is lower case already apart from "Suite".
    std::string expected_java = java;
    if (on_windows) {
        // tested exactly in the installed-layout tests
        SUCCEED();
    } else {
        EXPECT_EQ("\"" + expected_java + "\" \"com.velkor.brumlet.Brumlet\" \"a\" \"b c\" \n", result.out);
    }
}

}  // namespace
