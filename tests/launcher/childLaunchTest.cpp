// The launcher starting its tool through java, as a child on Windows and in
// its own process on Linux: every argument reaches the tool's argv
// unchanged, the tool's exit status becomes the launcher's, and a runtime
// that cannot be started is reported.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>

#include "launch/commandText.h"
#include "launcherTestSupport.h"
#include "os/platform.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

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
    // The child gets the class path, the main class, then the user's arguments.
    ASSERT_EQ(3 + args.size(), report.args.size());
    EXPECT_EQ("com.velkor.brumlet.Brumlet", report.args[2]);
    EXPECT_EQ(args, std::vector<std::string>(report.args.begin() + 3, report.args.end()));
}

// Wine takes the system's code page from the locale its process starts in:
// 1252 by default, 932 in the runs of tests under LC_ALL=ja_JP.UTF-8.
bool in_code_page_932()
{
    std::string locale;
    return on_windows && get_env("LC_ALL", locale) && locale == "ja_JP.UTF-8";
}


// On Linux every argument reaches the tool as it is. On Windows java.exe
// reads its command line in the system's ANSI code page: a character the
// page lacks arrives as '?', never as a look-alike that reads as a quote or
// a backslash or names another file, and every argument arrives whole. The
// paths that java.exe opens (itself, the jars) hold no such character: an
// installation below one goes by its short name.
TEST(ChildLaunch, TextInSeveralScriptsInArgumentsAndInstallationPath)
{
    struct Case {
        std::string arg;
        std::string in_1252;  // what the tool gets in code page 1252
        std::string in_932;
    };
    const std::string latin = "caf\xc3\xa9", cyrillic = "\xd0\x96\xd0\xb8\xd0\xb2", cjk = "\xe4\xb8\xad\xe6\x96\x87";
    const std::string full_width_quote = "\xef\xbc\x82", full_width_backslash = "\xef\xbc\xbc";
    const Case cases[] = {
        {latin, latin, "caf?"},
        {cyrillic, "???", cyrillic},
        {cjk, "??", cjk},
        {latin + " " + cyrillic + " " + cjk, latin + " ??? ??", "caf? " + cyrillic + " " + cjk},
        // a full-width quote: best fit made it '"', which opened an option
        {"in" + full_width_quote + " --force " + full_width_quote + "put.v", "in? --force ?put.v",
         "in" + full_width_quote + " --force " + full_width_quote + "put.v"},
        // a full-width backslash: best fit made it '\\', which swallowed the next arguments
        {"out" + full_width_backslash, "out?", "out" + full_width_backslash},
        {"\xc2\xa5", "\xc2\xa5", "?"},  // '\xc2\xa5' is a backslash by best fit in code page 932
        {"\xc5\x82\xc3\xb3" "d\xc5\xba", "?\xc3\xb3" "d?", "??d?"},  // best fit: "lodz", another name
        {"--safe", "--safe", "--safe"},
    };
    std::vector<std::string> args = {"--wrapper-verbose"}, expected;
    for (const Case& c : cases) {
        args.push_back(c.arg);
        expected.push_back(!on_windows ? c.arg : in_code_page_932() ? c.in_932 : c.in_1252);
    }
    TempDir parent;
    Installation installation({tool_jar, "\xc5\xbc\xc3\xb3\xc5\x82w.jar"}, parent / "\xc5\x81\xc3\xb3" "d\xc5\xba");
    const std::string report = parent / "report";
    RunResult result = installation.run(args, {{"TEST_CHILD_REPORT", report}, {"LC_ALL", "C.UTF-8"}});
    EXPECT_EQ(0, result.exit_code) << result.err;
    // The java of the installation ran, with the jars of its directory.
    ChildReport tool = read_child_report(report);
    ASSERT_TRUE(tool.found) << result.out << result.err;
    ASSERT_GE(tool.args.size(), expected.size());
    EXPECT_EQ(expected, std::vector<std::string>(tool.args.end() - expected.size(), tool.args.end()));
    if (!on_windows)
        return;
    // The echo is what java.exe read, in the same code page.
    EXPECT_EQ(first_line(result.out), tool.command_line);
    // Wine names a program by its long path (GetModuleFileNameA) even when
    // it was started by its short one; Windows keeps the name it was started
    // by, which is the first word of its command line.
    const std::string java = split_command_text(tool.command_line, os::facts.program_token)[0];
    EXPECT_TRUE(is_ascii(java) && file_exists(java)) << java;
    ASSERT_EQ("-cp", tool.args[tool.args.size() - expected.size() - 3]);
    std::istringstream classpath(tool.args[tool.args.size() - expected.size() - 2]);
    int jars = 0;
    for (std::string jar; std::getline(classpath, jar, ';'); ++jars)
        EXPECT_TRUE(is_ascii(jar) && file_exists(jar)) << jar;
    EXPECT_EQ(2, jars);
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
    EXPECT_EQ((std::vector<std::string>{"com.velkor.brumlet.Brumlet", "C:\\dir\\", "x", "q\"uote"}),
              std::vector<std::string>(report.args.begin() + 2, report.args.end()));
    const std::string echo = first_line(result.out);
    EXPECT_EQ(0u, echo.find("\"" + fake.jre)) << result.out;
    EXPECT_EQ("from the tool\n", result.out.substr(result.out.find('\n') + 1));
    if (on_windows) {
        EXPECT_EQ(echo, report.command_line);
    }
}

