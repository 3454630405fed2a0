// The OS layer's child process: a failed start keeps the OS's reason, a
// paused child waits to be let go, a Ctrl-C that reaches the launcher only
// after the wait does not end it, the launch's options reach the child
// alone, and a detached program holds nothing of the caller's.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "os/process.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

TEST(Child, FailedStartKeepsTheOsError)
{
    os::Child child;
    EXPECT_FALSE(child.start(os::Command{{unit_helpers::program_beside_tests("no-such-program"), "a"}}, os::ChildLaunch()));
    EXPECT_EQ(2, child.failure().error);  // ENOENT and ERROR_FILE_NOT_FOUND alike
    EXPECT_STREQ(testing_support::on_windows ? "CreateProcess" : "execve", child.failure().call);
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
    os::ChildLaunch detached;
    detached.detached = true;
    detached.environment = {{"BRUMLET_DETACHED_TEST", "1"}};
    os::Child child;
    const bool started = child.start(
        os::Command{{"/bin/sh", "-c", "{ for fd in $1 100 250 399; do [ -e /proc/self/fd/$fd ] && echo $fd; done; echo end; } >$0",
                     report, std::to_string(file)}},
        detached);
    for (int fd = 100; fd < 400; ++fd)
        close(fd);
    close(file);
    ASSERT_TRUE(started);
    EXPECT_EQ("end\n", testing_support::wait_for_file(report));
}

// The launch's changes to the environment reach the child alone, and it
// starts in the directory the launch names (its report lands there).
TEST(Child, EnvironmentAndDirectoryOfTheLaunchAreTheChildsAlone)
{
    testing_support::TempDir scratch;
    testing_support::ScopedEnv changed("NATIVE_WRAP_TEST_CHANGED", "old");
    testing_support::ScopedEnv removed("NATIVE_WRAP_TEST_REMOVED", "x");
    os::ChildLaunch launch;
    launch.working_dir = scratch.path();
    launch.environment = {{"TEST_CHILD_REPORT", "report"}, {"NATIVE_WRAP_TEST_NEW", "1"},
                          {"NATIVE_WRAP_TEST_CHANGED", "new"}, {"NATIVE_WRAP_TEST_REMOVED", ""}};
    os::Child child;
    int exit_code = -1;
    ASSERT_TRUE(child.start(os::Command{{unit_helpers::program_beside_tests("test_child")}}, launch));
    ASSERT_TRUE(child.wait(exit_code));
    std::vector<std::string> seen;
    for (const std::string& variable : testing_support::read_child_report(scratch / "report").environment) {
        if (variable.rfind("NATIVE_WRAP_TEST_", 0) == 0)
            seen.push_back(variable);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ((std::vector<std::string>{"NATIVE_WRAP_TEST_CHANGED=new", "NATIVE_WRAP_TEST_NEW=1"}), seen);
    EXPECT_EQ("old", unit_helpers::env_value("NATIVE_WRAP_TEST_CHANGED"));
    EXPECT_EQ("x", unit_helpers::env_value("NATIVE_WRAP_TEST_REMOVED"));
    EXPECT_EQ("(unset)", unit_helpers::env_value("NATIVE_WRAP_TEST_NEW"));
}

// A background child runs at the lowest priority, however this process
// runs (the stand-in JVM's dump report: SCHED_IDLE, IDLE_PRIORITY_CLASS).
TEST(Child, BackgroundChildRunsAtTheLowestPriority)
{
    testing_support::TempDir scratch;
    os::ChildLaunch launch;
    launch.background = true;
    launch.environment = {{"TEST_CHILD_DUMP_REPORT", scratch / "dump"}};
    os::Child child;
    int exit_code = -1;
    ASSERT_TRUE(child.start(os::Command{{unit_helpers::program_beside_tests("test_child"), "-Xshare:dump"}}, launch));
    ASSERT_TRUE(child.wait(exit_code));
    EXPECT_EQ(0u, testing_support::read_file(scratch / "dump").rfind(testing_support::on_windows ? "priority:40 " : "priority:5 ", 0));
}

// A child that inherits only the listed files holds those of this
// process's inheritable files alone (Windows: the inheritable handles,
// which the stand-in counts; POSIX: the descriptors without close-on-exec).
TEST(Child, ChildWithListedFilesHoldsThoseAlone)
{
    testing_support::TempDir scratch;
    std::vector<os::FileHandle> opened;
    std::vector<std::string> names;
    for (int i = 0; i < 2; ++i) {
        // The capture file's handle is inheritable, as a child's standard output.
        std::string name;
        os::FileHandle file = os::invalid_file;
        os::Failure failure;
        if (testing_support::on_windows && os::create_temp_file(name, file, failure))
            names.push_back(name);
        else if (!testing_support::on_windows)
            file = open(unit_helpers::program_beside_tests("test_child").c_str(), O_RDONLY);
        ASSERT_NE(os::invalid_file, file);
        opened.push_back(file);
    }
    os::ChildLaunch launch;
    launch.inherit_all = false;
    launch.inherited = {opened[1]};
    os::Command command{{"/bin/sh", "-c", "for fd in $1 $2; do [ -e /proc/self/fd/$fd ] && echo $fd; done >$0",
                         scratch / "dump", std::to_string(opened[0]), std::to_string(opened[1])}};
    if (testing_support::on_windows) {
        launch.environment = {{"TEST_CHILD_DUMP_REPORT", scratch / "dump"}};
        command.words = {unit_helpers::program_beside_tests("test_child"), "-Xshare:dump"};
    }
    os::Child child;
    int exit_code = -1;
    const bool ran = child.start(command, launch) && child.wait(exit_code);
    for (os::FileHandle file : opened)
        os::close_file(file);
    for (const std::string& name : names)
        os::delete_file(name);
    ASSERT_TRUE(ran);
    const std::string dump = testing_support::read_file(scratch / "dump");
    if (testing_support::on_windows)
        EXPECT_NE(std::string::npos, dump.find(" inherited:1\n")) << dump;
    else
        EXPECT_EQ(std::to_string(opened[1]) + "\n", dump);
}

}  // namespace
