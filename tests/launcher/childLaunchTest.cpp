// The launcher starting its tool as a child: every argument reaches the
// tool's argv unchanged, the tool's exit status becomes the launcher's, and a
// runtime that cannot be started is reported.
#include <gtest/gtest.h>

#include "launcherTestSupport.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

std::string first_line(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// The native test child takes any bytes; on Windows they are ANSI code page
// characters and must survive the trip through CreateProcessA both ways.
std::vector<std::string> awkward_byte_args()
{
    std::vector<std::string> args = awkward_text_args;
    args.push_back("\xe9\xe8 \xfc");
    return args;
}

// A runtime whose java is the native test child, beside a tool installation.
struct FakeRuntimeRun {
    Installation installation;
    TempDir scratch;
    std::string jre = scratch / "jre";
    std::string report = scratch / "report";

    FakeRuntimeRun() { make_fake_runtime(jre); }

    RunResult run(const std::vector<std::string>& args, std::vector<EnvVar> env = {})
    {
        env.push_back({"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre});
        env.push_back({"TEST_CHILD_REPORT", report});
        return installation.run(args, env);
    }
};

TEST(ChildLaunch, ArgumentsReachTheChildUnchanged)
{
    FakeRuntimeRun fake;
    const std::vector<std::string> args = awkward_byte_args();
    RunResult result = fake.run(args);
    EXPECT_EQ(0, result.exit_code) << result.err;
    ChildReport report = read_child_report(fake.report);
    ASSERT_TRUE(report.found) << result.err;
    // The child gets the main class first, then the user's arguments.
    ASSERT_FALSE(report.args.empty());
    EXPECT_EQ("com.velkor.brumlet.Brumlet", report.args[0]);
    EXPECT_EQ(args, std::vector<std::string>(report.args.begin() + 1, report.args.end()));
}

// The echo is the text that runs, and it is out before the tool starts: in
// one output file it comes first.
TEST(ChildLaunch, VerboseEchoIsTheTextThatRunsAndComesFirst)
{
    FakeRuntimeRun fake;
    RunResult result = fake.run({"--wrapper-verbose", "C:\\dir\\", "x", "q\"uote"},
                                {{"TEST_CHILD_STDOUT_HEX", to_hex("from the tool\n")}});
    ChildReport report = read_child_report(fake.report);
    ASSERT_TRUE(report.found) << result.err;
    EXPECT_EQ((std::vector<std::string>{"com.velkor.brumlet.Brumlet", "C:\\dir\\", "x", "q\"uote"}), report.args);
    const std::string echo = first_line(result.out);
    EXPECT_EQ(0u, echo.find("\"" + fake.jre)) << result.out;
    EXPECT_EQ("from the tool\n", result.out.substr(result.out.find('\n') + 1));
    if (on_windows) {
        EXPECT_EQ(echo, report.command_line);
    }
}

TEST(ChildLaunch, ExitStatusIsTheTools)
{
    std::vector<unsigned> codes = {0, 3, 255};
    if (on_windows) {
        // 32-bit codes pass whole, also the exception codes that read as negative
        codes.insert(codes.end(), {256, 70000, 0xC0000005u, 0xFFFFFFFEu});
    }
    FakeRuntimeRun fake;
    for (unsigned code : codes) {
        RunResult result = fake.run({"a"}, {{"TEST_CHILD_EXIT", std::to_string(code)}});
        EXPECT_EQ(static_cast<int>(code), result.exit_code) << "code " << code << ": " << result.err;
        EXPECT_EQ("", result.err);
    }
}

TEST(ChildLaunch, ChildKilledBySignalGives128PlusN)
{
    if (on_windows)
        GTEST_SKIP() << "no signals on Windows";
    FakeRuntimeRun fake;
    RunResult result = fake.run({}, {{"TEST_CHILD_SIGNAL", "9"}});
    EXPECT_EQ(128 + 9, result.exit_code);
}

TEST(ChildLaunch, MissingJavaIsReportedWithTheCommandText)
{
    Installation installation;
    TempDir empty_jre;
    RunResult result = installation.run({"--wrapper-verbose", "a b"}, {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", empty_jre.path()}});
    EXPECT_EQ(failure_exit_status(), result.exit_code);
    const std::string text = first_line(result.out);
    EXPECT_EQ(0u, text.find("\"" + empty_jre.path())) << result.out;
    EXPECT_EQ("Error - failed to launch '" + text + "'.", first_line(result.err));
}

#ifdef BRUMLET_TEST_JDK_HOME
// On Linux the tool runs on the machine's real JDK from the installed layout.
TEST(RealJava, ArgumentsAndExitStatusThroughTheInstalledLayout)
{
    Installation installation;
    copy_file(join(own_dir(), "brumlet_test_tool.jar"), join(installation.bin_dir(), "brumlet_test_tool.jar"));
    TempDir scratch;
    const std::string report = scratch / "report";
    for (int code : {0, 3, 255}) {
        RunResult result = installation.run(awkward_text_args, {{"TEST_CHILD_REPORT", report},
                                                                {"TEST_CHILD_EXIT", std::to_string(code)},
                                                                {"LC_ALL", "C.UTF-8"}});
        EXPECT_EQ(code, result.exit_code) << result.err;
        ChildReport tool = read_child_report(report);
        ASSERT_TRUE(tool.found) << result.out << result.err;
        EXPECT_EQ(awkward_text_args, tool.args);
        remove_tree(report);
    }
}
#endif

}  // namespace