// NATIVE_WRAP_VERBOSE=1: the verbose text on standard error, after the
// launcher's version and how the tool starts; standard output is the
// tool's alone. With the option, the option's output as it is.
TEST(ChildLaunch, VerboseFromTheEnvironmentGoesToStandardError)
{
    FakeRuntimeRun fake;
    const EnvVar verbose = {"NATIVE_WRAP_VERBOSE", "1"};
    RunResult child = fake.run({"x"}, {verbose, {"TEST_CHILD_STDOUT_HEX", to_hex("from the tool\n")}});
    EXPECT_EQ("from the tool\n", child.out);
    const std::string err = plain_newlines(child.err);
    EXPECT_EQ(0u, err.find("brumlet " BRUMLET_VERSION "\nLaunch: java ")) << err;
    EXPECT_NE(std::string::npos, err.find("\n\"" + fake.jre)) << err;
    RunResult inside = fake.run({"--wrapper-load-jvm-in-process", "--wrapper-disable-exec", "x"}, {verbose});
    EXPECT_EQ("", inside.out);
    EXPECT_NE(std::string::npos, plain_newlines(inside.err).find("\nLaunch: in-process, the JVM library '" + fake.jre))
        << inside.err;
    RunResult both = fake.run({"--wrapper-verbose", "--wrapper-disable-exec", "x"}, {verbose});
    EXPECT_EQ("", both.err);
    EXPECT_EQ(0u, both.out.find("\"" + fake.jre)) << both.out;
}

