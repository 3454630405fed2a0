// The in-process launch on Linux, against the machine's real JDK: the test
// launcher (every JVM under -Xcheck:jni) loads libjvm.so and runs the Java
// test tool inside its own process.
#include <gtest/gtest.h>

#include <locale.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "launcherTestSupport.h"

#ifdef BRUMLET_TEST_JDK_HOME
namespace {

using namespace launcher_testing;
using namespace testing_support;

const char in_process[] = "--wrapper-load-jvm-in-process";

// The test launcher installed with the JDK as its runtime and the splash
// image beside it; with the test tool's jar, or else a jar without classes.
struct JdkRun {
    bool with_tool;
    Installation installation{{with_tool ? tool_jar : "empty.jar"}, "", "", built_test_launcher()};
    TempDir scratch;
    std::string report = scratch / "report";
    std::string image = join(installation.bin_dir(), "splash.png");

    explicit JdkRun(bool tool = true) : with_tool(tool) { copy_file(join(own_dir(), "splash.png"), image); }

    RunResult run(std::vector<std::string> args, std::vector<EnvVar> env = {}, bool inside = true)
    {
        if (inside)
            args.insert(args.begin(), in_process);
        env.push_back({"TEST_CHILD_REPORT", report});
        if (std::none_of(env.begin(), env.end(), [](const EnvVar& var) { return var.name == "LC_ALL"; }))
            env.push_back({"LC_ALL", "C.UTF-8"});
        remove_tree(report);
        return installation.run(args, env);
    }
};

// -Xcheck:jni reports what it finds on standard error as warnings.
void expect_clean_jni(const RunResult& result)
{
    EXPECT_EQ(std::string::npos, result.err.find("WARNING")) << result.err;
}

TEST(InProcessJdk, ArgumentsReachMainAsInTheChildLaunch)
{
    std::vector<std::string> text = awkward_text_args;
    text.push_back("\xf0\x9f\x98\x80");  // outside the BMP: a surrogate pair
    // Invalid UTF-8: lone bytes, cut and overlong sequences, an encoded surrogate.
    const std::vector<std::string> invalid = {"\xff", "a\x80z", "\xc3", "\xe2\x82z", "\xe2\x82", "\xf0\x9f\x98",
                                              "\xed\xa0\x80", "\xed\xa0z", "\xc0\xaf", "\xe0\x80\x80", "\xf4\x90\x80\x80",
                                              "\xf8\x88\x80\x80\x80"};
    JdkRun jdk;
    struct Case {
        std::vector<std::string> args;
        const char* locale;  // java decodes by its character set: under C each byte past ASCII is U+FFFD
    };
    // Bytes that are not EUC-JP, or cut, among some that are.
    const std::vector<std::string> euc_jp = {"a\x80z", "\x80", "\xa4\xa2", "\xa4z", "\x8e\xb1", "\x8ez", "\xff\xff"};
    const Case cases[] = {{{}, "C.UTF-8"}, {text, "C.UTF-8"}, {invalid, "C.UTF-8"}, {text, "C"},
                          {euc_jp, "ja_JP.EUC-JP"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        // scripts/test.sh makes the locale where it is missing.
        locale_t known = newlocale(LC_CTYPE_MASK, c.locale, locale_t{});
        if (known == locale_t{}) {
            std::printf("skipped: no locale %s\n", c.locale);
            continue;
        }
        freelocale(known);
        const std::vector<std::string>& args = c.args;
        const std::vector<EnvVar> env = {{"LC_ALL", c.locale}};
        RunResult child = jdk.run(args, env, false);
        ChildReport by_child = read_child_report(jdk.report);
        RunResult inside = jdk.run(args, env);
        ChildReport by_main = read_child_report(jdk.report);
        EXPECT_EQ(0, inside.exit_code) << inside.out << inside.err;
        expect_clean_jni(inside);
        ASSERT_TRUE(by_child.found && by_main.found) << child.err << inside.err;
        EXPECT_EQ(by_child.args, by_main.args);
        EXPECT_EQ(args.size(), by_main.args.size());
    }
}

TEST(InProcessJdk, OutcomesOfMainAndOfTheJvm)
{
    struct Case {
        const char* what;
        bool with_tool;
        std::vector<std::string> args;
        std::vector<EnvVar> env;
        int status;
        std::string out_tail;
        std::string err_part;
    };
    const Case cases[] = {
        {"no class", false, {}, {}, 1, "", "Error: Could not find or load main class com.velkor.brumlet.Brumlet"},
        {"exception escapes main", true, {}, {{"TEST_TOOL_ACTION", "throw"}}, 1, "",
         "Exception in thread \"main\" java.lang.IllegalStateException: thrown out of main"},
        {"System.exit", true, {}, {{"TEST_CHILD_EXIT", "7"}}, 7, "", ""},
        {"non-daemon thread", true, {}, {{"TEST_TOOL_ACTION", "thread"}}, 0, "main returns\nthread finished\n", ""},
        {"deep recursion", true, {}, {{"TEST_TOOL_ACTION", "recurse"}}, 0, "StackOverflowError caught\n", ""},
        {"option the JVM rejects", true, {"--jvm-max-heap-size=abc"}, {}, failure_exit_status(),
         "\nJavaCommandLine: Unable to Launch JVM with JNI\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JdkRun jdk(c.with_tool);
        RunResult result = jdk.run(c.args, c.env);
        EXPECT_EQ(c.status, result.exit_code);
        // Not the very end: under -Xcheck:jni the JVM's periodic check may
        // still write to standard output while the process ends.
        EXPECT_NE(std::string::npos, result.out.find(c.out_tail)) << result.out;
        EXPECT_NE(std::string::npos, result.err.find(c.err_part)) << result.err;
        expect_clean_jni(result);
    }
}

// A wrapper variable may stand twice in the runtime's override: java and
// the JVM library are found in the same directory, by exec and in-process.
TEST(InProcessJdk, RuntimeNamedTwiceInTheOverride)
{
    JdkRun jdk;
    const std::string bin = jdk.installation.bin_dir();
    const std::filesystem::path jre = bin + "/jre" + bin;
    std::filesystem::create_directories(jre.parent_path());
    ASSERT_TRUE(make_symlink(test_jdk_home(), jre.string()));
    for (bool inside : {false, true}) {
        RunResult result = jdk.run({}, {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", "NATIVE_WRAP_EXE_DIR/jreNATIVE_WRAP_EXE_DIR"}}, inside);
        EXPECT_EQ(0, result.exit_code) << (inside ? "in-process: " : "by exec: ") << result.err;
    }
}

TEST(InProcessJdk, HeapSizesTakeEffect)
{
    JdkRun jdk;
    RunResult result = jdk.run({"--jvm-init-heap-size=16m", "--jvm-max-heap-size=64m"}, {{"TEST_TOOL_ACTION", "heap"}});
    ASSERT_EQ(0, result.exit_code) << result.err;
    long long init = 0, max = 0;
    ASSERT_EQ(2, std::sscanf(result.out.c_str(), "heap:%lld %lld", &init, &max)) << result.out;
    const long long mib = 1024 * 1024;
    EXPECT_EQ(16 * mib, init);
    EXPECT_LE(max, 64 * mib);
    EXPECT_GT(max, 48 * mib);
}

TEST(InProcessJdk, RuntimeWithoutJvmLibrary)
{
    JdkRun jdk;
    TempDir empty_jre;
    RunResult result = jdk.run({}, {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", empty_jre.path()}});
    EXPECT_EQ(failure_exit_status(), result.exit_code);
    EXPECT_EQ("", result.out);
    const std::string library = empty_jre.path() + "/lib/server/libjvm.so";
    // The loader's own words follow.
    EXPECT_EQ("Cannot load library: '" + library + "'\n" + library +
                  ": cannot open shared object file: No such file or directory\n",
              result.err);
}

TEST(InProcessJdk, SplashIsShownWithTheImageAsItsName)
{
    std::string display;
    if (!get_env("DISPLAY", display))
        GTEST_SKIP() << "needs an X display (scripts/test.sh runs the tests under Xvfb)";
    JdkRun jdk;
    // Up while main runs, closed once main has returned.
    for (const char* action : {"splash", "splash-later"}) {
        RunResult result = jdk.run({}, {{"BRUMLET_TEST_PROFILE", "splash"}, {"TEST_TOOL_ACTION", action},
                                        {"TEST_TOOL_SLEEP_MS", "300"}});
        EXPECT_EQ(0, result.exit_code) << result.err;
        EXPECT_EQ(std::string(action) == "splash" ? "splash:true file:" + jdk.image + "\n" : "splash:none\n",
                  result.out);
        expect_clean_jni(result);
    }
}

TEST(InProcessJdk, RuntimeWithoutSplashLibraryStillRunsTheTool)
{
    JdkRun jdk;
    // Only the JVM library: the JVM finds the rest of the JDK from its real path.
    const std::string jre = jdk.scratch / "jre";
    make_dir(jre);
    make_dir(join(jre, "lib"));
    ASSERT_TRUE(make_symlink(join(test_jdk_home(), "lib/server"), join(jre, "lib/server")));
    RunResult result = jdk.run({"x"}, {{"BRUMLET_TEST_PROFILE", "splash"}, {"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre}});
    EXPECT_EQ(0, result.exit_code) << result.err;
    EXPECT_EQ("Could not load splash screen: " + jdk.image + "\n", result.out);
    EXPECT_TRUE(read_child_report(jdk.report).found);
}

// Frames of main's thread that the launcher may take beyond java's own: its
// code built with the sanitizers has larger frames.
const long depth_slack = launcher_is_sanitized ? 200 : 0;

// The depth the test tool's recursion reached, from its "depth:N" line.
long recursion_depth(const std::string& out)
{
    std::size_t at = out.find("depth:");
    return at == std::string::npos ? 0 : std::atol(out.c_str() + at + 6);
}

// What java itself does beyond the options it is given, side by side with
// plain java: the environment's options first (and a note of them), java's
// own launcher options and argument files there and what it refuses there,
// the launch's own properties, the stack of main's thread, an escaping
// exception handed to the tool's handler, and an option the JVM does not
// know refused rather than ignored.
TEST(InProcessJdk, BehavesAsPlainJava)
{
    JdkRun jdk;
    const std::string jar = join(jdk.installation.bin_dir(), tool_jar);
    const std::string args_file = jdk.scratch / "args", refused_file = jdk.scratch / "refused";
    write_file(args_file, "-Dx=\"a\\tb\\\\c \\\n   d\"#e\n-Dy=1 # note\n");
    write_file(refused_file, "-version\n");
    const EnvVar properties = {"TEST_TOOL_ACTION", "properties"};
    struct Case {
        const char* what;
        std::vector<EnvVar> env;
        const char* main_class = "Brumlet";  // of com.velkor.brumlet
        bool by_depth = false;  // compares only the recursion's depth
    };
    const Case cases[] = {
        {"properties and JDK_JAVA_OPTIONS", {properties, {"JDK_JAVA_OPTIONS", "-Dx=\"a b\" '-Dy=1'\t-Xss1m\v-Dz"}}},
        {"the tool's uncaught-exception handler", {{"TEST_TOOL_ACTION", "handled-throw"}}},
        {"an unknown option", {{"JDK_JAVA_OPTIONS", "-Xfoo"}}},
        {"an empty JDK_JAVA_OPTIONS, noted", {{"JDK_JAVA_OPTIONS", ""}}},
        {"launcher options",
         {properties,
          {"JDK_JAVA_OPTIONS", "--add-opens java.base/java.lang=ALL-UNNAMED --add-modules java.sql --add-exports "
                               "java.base/sun.nio.ch=ALL-UNNAMED --add-reads java.sql=ALL-UNNAMED --patch-module "
                               "java.sql=/none -p /none --upgrade-module-path /none -cp /none -server -client -Xdiag "
                               "-splash:/none.png"}}},
        {"-showversion", {properties, {"JDK_JAVA_OPTIONS", "-showversion"}}},
        {"--show-version", {properties, {"JDK_JAVA_OPTIONS", "--show-version"}}},
        // Translated by every java, with warnings from Java 25 on.
        {"old spellings",
         {{"JDK_JAVA_OPTIONS", "-noclassgc -verify -verifyremote -noverify -debug -ss512k -ms16m -mx64m"}}},
        // Known to Java 17's java only; from Java 25 on the JVM refuses them.
        {"-cs", {{"JDK_JAVA_OPTIONS", "-cs -checksource -noasyncgc"}}},
        {"-t", {{"JDK_JAVA_OPTIONS", "-t"}}},
        {"-tm", {{"JDK_JAVA_OPTIONS", "-tm"}}},
        {"-oss", {{"JDK_JAVA_OPTIONS", "-oss512k"}}},
        {"-Xfuture", {{"JDK_JAVA_OPTIONS", "-Xfuture"}}},
        {"-XshowSettings", {{"JDK_JAVA_OPTIONS", "-XshowSettings:vm -Xmx64m"}}},
        {"--list-modules", {properties, {"JDK_JAVA_OPTIONS", "--list-modules"}}},
        {"--describe-module", {properties, {"JDK_JAVA_OPTIONS", "--describe-module java.logging"}}},
        {"--validate-modules", {properties, {"JDK_JAVA_OPTIONS", "--validate-modules"}}},
        {"an option that ends java's options", {{"JDK_JAVA_OPTIONS", "-Dy=1 -version"}}},
        {"an option without its value", {{"JDK_JAVA_OPTIONS", "--add-opens -Dy=1"}}},
        {"a main class", {{"JDK_JAVA_OPTIONS", "-Dy=1 Main"}}},
        {"an unmatched quote", {{"JDK_JAVA_OPTIONS", "\"-Dx=a"}}},
        {"an argument file", {properties, {"JDK_JAVA_OPTIONS", "@" + args_file}}},
        {"an argument file that is missing", {{"JDK_JAVA_OPTIONS", "@" + args_file + "-none"}}},
        {"an argument file that is a directory", {{"JDK_JAVA_OPTIONS", "@" + jdk.scratch.path()}}},
        {"an argument file with a refused option", {{"JDK_JAVA_OPTIONS", "@" + refused_file}}},
        // Which main java runs, and what it says where it finds none.
        {"a static main()", {}, "OnlyMain"},
        {"an instance main", {}, "InstanceMain"},
        {"an instance main()", {}, "InstanceMainWithoutArgs"},
        {"no main", {}, "NoMain"},
        {"no main class", {}, "Missing"},
        // Below java's floor for main's thread: the JVM refuses the size
        // before it could overflow the thread.
        {"a stack below java's least", {{"JDK_JAVA_OPTIONS", "-Xss16k"}}},
        // The interpreter's frames keep the depth steady from run to run.
        {"a small stack", {{"TEST_TOOL_ACTION", "recurse"}, {"JDK_JAVA_OPTIONS", "-Xint -Xss512k"}}, "Brumlet", true},
        {"a large stack", {{"TEST_TOOL_ACTION", "recurse"}, {"JDK_JAVA_OPTIONS", "-Xint -Xss64m"}}, "Brumlet", true},
        {"the default stack", {{"TEST_TOOL_ACTION", "recurse"}, {"JDK_JAVA_OPTIONS", "-Xint"}}, "Brumlet", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<EnvVar> env = c.env;
        env.push_back({"LC_ALL", "C.UTF-8"});
        const std::string main_class = std::string("com.velkor.brumlet.") + c.main_class;
        // The test launcher's JVM options hold -Xcheck:jni: so do java's.
        RunResult plain = run_program(
            {std::string(test_jdk_home()) + "/bin/java", "-Xcheck:jni", "-cp", jar, main_class, "a", "b c"}, env);
        env.push_back({"BRUMLET_TEST_PROFILE", "main=" + main_class});
        RunResult inside = jdk.run({"a", "b c"}, env);
        // A JVM that cannot be created: java says 1, the launcher -1 after its line.
        const bool created = plain.err.find("Error: Could not create the Java Virtual Machine") == std::string::npos;
        EXPECT_EQ(created ? plain.exit_code : failure_exit_status(), inside.exit_code) << inside.err;
        if (c.by_depth) {
            // Never less deep than under java, whose thread's own frames
            // take a little more of the stack than the launcher's.
            const long depth = recursion_depth(plain.out), inside_depth = recursion_depth(inside.out);
            EXPECT_TRUE(depth > 0 && inside_depth >= depth - depth_slack && inside_depth <= depth + 8)
                << "java " << depth << ", in-process " << inside_depth;
            continue;
        }
        EXPECT_EQ(plain.out, created ? inside.out : inside.out.substr(0, plain.out.size()));
        // The JVM's own words, before those of java's launcher.
        const std::string plain_err = plain.err.substr(0, plain.err.find("Error: Could not create"));
        EXPECT_EQ(plain_err, inside.err.substr(0, plain_err.size()));
    }
}

// jps names the launch as it names java's.
TEST(InProcessJdk, JpsNamesTheMainClass)
{
    JdkRun jdk;
    TempDir scratch;
    std::unique_ptr<BackgroundProgram> launcher = jdk.installation.start(
        {in_process}, {{"TEST_CHILD_READY", scratch / "ready"}, {"TEST_CHILD_SLEEP_MS", "20000"},
                       {"TEST_CHILD_HOOK", "hook"}});
    const std::string pid = wait_for_file(scratch / "ready");
    RunResult jps = run_program({std::string(test_jdk_home()) + "/bin/jps", "-l"});
    EXPECT_NE(std::string::npos, jps.out.find(pid + " com.velkor.brumlet.Brumlet\n")) << jps.out;
    launcher->kill();
}

// The echo to an output without reader is lost; the JVM inside still runs
// the tool (the same case of the child launch: UnsafeInput).
TEST(InProcessJdk, OutputWithoutReaderStopsNeitherLauncherNorTool)
{
    JdkRun jdk;
    std::vector<EnvVar> env = clean_launcher_env();
    env.push_back({"DRAVON_ROOTDIR", jdk.installation.root()});
    env.push_back({"TEST_CHILD_EXIT", "3"});
    RunResult inside =
        run_with_output_reader_gone({jdk.installation.launcher(), "--wrapper-verbose", in_process}, env);
    EXPECT_EQ(3, inside.exit_code) << inside.err;
}

}  // namespace
#endif
