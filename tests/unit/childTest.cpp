// The OS layer's child process: a failed start keeps the OS's reason, and
// a Ctrl-C that reaches the launcher only after the wait does not end it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "osLayer.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

TEST(Child, FailedStartKeepsTheOsError)
{
    os::Child child;
    EXPECT_FALSE(child.start(os::Command{{unit_helpers::program_beside_tests("no-such-program"), "a"}}, os::ChildLaunch()));
    EXPECT_EQ(2, child.error());  // ENOENT and ERROR_FILE_NOT_FOUND alike
    EXPECT_FALSE(child.too_long());
    int exit_code = 0;
    EXPECT_FALSE(child.wait(exit_code));  // nothing to wait for
}

// The OS's text for a failed start stands on a line of its own after the
// launcher's message: one line, no insert such as "%1" left in it.
TEST(ErrorText, OneLineWithoutInserts)
{
    for (int error : {2, 5, 193}) {  // not found, access denied, not an executable (Windows)
        const std::string text = os::error_text(error);
        EXPECT_FALSE(text.empty()) << error;
        EXPECT_EQ(std::string::npos, text.find_first_of("\r\n%")) << error << ": " << text;
    }
    // A subject takes the place the text has for its file.
    if (testing_support::on_windows) {
        EXPECT_NE(std::string::npos, os::error_text(193, "C:\\j\\java.exe").find("C:\\j\\java.exe"));
    }
}

// The console runs each process's Ctrl-C handlers on a thread of its own, so
// the launcher's may run after the child has already ended on that Ctrl-C.
// Without a handler by then, the process ends with STATUS_CONTROL_C_EXIT; a
// launcher would report that in place of the tool's status. The scenario
// runs in a process of its own, which must reach its own exit.
TEST(Child, CtrlCAfterTheWaitLeavesTheLauncherRunning)
{
    if (!testing_support::on_windows)
        GTEST_SKIP() << "POSIX signals reach launcher and child at once";
    const auto run_and_interrupt_late = [] {
        testing_support::ScopedEnv exit_code_of_child("TEST_CHILD_EXIT", "7");
        os::Child child;
        int exit_code = 0;
        if (!child.start(os::Command{{unit_helpers::program_beside_tests("test_child")}}, os::ChildLaunch()) || !child.wait(exit_code))
            std::exit(2);
        testing_support::interrupt_this_process();
        std::exit(exit_code);
    };
    EXPECT_EXIT(run_and_interrupt_late(), testing::ExitedWithCode(7), "");
}

}  // namespace
