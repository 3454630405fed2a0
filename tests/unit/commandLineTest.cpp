#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "commandLine.h"
#include "javaCommandLine.h"
#include "launch/commandText.h"
#include "os/error.h"
#include "os/files.h"
#include "os/platform.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace unit_helpers;

using testing_support::ScopedEnv;

struct Outcome {
    int code = 0;
    std::string text;  // the command text as built before the run
    std::string out;
    std::string err;
};

Outcome run_with_streams(CommandLine& cmd)
{
    ScratchStream out, err;
    EXPECT_TRUE(out.get() != nullptr && err.get() != nullptr);
    cmd.set_streams(out.get(), err.get());
    Outcome outcome;
    outcome.text = cmd.build_command_text();
    outcome.code = cmd.run();
    cmd.set_streams(stdout, stderr);
    outcome.out = out.text();
    outcome.err = err.text();
    return outcome;
}

void feed(CommandLine& cmd, const std::vector<std::string>& args)
{
    for (const std::string& arg : args)
        cmd.process_arg(arg.c_str());
}

// The message for a program that does not exist, with the OS's reason on
// the next line (ENOENT and ERROR_FILE_NOT_FOUND are both 2).
std::string launch_failure(const std::string& text)
{
    return "Error - failed to launch '" + text + "'.\n" + os::error_text(2) + "\n";
}

struct OptionCase {
    std::vector<std::string> given;
    std::vector<std::string> kept;
    bool verbose;
    bool exec;
};

// The program does not exist, so an enabled execution shows as -1 with a
// launch error, a disabled one as 0 without.
TEST(CommandLineOptions, AreConsumedWhereverTheyStand)
{
    const std::vector<std::string> look_alikes = {"--WRAPPER-VERBOSE", "--wrapper-verbose=1", "-wrapper-verbose",
                                                  "--wrapper-verbose ", "--wrapper-disable-exec=0",
                                                  "--wrapper-disable", ""};
    const OptionCase cases[] = {
        {{"--wrapper-verbose", "a", "b"}, {"a", "b"}, true, true},
        {{"a", "--wrapper-disable-exec", "b"}, {"a", "b"}, false, false},
        {{"a", "b", "--wrapper-verbose", "--wrapper-disable-exec"}, {"a", "b"}, true, false},
        {{"--wrapper-verbose", "--wrapper-verbose"}, {}, true, true},
        {look_alikes, look_alikes, false, true},
    };
    const std::string missing = program_beside_tests("no-such-program");
    for (const OptionCase& c : cases) {
        CommandLine cmd(missing.c_str());
        feed(cmd, c.given);
        EXPECT_EQ(c.kept, args_of(cmd));
        Outcome outcome = run_with_streams(cmd);
        SCOPED_TRACE(outcome.text);
        EXPECT_EQ(c.exec ? -1 : 0, outcome.code);
        EXPECT_EQ(c.verbose ? outcome.text + "\n" : "", outcome.out);
        EXPECT_EQ(c.exec ? launch_failure(outcome.text) : "", outcome.err);
    }
}

// Past the initial array, 100,000 arguments, one argument of 1 MiB: the
// echoed text holds every argument, in order.
TEST(CommandLineOptions, LongListsAndLongArgumentsKeepEveryArgument)
{
    std::vector<std::string> mixed = {"--wrapper-disable-exec"}, mixed_kept;
    for (int i = 0; i < 40; ++i) {
        if (i % 5 == 2) {
            mixed.push_back(i % 2 ? "--wrapper-verbose" : "--wrapper-disable-exec");
        } else {
            mixed.push_back("arg" + std::to_string(i));
            mixed_kept.push_back(mixed.back());
        }
    }
    const std::vector<std::string> many(100000, "a");
    const std::string huge = std::string(1 << 20, 'x') + " say \"hi\" C:\\dir\\";
    const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
        {mixed, mixed_kept},
        {many, many},
        {{huge}, {huge}},
    };
    for (const auto& c : cases) {
        CommandLine cmd("prog");
        feed(cmd, {"--wrapper-verbose", "--wrapper-disable-exec"});
        feed(cmd, c.first);
        EXPECT_EQ(c.second, args_of(cmd));
        Outcome outcome = run_with_streams(cmd);
        EXPECT_EQ(0, outcome.code);
        EXPECT_EQ(outcome.text + "\n", outcome.out);
        std::vector<std::string> words = {"prog"};
        words.insert(words.end(), c.second.begin(), c.second.end());
        EXPECT_EQ(words, split_command_text(outcome.text, os::facts.program_token));
    }
}

struct TextCase {
    const char* program;
    std::vector<std::string> args;
    const char* text;
};

