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

// Arguments that a naive launcher would break; only UTF-8 text for the real
// JVM, which decodes its arguments by the locale.
const std::vector<std::string> awkward_text_args = {
    "", " ", "a b", "tab\there", "C:\\dir\\", "\\\\server\\share\\", "\"", "\\\"", "a\"b\"c", "x=\"y z\"\\",
    "*", "?.txt", "*.jar", "caf\xc3\xa9 \xe2\x82\xac", "--splash=1", "--helpx", "-Dx=1", "--", "'single'",
};

// The native test child takes any bytes on POSIX; on Windows, where the
// launcher and the tests run in the UTF-8 code page, any text.
std::vector<std::string> awkward_byte_args()
{
    std::vector<std::string> args = awkward_text_args;
    if (!on_windows)
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

// On Windows the launcher's UTF-8 code page carries text of any script; a
// launcher in a legacy code page would pass '?' for most of these.
TEST(ChildLaunch, TextInSeveralScriptsInArgumentsAndInstallationPath)
{
    const std::string latin = "caf\xc3\xa9", cyrillic = "\xd0\x96\xd0\xb8\xd0\xb2", cjk = "\xe4\xb8\xad\xe6\x96\x87",
                      emoji = "\xf0\x9f\x98\x80";
    const std::vector<std::string> args = {latin, cyrillic, cjk, emoji, latin + " " + cyrillic + " " + cjk};
    TempDir parent;
    // No emoji in the path: JDK 17 cannot load a class path with characters
    // beyond the Basic Multilingual Plane.
    Installation installation({}, parent / (latin + " " + cyrillic + cjk));
    if (!on_windows)
        copy_file(join(own_dir(), "brumlet_test_tool.jar"), join(installation.bin_dir(), "tool.jar"));
    const std::string report = parent / "report";
    std::vector<std::string> verbose_args = args;
    verbose_args.insert(verbose_args.begin(), "--wrapper-verbose");
    RunResult result = installation.run(verbose_args, {{"TEST_CHILD_REPORT", report}, {"LC_ALL", "C.UTF-8"}});
    EXPECT_EQ(0, result.exit_code) << result.err;
    // The java of the installation ran, with the jars of its directory.
    ChildReport tool = read_child_report(report);
    ASSERT_TRUE(tool.found) << result.out << result.err;
    ASSERT_GE(tool.args.size(), args.size());
    EXPECT_EQ(args, std::vector<std::string>(tool.args.end() - args.size(), tool.args.end()));
    if (on_windows) {
        EXPECT_EQ(first_line(result.out), tool.command_line);
    }
}

TEST(ChildLaunch, VerboseEchoIsTheTextThatRuns)
{
    if (!on_windows)
        GTEST_SKIP() << "only Windows hands the child a command text";
    FakeRuntimeRun fake;
    RunResult result = fake.run({"--wrapper-verbose", "C:\\dir\\", "x", "q\"uote"});
    ChildReport report = read_child_report(fake.report);
    ASSERT_TRUE(report.found) << result.err;
    EXPECT_EQ(first_line(result.out), report.command_line);
    EXPECT_EQ((std::vector<std::string>{"com.velkor.brumlet.Brumlet", "C:\\dir\\", "x", "q\"uote"}), report.args);
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
