#include <gtest/gtest.h>

#include "commonWrap.h"
#include "testSupport.h"

namespace {

using namespace testing_support;

// The sibling tool beside the suite's binaries, played by the test child.
TEST(SiblingTool, RunsFromTheBinDirWithItsExitStatus)
{
    TempDir bin_dir;
    copy_file(join(own_dir(), std::string("test_child") + exe_suffix),
              join(bin_dir.path(), std::string("tolvex") + exe_suffix));
    const std::string report = bin_dir / "report";
    ScopedEnv bin_override("DRAVON_BINDIR_OVERRIDE", bin_dir.path());
    ScopedEnv report_path("TEST_CHILD_REPORT", report);
    ScopedEnv exit_code("TEST_CHILD_EXIT", "7");

    EXPECT_EQ(7, run_tolvex(0));
    EXPECT_EQ(std::vector<std::string>{}, read_child_report(report).args);

    EXPECT_EQ(7, run_tolvex(1));
    EXPECT_EQ(std::vector<std::string>{"--jtag"}, read_child_report(report).args);
}

// Without the tool nothing is started, so no launch error is reported either.
TEST(SiblingTool, MissingToolGivesMinusOneAndStartsNothing)
{
    TempDir bin_dir;
    ScopedEnv bin_override("DRAVON_BINDIR_OVERRIDE", bin_dir.path());
    ::testing::internal::CaptureStderr();
    const int status = run_tolvex(0);
    EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
    EXPECT_EQ(-1, status);
}

TEST(SiblingToolDeathTest, UnknownModeIsAnInvariantBreach)
{
    TempDir bin_dir;
    copy_file(join(own_dir(), std::string("test_child") + exe_suffix),
              join(bin_dir.path(), std::string("tolvex") + exe_suffix));
    ScopedEnv bin_override("DRAVON_BINDIR_OVERRIDE", bin_dir.path());
    EXPECT_DEATH(run_tolvex(2), "Assertion failed: mode == 0");
}

}  // namespace