TEST(CommandLineText, QuotesEveryTokenAndEndsEachWithASpace)
{
    const TextCase cases[] = {
        {"prog", {}, R"("prog" )"},
        {"prog", {""}, R"("prog" "" )"},
        {"cygpath", {"--mixed", "/home/x"}, R"("cygpath" "--mixed" "/home/x" )"},  // 30 characters
        {R"(C:\p\x.exe)", {R"(C:\d\)", R"(say "hi")"}, R"("C:\p\x.exe" "C:\d\\" "say \"hi\"" )"},
    };
    for (const TextCase& c : cases) {
        CommandLine cmd(c.program);
        feed(cmd, c.args);
        EXPECT_EQ(c.text, cmd.build_command_text());
    }
}

TEST(CommandLineText, AwkwardArgumentsRoundTripAndRenderingIsRepeatable)
{
    const std::vector<std::string> args = {R"(C:\dir\)", R"(a\\)", R"(say "hi")", R"(\")", "", "a b", R"(x\"y\)"};
    CommandLine cmd(R"(C:\tools\prog.exe)");
    feed(cmd, args);
    const std::string text = cmd.build_command_text();
    std::vector<std::string> expected = {R"(C:\tools\prog.exe)"};
    expected.insert(expected.end(), args.begin(), args.end());
    EXPECT_EQ(expected, split_command_text(text, os::facts.program_token));
    EXPECT_EQ(text, cmd.build_command_text());
}

TEST(CommandLineText, SetArgReplacesOneArgument)
{
    CommandLine cmd("p");
    feed(cmd, {"a", "b", "c"});
    cmd.set_arg(1, "B 2");
    EXPECT_EQ((std::vector<std::string>{"a", "B 2", "c"}), args_of(cmd));
    EXPECT_EQ(R"("p" "a" "B 2" "c" )", cmd.build_command_text());
}

TEST(CommandLineLaunch, MissingProgramIsReportedUnlessReportsAreOff)
{
    const std::string missing = program_beside_tests("no-such-program");
    for (bool reports : {true, false}) {
        CommandLine cmd(missing.c_str());
        feed(cmd, {"a b", "x"});
        if (!reports)
            cmd.disable_launch_error_reports();
        ScratchStream out, err;
        ASSERT_TRUE(out.get() != nullptr && err.get() != nullptr);
        cmd.set_streams(out.get(), err.get());
        const std::string text = cmd.build_command_text();
        EXPECT_EQ(-1, cmd.execute(cmd.build_command()));
        cmd.set_streams(stdout, stderr);
        EXPECT_EQ(reports ? launch_failure(text) : "", err.text());
        EXPECT_EQ("", out.text());
    }
}

TEST(CommandLineLaunch, ReturnsTheChildsExitCode)
{
    const std::pair<const char*, int> cases[] = {
        {"0", 0},
        {"3", 3},
#ifdef _WIN32
        {"256", 256},
        {"70000", 70000},
        {"0xC0000005", static_cast<int>(0xC0000005u)},
#else
        {"255", 255},
#endif
    };
    const std::string child = program_beside_tests("test_child");
    for (const auto& c : cases) {
        ScopedEnv exit_code("TEST_CHILD_EXIT", c.first);
        CommandLine cmd(child.c_str());
        EXPECT_EQ(c.second, cmd.run()) << "exit code " << c.first;
    }
}

TEST(CommandLineLaunch, ChildReceivesTheArgumentsUnchanged)
{
    testing_support::TempDir dir;
    const std::string report_path = dir / "report";
    ScopedEnv report("TEST_CHILD_REPORT", report_path);
    const std::vector<std::string> args = {"a b", R"(C:\d\)", "", R"(q"x)", "--WRAPPER-VERBOSE"};
    CommandLine cmd(program_beside_tests("test_child").c_str());
    feed(cmd, args);
    const std::string text = cmd.build_command_text();
    ASSERT_EQ(0, cmd.run());
    testing_support::ChildReport child = testing_support::read_child_report(report_path);
    ASSERT_TRUE(child.found);
    EXPECT_EQ(args, child.args);
    if (testing_support::on_windows) {
        EXPECT_EQ(text, child.command_line);  // handed over as it was built
    }
}

#ifndef _WIN32
// Where the program replaces the launcher (not on Windows, which has no
// exec), its caller sees the program's own end: its exit status, or its
// death by a signal (not 128+N).
TEST(CommandLineLaunch, ReplacingProgramEndsTheProcessItsOwnWay)
{
    struct Case {
        const char* variable;
        const char* value;
        std::function<bool(int)> ends;
    };
    const Case cases[] = {
        {"TEST_CHILD_EXIT", "3", testing::ExitedWithCode(3)},
        {"TEST_CHILD_SIGNAL", "9", testing::KilledBySignal(9)},
    };
    const std::string child = program_beside_tests("test_child");
    for (const Case& c : cases) {
        ScopedEnv steer(c.variable, c.value);
        CommandLine cmd(child.c_str());
        cmd.enable_process_replacement();
        EXPECT_EXIT(cmd.run(), c.ends, "") << c.variable;
    }
}
#endif

