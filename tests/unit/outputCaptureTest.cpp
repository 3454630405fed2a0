// Output capture: the child's standard output goes to a temporary file that
// is read back and deleted.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commandLine.h"
#include "os/error.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace testing_support;
using namespace unit_helpers;

// Points the user's temporary directory at `dir`.
std::vector<EnvVar> temp_dir_vars(const std::string& dir)
{
    if (on_windows)
        return {{"TMP", dir}, {"TEMP", dir}};
    return {{"TMPDIR", dir}};
}

struct Captured {
    int code = 0;
    std::string text;  // as a C string
    std::size_t length = 0;
    std::string command;
    std::string out;
    std::string err;
    std::vector<std::string> left_in_temp;
};

// Runs `program` with capture on, the temporary directory at `temp_dir`
// (default: a fresh one) and the launcher's streams in scratch files.
Captured run_capturing(const std::vector<EnvVar>& env, bool verbose = false, const char* program = "test_child",
                       const std::string& temp_dir = "")
{
    TempDir temp;
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    EXPECT_TRUE(out != nullptr && err != nullptr);
    Captured result;
    {
        std::vector<EnvVar> all = temp_dir_vars(temp_dir.empty() ? temp.path() : temp_dir);
        all.insert(all.end(), env.begin(), env.end());
        ScopedEnvs changes(all);
        CommandLine cmd(program_beside_tests(program).c_str());
        cmd.enable_output_capture();
        cmd.disable_launch_error_reports();
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
    result.left_in_temp = list_dir(temp.path());
    std::fclose(out);
    std::fclose(err);
    return result;
}

TEST(OutputCapture, KeepsTheOutputWithoutOneTrailingLineFeedAndNoFile)
{
    struct Case {
        std::string written;
        std::string captured;
        const char* status = "0";  // the child's exit code, and what the run returns
        bool verbose = false;  // then the command and the captured text are echoed
        const char* program = "test_child";
    };
    const Case cases[] = {
        {"abcd\n", "abcd"}, {"abcd\r\n", "abcd\r"}, {"ab\n\n", "ab\n"}, {"abcd", "abcd"}, {"\n", ""}, {"", ""},
        {std::string("ab\0cd\n", 6), "ab"},  // a C string: it ends at the first zero byte
        {std::string(5000, 'x'), std::string(4095, 'x')},  // at most 4095 bytes
        {"hi\n", "hi", "7"},
        {"abcd\n", "abcd", "0", true},
        {"abcd\n", "", "-1", false, "no-such-program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(to_hex(c.written.substr(0, 20)) + " from " + c.program);
        Captured result = run_capturing({{"TEST_CHILD_STDOUT_HEX", to_hex(c.written)}, {"TEST_CHILD_EXIT", c.status}},
                                        c.verbose, c.program);
        EXPECT_EQ(std::stoi(c.status), result.code);
        EXPECT_EQ(c.captured, result.text);
        EXPECT_EQ(c.captured.size(), result.length);
        EXPECT_EQ(c.verbose ? result.command + "\n" + c.captured + "\n" : "", result.out);
        EXPECT_EQ("", result.err);
        EXPECT_EQ(std::vector<std::string>{}, result.left_in_temp);
    }
}

// A temporary directory that does not exist shows that the capture file is
// made there: without it the child is not started at all.
TEST(OutputCapture, MissingTemporaryDirectoryStopsTheLaunch)
{
    TempDir temp;
    Captured result = run_capturing({{"TEST_CHILD_REPORT", temp / "report"}}, false, "test_child", temp / "missing");
    EXPECT_EQ(-1, result.code);
    const std::string call = on_windows ? "GetTempFileName" : "mkstemp";
    const std::string failed = call + " failed with error ";
    ASSERT_EQ(0u, result.err.rfind(failed, 0)) << result.err;
    const int error = std::atoi(result.err.c_str() + failed.size());
    EXPECT_EQ(failed + std::to_string(error) + ".\n" + os::error_text(error) + "\n", result.err);
    EXPECT_FALSE(file_exists(temp / "report"));
}

}  // namespace
