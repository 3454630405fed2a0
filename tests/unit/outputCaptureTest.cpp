#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "commandLine.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace unit_helpers;

using testing_support::EnvVar;
using testing_support::ScopedEnv;
using testing_support::ScopedEnvs;

// Points the user's temporary directory at `dir` while it lives.
std::vector<EnvVar> temp_dir_vars(const std::string& dir)
{
#ifdef _WIN32
    return {{"TMP", dir}, {"TEMP", dir}};
#else
    return {{"TMPDIR", dir}};
#endif
}

struct Captured {
    int code = 0;
    std::string text;  // as a C string
    std::size_t length = 0;
    std::string command;
    std::string out;
    std::string err;
};

Captured run_capturing(const std::vector<EnvVar>& env, bool verbose = false)
{
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    EXPECT_TRUE(out != nullptr && err != nullptr);
    Captured result;
    {
        ScopedEnvs changes(env);
        CommandLine cmd(program_beside_tests("test_child").c_str());
        cmd.enable_output_capture();
        if (verbose)
            cmd.process_arg("--wrapper-verbose");
        cmd.set_streams(out, err);
        result.command = cmd.build_command_text();
        result.code = cmd.run();
        result.text = cmd.get_captured_output();
        result.length = cmd.get_captured_output_length();
    }
    result.out = read_stream(out);
    result.err = read_stream(err);
    std::fclose(out);
    std::fclose(err);
    return result;
}

struct CaptureCase {
    std::string written;
    std::string captured;
};

TEST(OutputCapture, KeepsTheOutputWithoutOneTrailingLineFeed)
{
    const CaptureCase cases[] = {
        {"abcd\n", "abcd"}, {"abcd\r\n", "abcd\r"}, {"ab\n\n", "ab\n"}, {"abcd", "abcd"},
        {"\n", ""},         {"", ""},
        {std::string("ab\0cd\n", 6), "ab"},  // a C string: it ends at the first zero byte
    };
    for (const CaptureCase& c : cases) {
        Captured result = run_capturing({{"TEST_CHILD_STDOUT_HEX", testing_support::to_hex(c.written)}});
        SCOPED_TRACE(testing_support::to_hex(c.written));
        EXPECT_EQ(0, result.code);
        EXPECT_EQ(c.captured, result.text);
        EXPECT_EQ(c.captured.size(), result.length);
        EXPECT_EQ("", result.out);
        EXPECT_EQ("", result.err);
    }
}

TEST(OutputCapture, KeepsAtMost4095Bytes)
{
    Captured result = run_capturing({{"TEST_CHILD_STDOUT_REPEAT", "5000"}});
    EXPECT_EQ(std::string(4095, 'x'), result.text);
    EXPECT_EQ(4095u, result.length);
}

TEST(OutputCapture, VerboseEchoesTheCommandThenTheCapturedText)
{
    Captured result = run_capturing({{"TEST_CHILD_STDOUT_HEX", testing_support::to_hex("abcd\n")}}, true);
    EXPECT_EQ(result.command + "\n" + "abcd\n", result.out);
}

TEST(OutputCapture, ChildExitCodeStillComesBack)
{
    Captured result =
        run_capturing({{"TEST_CHILD_STDOUT_HEX", testing_support::to_hex("hi\n")}, {"TEST_CHILD_EXIT", "7"}});
    EXPECT_EQ(7, result.code);
    EXPECT_EQ("hi", result.text);
}

TEST(OutputCapture, LeavesNoFileInTheTemporaryDirectory)
{
    testing_support::TempDir temp;
    ScopedEnvs redirect(temp_dir_vars(temp.path()));
    ScopedEnv output("TEST_CHILD_STDOUT_HEX", testing_support::to_hex("abcd\n"));
    for (const char* name : {"test_child", "no-such-program"}) {
        SCOPED_TRACE(name);
        CommandLine cmd(program_beside_tests(name).c_str());
        cmd.enable_output_capture();
        cmd.disable_launch_error_reports();
        const bool exists = std::string(name) == "test_child";
        EXPECT_EQ(exists ? 0 : -1, cmd.run());
        EXPECT_STREQ(exists ? "abcd" : "", cmd.get_captured_output());
        EXPECT_EQ(std::vector<std::string>{}, testing_support::list_dir(temp.path()));
    }
}

// A temporary directory that does not exist shows that the capture file is
// made there: without it the child is not started at all.
TEST(OutputCapture, MissingTemporaryDirectoryStopsTheLaunch)
{
    testing_support::TempDir temp;
    Captured result = [&] {
        std::vector<EnvVar> env = temp_dir_vars(temp / "missing");
        env.push_back({"TEST_CHILD_REPORT", temp / "report"});
        return run_capturing(env);
    }();
    EXPECT_EQ(-1, result.code);
    const std::string call = testing_support::on_windows ? "GetTempFileName" : "mkstemp";
    EXPECT_EQ(0u, result.err.rfind(call + " failed with error ", 0)) << result.err;
    EXPECT_FALSE(testing_support::file_exists(temp / "report"));
}

}  // namespace
