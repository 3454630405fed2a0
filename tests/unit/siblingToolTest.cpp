#include <gtest/gtest.h>

#include "commonWrap.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace testing_support;

// The sibling tool beside the suite's binaries, played by the test child.
// Without the tool nothing is started, so no launch error is reported either.
TEST(SiblingTool, RunsFromTheBinDirWithItsExitStatus)
{
    struct Case { bool installed; int mode; int status; std::vector<std::string> args; };
    const Case cases[] = {{true, 0, 7, {}}, {true, 1, 7, {"--jtag"}}, {false, 0, -1, {}}};
    for (const Case& c : cases) {
        TempDir bin_dir;
        if (c.installed)
            copy_file(unit_helpers::program_beside_tests("test_child"), bin_dir / (std::string("tolvex") + exe_suffix));
        ScopedEnvs env({{"DRAVON_BINDIR_OVERRIDE", bin_dir.path()}, {"TEST_CHILD_REPORT", bin_dir / "report"},
                        {"TEST_CHILD_EXIT", "7"}});
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(c.status, run_tolvex(c.mode)) << "mode " << c.mode;
        EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
        EXPECT_EQ(c.args, read_child_report(bin_dir / "report").args);
    }
}

TEST(SiblingToolDeathTest, UnknownModeIsAnInvariantBreach)
{
    // On Windows the test runs once more in a process of its own, which dies
    // without cleaning up: the tool is put in the build directory, not in a
    // temporary one that would be left behind.
    const std::string bin_dir = join(own_dir(), "sibling-tool");
    make_dir(bin_dir);
    copy_file(unit_helpers::program_beside_tests("test_child"), join(bin_dir, std::string("tolvex") + exe_suffix));
    ScopedEnv bin_override("DRAVON_BINDIR_OVERRIDE", bin_dir);
    EXPECT_DEATH(run_tolvex(2), "Assertion failed: 0, file .*commonWrap");
}

}  // namespace