// The detached run's variable, set by anyone else, is nobody's job: the
// tool runs as without it, and java never sees it.
TEST(ChildLaunch, AStrayJobVariableIsNobodysJob)
{
    FakeRuntimeRun fake;
    RunResult result = fake.run({"x"}, {{"NATIVE_WRAP_CLASS_CACHE_JOB", "1"}});
    EXPECT_EQ(0, result.exit_code) << result.err;
    const ChildReport report = read_child_report(fake.report);
    ASSERT_TRUE(report.found) << result.err;
    for (const std::string& variable : report.environment)
        EXPECT_NE(0u, variable.find("NATIVE_WRAP_CLASS_CACHE_JOB=")) << variable;
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

// java replaces the launcher on Linux: a tool that dies of a signal shows
// its caller that death, not an exit status.
TEST(ChildLaunch, ToolKilledBySignalDiesOfItForTheCaller)
{
    if (on_windows)
        GTEST_SKIP() << "no signals on Windows";
    FakeRuntimeRun fake;
    RunResult result = fake.run({}, {{"TEST_CHILD_SIGNAL", "9"}});
    EXPECT_EQ(9, result.signal);
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
// (These tests compile only where there is a JDK for them; on Windows the
// installation's runtime is the test child.)
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

// Puts the tool into an installation: the Java test tool on Linux; on
// Windows the test child already is the runtime's java.exe. False when there
// is no JDK to run the tool.
bool install_tool(const Installation& installation)
{
    if (on_windows)
        return true;
    const std::string tool_jar = join(own_dir(), "brumlet_test_tool.jar");
    if (!file_exists(tool_jar))
        return false;
    copy_file(tool_jar, join(installation.bin_dir(), "brumlet_test_tool.jar"));
    return true;
}

// The launcher in the background with its tool running: the tool has
// written its pid and sleeps; on an interrupt or SIGTERM it prints "hook ran"
// and ends with status 7.
struct WaitingTool {
    Installation installation;
    TempDir scratch;
    std::unique_ptr<BackgroundProgram> launcher;
    unsigned long tool_pid = 0;

    bool start()
    {
        if (!install_tool(installation))
            return false;
        launcher = installation.start({}, {{"TEST_CHILD_READY", scratch / "ready"},
                                          {"TEST_CHILD_SLEEP_MS", "30000"},
                                          {"TEST_CHILD_HOOK", "hook ran"},
                                          {"TEST_CHILD_EXIT", "7"}});
        tool_pid = std::stoul(wait_for_file(scratch / "ready"));
        return true;
    }
};

// On Windows the launcher waits for java as its child: it leaves a Ctrl-C to
// the tool and takes the tool with it when it is ended. On Linux java is the
// launcher's own process (RealJava.SignalsToThePidActAsUnderPlainJava).
TEST(ChildLaunch, ConsoleInterruptIsLeftToTheTool)
{
    if (!on_windows)
        GTEST_SKIP() << "java replaces the launcher";
    WaitingTool tool;
    if (!tool.start())
        GTEST_SKIP() << "no JDK";
    tool.launcher->interrupt(tool.tool_pid);
    RunResult result = tool.launcher->wait();
    EXPECT_EQ(7, result.exit_code) << result.err;
    EXPECT_EQ("hook ran", first_line(result.out));
}

// Closing the console reaches the launcher and the tool at once: the launcher
// stays until the tool's own handling has run to its end, and passes on its
// status.
TEST(ChildLaunch, ConsoleCloseLetsTheToolFinish)
{
    if (!on_windows)
        GTEST_SKIP() << "no console close event on POSIX";
    WaitingTool tool;
    ASSERT_TRUE(tool.start());
    ASSERT_TRUE(tool.launcher->close_console(tool.tool_pid));
    RunResult result = tool.launcher->wait();
    EXPECT_EQ(7, result.exit_code) << result.err;
    EXPECT_EQ("hook ran", first_line(result.out));
}

// Only java is tied to the launcher: a process that the tool starts and
// leaves running outlives the launcher, as it outlives java run by hand.
TEST(ChildLaunch, ProcessesTheToolLeavesRunningOutliveTheLauncher)
{
    FakeRuntimeRun fake;
    const std::string late = fake.scratch / "late";
    RunResult result = fake.run({}, {{"TEST_CHILD_DETACHED", late}});
    EXPECT_EQ(0, result.exit_code) << result.err;
    EXPECT_EQ("late", wait_for_file(late));
}

// TerminateProcess cannot be caught: the OS ends the tool with the launcher.
TEST(ChildLaunch, EndedLauncherLeavesNoToolBehind)
{
    if (!on_windows)
        GTEST_SKIP() << "java replaces the launcher";
    for (bool hard : {true, false}) {
        WaitingTool tool;
        if (!tool.start())
            GTEST_SKIP() << "no JDK";
        if (hard)
            tool.launcher->kill();
        else if (!tool.launcher->terminate())
            continue;  // no SIGTERM on Windows
        RunResult result = tool.launcher->wait();
        EXPECT_TRUE(process_ends_within(tool.tool_pid, 1000)) << (hard ? "killed" : "terminated");
        if (!hard) {
            EXPECT_EQ(7, result.exit_code) << result.err;
            EXPECT_EQ("hook ran", first_line(result.out));
        }
    }
}

// 550 jars of 230-character names make a class path past both limits: the
// Windows command line's 32,766 characters and the 128 KiB of one Linux
// argument; on Linux the launcher takes 100,000 arguments besides, which a
// Windows command line cannot hand it. On Windows java.exe reads the
// argument file in the system's ANSI code page, as it reads its command
// line: an argument in the launcher's UTF-8 reaches it the same either way.
TEST(ChildLaunch, OverlongCommandTextGoesThroughAnArgumentFile)
{
    std::vector<std::string> jars;
    for (int i = 0; i < 550; ++i)
        jars.push_back("a-jar-with-a-long-name-" + std::string(200, 'x') + std::to_string(1000 + i) + ".jar");
    Installation installation(jars);
    if (!install_tool(installation))
        GTEST_SKIP() << "no JDK";
    // U+00E9 is in code page 1252, U+4E2D is not: it arrives as '?'. Code
    // page 932 holds U+4E2D U+6587 and the full-width quote and backslash
    // (0xFA57, 0x815F), but neither U+0142 nor U+00A5, whose best fit is a
    // backslash there. Each word is escaped on the bytes java reads.
    const bool in_932 = in_code_page_932();
    const std::string full_width = "\xef\xbc\x82\xef\xbc\xbc \xc5\x82\xc2\xa5";
    std::vector<std::string> args = {"a b", (in_932 ? "\xe4\xb8\xad\xe6\x96\x87 " : "caf\xc3\xa9 \xe4\xb8\xad ") + full_width};
    const std::string last_arg_in_file = in_932 ? "\"\x92\x86\x95\xb6 \xfa\x57\x81\x5f ??\"\n" : "\"caf\xe9 ? ?? ?\xa5\"\n";
    if (!on_windows) {
        args = awkward_text_args;
        for (int i = 0; args.size() < 100000; ++i)
            args.push_back(std::to_string(i));
    }
    std::vector<std::string> launcher_args = args;
    launcher_args.insert(launcher_args.begin(), "--wrapper-verbose");
    TempDir scratch;
    RunResult result = installation.run(launcher_args, {{"TEST_CHILD_REPORT", scratch / "report"}, {"LC_ALL", "C.UTF-8"}});
    ASSERT_EQ(0, result.exit_code) << result.err.substr(0, 1000);

    // The echo shows the whole text, then the file that carries it.
    std::istringstream echo(result.out);
    std::string text, note;
    std::getline(echo, text);
    std::getline(echo, note);
    const std::string carried = "The command text is too long for the system; an argument file carries it: ";
    ASSERT_EQ(0u, note.find(carried)) << note;
    const std::string file = first_line(note.substr(carried.size()));
    if (on_windows)
        EXPECT_FALSE(file_exists(file));  // deleted after the tool ended
    else
        EXPECT_EQ(0u, file.find("/dev/fd/")) << file;  // a file without a name, inherited by java

    ChildReport tool = read_child_report(scratch / "report");
    ASSERT_TRUE(tool.found);
    if (on_windows) {
        EXPECT_EQ(std::vector<std::string>{"@" + file}, tool.args);
        // Every word of the text after java.exe, one a line, quoted; of
        // its characters only the backslashes need an escape.
        std::vector<std::string> words = split_command_text(first_line(text), os::facts.program_token);
        std::string expected;
        for (std::size_t i = 1; i + 1 < words.size(); ++i) {
            expected += '"';
            for (char c : words[i])
                expected += c == '\\' ? std::string(2, c) : std::string(1, c);
            expected += "\"\n";
        }
        expected += last_arg_in_file;
        ASSERT_EQ(1u, tool.argument_files.size());
        EXPECT_TRUE(expected == tool.argument_files[0]) << "argument file of " << tool.argument_files[0].size()
                                                        << " bytes, expected " << expected.size();
    } else {
        EXPECT_EQ(args, tool.args);
    }
}

#ifdef BRUMLET_TEST_JDK_HOME
// The tool sleeping with a shutdown hook, started as plain java or through
// the launcher: it writes its pid to `ready`, sleeps, and when ended before
// the sleep is over prints "hook ran" and ends with status 7.
std::unique_ptr<BackgroundProgram> start_waiting_tool(const Installation& installation, bool through_launcher,
                                                      const std::string& ready, std::vector<std::string> args = {},
                                                      std::vector<EnvVar> env = {})
{
    env.insert(env.end(), {{"TEST_CHILD_READY", ready},
                           {"TEST_CHILD_SLEEP_MS", "30000"},
                           {"TEST_CHILD_HOOK", "hook ran"},
                           {"TEST_CHILD_EXIT", "7"}});
    if (through_launcher)
        return installation.start(args, env);
    std::vector<std::string> java = {java_below(test_jdk_home()), "-cp",
                                     join(installation.bin_dir(), "brumlet_test_tool.jar"),
                                     "com.velkor.brumlet.Brumlet"};
    java.insert(java.end(), args.begin(), args.end());
    return std::unique_ptr<BackgroundProgram>(new BackgroundProgram(java, env));
}

// What the caller saw: a thread dump, the hook's line, the exit or the death.
std::string outcome_of(const RunResult& result)
{
    std::string outcome;
    if (result.out.find("Full thread dump") != std::string::npos)
        outcome += "thread dump, ";
    if (result.out.find("hook ran") != std::string::npos)
        outcome += "hook ran, ";
    return outcome + (result.signal != 0 ? "signal " + std::to_string(result.signal)
                                         : "exit " + std::to_string(result.exit_code));
}

// A signal sent to the pid that the caller started, as IDE stop buttons and
// supervisors send it, acts on the tool as under plain java, and that pid is
// the tool's.
TEST(RealJava, SignalsToThePidActAsUnderPlainJava)
{
    struct Case {
        int signal;
        const char* outcome;
    };
    const Case cases[] = {
        {SIGINT, "hook ran, exit 7"},
        {SIGTERM, "hook ran, exit 7"},
        {SIGHUP, "hook ran, exit 7"},
        {SIGQUIT, "thread dump, hook ran, exit 7"},  // the dump, then SIGTERM ends it
        {SIGKILL, "signal 9"},
    };
    Installation installation;
    ASSERT_TRUE(install_tool(installation));
    for (const Case& c : cases) {
        for (bool through_launcher : {false, true}) {
            SCOPED_TRACE((through_launcher ? "launcher, signal " : "plain java, signal ") + std::to_string(c.signal));
            TempDir scratch;
            std::unique_ptr<BackgroundProgram> tool =
                start_waiting_tool(installation, through_launcher, scratch / "ready");
            EXPECT_EQ(tool->pid(), std::stoul(wait_for_file(scratch / "ready")));
            tool->send_signal(c.signal);
            if (c.signal == SIGQUIT) {
                for (int i = 0; i < 3000 && tool->out_so_far().find("Full thread dump") == std::string::npos; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                tool->terminate();
            }
            EXPECT_EQ(c.outcome, outcome_of(tool->wait()));
        }
    }
}

// An over-long command text reaches java in a file without a name: a launch
// killed with kill -9 leaves nothing in the temporary directory.
TEST(RealJava, KilledOverlongLaunchLeavesNothingInTheTemporaryDirectory)
{
    Installation installation;
    ASSERT_TRUE(install_tool(installation));
    TempDir temp, scratch;
    // A class path past the 128 KiB that Linux takes for one argument; java
    // skips the entries that do not exist.
    std::vector<std::string> args = {"--wrapper-verbose"};
    for (int i = 0; i < 2500; ++i)
        args.push_back("--wrapper-add-jar=" + scratch / ("not-there-" + std::string(60, 'j') + std::to_string(i) + ".jar"));
    std::unique_ptr<BackgroundProgram> tool =
        start_waiting_tool(installation, true, scratch / "ready", args, {{"TMPDIR", temp.path()}});
    wait_for_file(scratch / "ready");
    EXPECT_NE(std::string::npos, tool->out_so_far().find("an argument file carries it")) << "no argument file taken";
    tool->kill();
    EXPECT_EQ(9, tool->wait().signal);
    EXPECT_EQ(std::vector<std::string>{}, list_dir(temp.path()));
}
#endif

}  // namespace
