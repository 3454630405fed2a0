// The OS layer's child process: a failed start keeps the OS's reason, a
// paused child waits to be let go, a Ctrl-C that reaches the launcher only
// after the wait does not end it, and a Windows child gets only text that
// its code page holds.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "commandText.h"
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

// A paused child does not run on (it cannot end) until it is let go: once,
// however often it was paused, also while its threads come and go.
TEST(Child, PausedChildRunsOnOnlyWhenLetGo)
{
    testing_support::ScopedEnv sleep("TEST_CHILD_SLEEP_MS", "200");
    testing_support::ScopedEnv exit_code_of_child("TEST_CHILD_EXIT", "7");
    testing_support::ScopedEnv threads("TEST_CHILD_THREADS", "1");
    os::Child child;
    ASSERT_TRUE(child.start(os::Command{{unit_helpers::program_beside_tests("test_child")}}, os::ChildLaunch()));
    ASSERT_TRUE(child.pause(true));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(child.pause(true));
    int exit_code = 0;
    EXPECT_EQ(os::Child::State::running, child.wait_for(1500, exit_code));
    ASSERT_TRUE(child.pause(false));
    EXPECT_EQ(os::Child::State::ended, child.wait_for(10000, exit_code));
    EXPECT_EQ(7, exit_code);
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

// java.exe reads its command line in the system's ANSI code page (1252 in
// the unit tests' runs under Wine): a character the page lacks is '?' there,
// never a look-alike quote or backslash, and the quoting counts what java
// reads. On POSIX the words are shown as they are.
TEST(CommandText, IsWhatTheChildReads)
{
    const std::string quote = "\xef\xbc\x82", backslash = "\xef\xbc\xbc";
    const os::Command command{{"C:\\j\\java.exe", "-Dx=" + quote, "a" + quote + " b", "c" + backslash, "\xc5\x82\xc3\xa9"}, 1};
    EXPECT_EQ(testing_support::on_windows ? "\"C:\\j\\java.exe\" -Dx=? \"a? b\" \"c?\" \"?\xc3\xa9\" "
                                          : render_command_text(command),
              os::command_text(command));
    EXPECT_EQ(testing_support::on_windows ? "?\xe9" : "\xc5\x82\xc3\xa9", os::to_child_encoding("\xc5\x82\xc3\xa9"));
}

// A detached program holds none of the caller's files: a lock or pipe of
// the caller's would otherwise live on in it. On POSIX every descriptor past
// the standard three is closed, however many (more than one listing of
// /proc/self/fd takes) and however high.
TEST(Child, DetachedProgramHoldsNoFileOfTheCaller)
{
    if (testing_support::on_windows)
        GTEST_SKIP() << "nothing is inherited there (CreateProcess without inheritance)";
    testing_support::TempDir scratch;
    const int file = open(unit_helpers::program_beside_tests("test_child").c_str(), O_RDONLY);
    ASSERT_GE(file, 0);
    for (int fd = 100; fd < 400; ++fd)
        ASSERT_EQ(fd, dup2(file, fd));
    const std::string report = scratch / "open";
    const bool started = os::start_detached(
        os::Command{{"/bin/sh", "-c", "{ for fd in $1 100 250 399; do [ -e /proc/self/fd/$fd ] && echo $fd; done; echo end; } >$0",
                     report, std::to_string(file)}},
        "BRUMLET_DETACHED_TEST", "1");
    for (int fd = 100; fd < 400; ++fd)
        close(fd);
    close(file);
    ASSERT_TRUE(started);
    EXPECT_EQ("end\n", testing_support::wait_for_file(report));
}

}  // namespace