// Far past what Windows (32,767 characters) or Linux (ARG_MAX) takes.
TEST(CommandLineLaunch, OverlongJavaTextReachesTheChildInAnArgumentFile)
{
    testing_support::TempDir dir;
    ScopedEnv report("TEST_CHILD_REPORT", dir / "report");
    JavaCommandLine cmd("Main", 0, nullptr);
    cmd.set_java_path(program_beside_tests("test_child").c_str());
    cmd.add_wrapper_jar("x.jar");
    std::string expected = "\"-cp\"\n\"x.jar\"\n\"Main\"\n";
    for (int i = 0; i < 100000; ++i) {
        const std::string arg = "argument-number-" + std::to_string(i) + std::string(16, 'z');
        cmd.process_arg(arg.c_str());
        expected += "\"" + arg + "\"\n";
    }
    expect_run_ends_with(cmd, 0);
    testing_support::ChildReport child = testing_support::read_child_report(dir / "report");
    ASSERT_EQ(1u, child.args.size());
    ASSERT_EQ(1u, child.argument_files.size());
    EXPECT_EQ(expected, child.argument_files[0]);
    if (os::facts.replaces_process)
        EXPECT_EQ(0u, child.args[0].find("@/dev/fd/")) << child.args[0];  // a file without a name
    else
        EXPECT_FALSE(testing_support::file_exists(child.args[0].substr(1)));  // deleted after the child ended
}

// A killed launcher leaves its argument file behind; the next one made
// deletes it, but not the file of a launcher that still holds its own, nor
// a file of the user's whose name only looks alike.
TEST(CommandLineLaunch, ArgumentFilesOfLaunchersThatAreGoneAreDeleted)
{
    if (!testing_support::on_windows)
        GTEST_SKIP() << "no named argument files";
    testing_support::TempDir temp;
    ScopedEnv tmp("TMP", temp.path());
    const struct {
        const char* name;
        bool deleted;
    } left[] = {
        {"brumlet-args-BEEF.tmp", true},
        {"brumlet-args-7.tmp", true},
        {"brumlet-args-my important notes.tmp", false},
        {"brumlet-args-cafe.tmp", false},  // the launcher writes its digits in upper case
        {"BRUMLET-ARGS-BEAD.TMP", false},
        {"brumlet-args-0BAD.tmp", false},
        {"brumlet-args-1BEAD.tmp", false},
        {"brumlet-args-.tmp", false},
    };
    for (const auto& file : left)
        testing_support::write_file(temp / file.name, "-Dsecret=1");
    std::string held, next;
    os::FileHandle held_file, next_file;
    os::Failure failure;
    ASSERT_TRUE(os::create_argument_file(held, held_file, failure));
    ASSERT_TRUE(os::create_argument_file(next, next_file, failure));
    os::close_file(held_file);  // a file marked for deletion would go now
    EXPECT_TRUE(testing_support::file_exists(held));
    for (const auto& file : left) {
        // A name the launcher makes may have been made anew, empty.
        const std::string path = temp / file.name;
        const bool still_left = testing_support::file_exists(path) && testing_support::read_file(path) != "";
        EXPECT_EQ(!file.deleted, still_left) << file.name;
    }
    EXPECT_FALSE(testing_support::others_may_read(next));
    os::close_file(next_file);
}

TEST(CommandLineLaunch, ArgumentFileOnlyPastTheSystemLimit)
{
    // CreateProcess takes 32,767 characters with the terminating NUL.
    const std::size_t limit = 32766;
    if (!testing_support::on_windows)
        GTEST_SKIP() << "no fixed limit: the OS refuses with E2BIG";
    testing_support::TempDir dir;
    ScopedEnv report("TEST_CHILD_REPORT", dir / "report");
    for (std::size_t length : {limit, limit + 1}) {
        JavaCommandLine cmd("Main", 0, nullptr);
        cmd.set_java_path(program_beside_tests("test_child").c_str());
        cmd.add_wrapper_jar("x.jar");
        cmd.process_arg("");
        const std::size_t base = cmd.build_command_text().size();
        cmd.set_arg(0, std::string(length - base, 'p').c_str());
        ASSERT_EQ(length, cmd.build_command_text().size());
        ASSERT_EQ(0, cmd.run());
        testing_support::ChildReport child = testing_support::read_child_report(dir / "report");
        EXPECT_EQ(length > limit, child.argument_files.size() == 1) << length;
    }
}

}  // namespace
