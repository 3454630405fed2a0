// Inputs that must not make the launcher run what the user did not ask for,
// or fail without saying why: a JVM option value stays one word, no jar
// means no launch, a failed start names its reason, and an output without a
// reader stops neither the launcher nor the tool. Where plain java (or the
// stand-in java run directly) is the yardstick, each row runs it too.
#include <gtest/gtest.h>

#include "launcherTestSupport.h"
#include "os/error.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

const char in_process[] = "--wrapper-load-jvm-in-process";

// A heap value with a space, a quote or a whole command line in it is one
// word for the JVM, which refuses it as a size: the tool never runs.
TEST(UnsafeInput, HeapValueIsOneJvmOptionWord)
{
    Installation installation;
    TempDir scratch;
    const std::string report = scratch / "report";
    const std::string jar = join(installation.bin_dir(), tool_jar);
    const std::vector<std::string> values = {
        "64m -Dx=y", "64m -cp " + jar + " com.velkor.brumlet.Brumlet args INJECTED", "64m\"", "64m -Dx=\"a b\"",
        "64m -javaagent:" + jar, "64m\t-Dinjected=1"};
    for (const std::string& value : values) {
        SCOPED_TRACE(value);
        const std::string heap = "--jvm-max-heap-size=" + value;
        if (on_windows) {
            // The stand-in java.exe reports the words it was given.
            RunResult result = installation.run({heap, "A", "B"}, {{"TEST_CHILD_REPORT", report}});
            EXPECT_EQ(0, result.exit_code) << result.err;
            ChildReport seen = read_child_report(report);
            ASSERT_TRUE(seen.found) << result.err;
            EXPECT_EQ((std::vector<std::string>{"-Xmx" + value, "-cp", as_substituted(installation.bin_dir()) + "\\" +
                                                tool_jar, "com.velkor.brumlet.Brumlet", "A", "B"}),
                      seen.args);
            continue;
        }
#ifdef BRUMLET_TEST_JDK_HOME
        const std::string refusal = "Invalid maximum heap size: -Xmx" + value + "\n";
        RunResult plain = run_program({std::string(test_jdk_home()) + "/bin/java", "-Xmx" + value, "-cp", jar,
                                       "com.velkor.brumlet.Brumlet", "A", "B"});
        ASSERT_EQ(0u, plain.err.find(refusal)) << plain.err;
        for (bool inside : {false, true}) {
            std::vector<std::string> args = {heap, "A", "B"};
            if (inside)
                args.insert(args.begin(), in_process);
            RunResult result = installation.run(args, {{"TEST_CHILD_REPORT", report}});
            EXPECT_EQ(inside ? failure_exit_status() : plain.exit_code, result.exit_code) << result.err;
            EXPECT_NE(std::string::npos, (result.out + result.err).find(refusal)) << result.out << result.err;
            EXPECT_FALSE(file_exists(report));
        }
#endif
    }
}

// Without a jar java would take its classes from CLASSPATH or the current
// directory: a class planted there must never run, in either mode.
TEST(UnsafeInput, NoJarNoLaunch)
{
    Installation installation(std::vector<std::string>{});
    TempDir planted, scratch;
    const std::string report = scratch / "report";
    make_dir(planted / "com");
    make_dir(join(planted / "com", "velkor"));
    const std::string package_dir = join(join(planted / "com", "velkor"), "brumlet");
    make_dir(package_dir);
    if (on_windows) {
        write_file(join(package_dir, "Brumlet.class"), "");
    } else {
#ifdef BRUMLET_TEST_JDK_HOME
        // The test tool's own class, which would write the report.
        ASSERT_EQ(0, run_program({std::string(test_jdk_home()) + "/bin/jar", "xf",
                                  join(own_dir(), tool_jar)}, {}, planted.path())
                         .exit_code);
        ASSERT_TRUE(file_exists(join(package_dir, "Brumlet.class")));
#endif
    }
    const std::string message = "Error - no jar files found in '" + as_substituted(installation.bin_dir()) + "'.\n";
    struct Case {
        std::vector<std::string> args;
        std::vector<EnvVar> env;
    };
    const Case cases[] = {
        {{"a"}, {}},
        {{in_process, "a"}, {}},
        {{"a"}, {{"CLASSPATH", planted.path()}}},
        {{in_process, "a"}, {{"CLASSPATH", planted.path()}}},
        {dry({"a"}), {}},
        {{"--wrapper-add-jar=not-a-jar.zip", "a"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + (c.env.empty() ? "" : " with CLASSPATH"));
        std::vector<EnvVar> env = c.env;
        env.push_back({"TEST_CHILD_REPORT", report});
        RunResult result = installation.run(c.args, env, planted.path());
        EXPECT_EQ(failure_exit_status(), result.exit_code);
        EXPECT_EQ(message, plain_newlines(result.err));
        EXPECT_EQ("", result.out);
        EXPECT_FALSE(file_exists(report));
    }
}

// The message that names what failed, and on the next line the OS's reason.
TEST(UnsafeInput, FailedStartsSayWhy)
{
    Installation installation;
    struct Case {
        const char* what;
        void (*make)(const std::string& jre);  // the runtime directory as this case has it
        bool inside;
        int error;           // the OS's error, whose text is the line after the message
        std::string reason;  // or this line; "@" stands for the library's path
    };
    auto missing = [](const std::string& jre) { make_dir(jre); };
    auto directory = [](const std::string& jre) {
        make_dir(jre);
        make_dir(join(jre, "bin"));
        make_dir(java_below(jre));
    };
    auto not_a_program = [](const std::string& jre) {
        make_dir(jre);
        make_dir(join(jre, "bin"));
        write_file(java_below(jre), "not a program\n");
    };
    // ERROR_FILE_NOT_FOUND and ENOENT; ERROR_ACCESS_DENIED and EACCES;
    // ERROR_BAD_EXE_FORMAT and EACCES.
    std::vector<Case> cases = {
        {"java missing", missing, false, 2, ""},
        {"java a directory", directory, false, on_windows ? 5 : 13, ""},
        {"java not a program", not_a_program, false, on_windows ? 193 : 13, ""},
    };
    if (!on_windows) {
        // In-process on Windows: the runtime doubles' table.
        cases.push_back({"libjvm.so not a library", [](const std::string& jre) {
                             make_dir(jre);
                             make_dir(join(jre, "lib"));
                             make_dir(join(join(jre, "lib"), "server"));
                             write_file(join(jre, "lib/server/libjvm.so"), "not a library\n");
                         },
                         true, 0, "@: file too short"});
        cases.push_back({"libjvm.so without JNI_CreateJavaVM", [](const std::string& jre) {
                             make_dir(jre);
                             make_dir(join(jre, "lib"));
                             make_dir(join(join(jre, "lib"), "server"));
                             copy_file("/lib/x86_64-linux-gnu/libm.so.6", join(jre, "lib/server/libjvm.so"));
                         },
                         true, 0, "The library '@' does not export it."});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir scratch;
        const std::string jre = scratch / "jre";
        c.make(jre);
        std::vector<std::string> args = {"--wrapper-verbose", "a b"};
        if (c.inside)
            args.insert(args.begin(), in_process);
        RunResult result = installation.run(args, {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre}});
        EXPECT_EQ(failure_exit_status(), result.exit_code);
        const std::string err = plain_newlines(result.err);
        const std::string library = join(join(join(jre, "lib"), "server"), "libjvm.so");
        std::string reason = c.error != 0 ? os::error_text(c.error, java_below(jre)) : c.reason;
        if (reason.find('@') != std::string::npos)
            reason.replace(reason.find('@'), 1, library);
        if (c.inside) {
            EXPECT_EQ(reason, err.substr(err.find('\n') + 1, err.size() - err.find('\n') - 2)) << err;
        } else {
            EXPECT_EQ("Error - failed to launch '" + first_line(result.out) + "'.\n" + reason + "\n", err);
        }
    }
}

// A caller that stops reading (a pipe into head, a closed IDE console): the
// echo is lost, the tool still runs with the status and the signal
// dispositions it has when the stand-in java runs directly.
TEST(UnsafeInput, OutputWithoutReaderStopsNeitherLauncherNorTool)
{
    Installation installation;
    TempDir scratch;
    const std::string jre = scratch / "jre";
    const std::string report = scratch / "report";
    make_fake_runtime(jre);
    struct Case {
        const char* what;
        std::vector<EnvVar> env;
    };
    const Case cases[] = {
        {"the tool writes nothing", {{"TEST_CHILD_EXIT", "3"}}},
        // on POSIX the stand-in dies of SIGPIPE, as it does when run directly
        {"the tool writes too", {{"TEST_CHILD_EXIT", "3"}, {"TEST_CHILD_STDOUT_HEX", to_hex("out\n")}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<EnvVar> env = clean_launcher_env();
        env.insert(env.end(), c.env.begin(), c.env.end());
        env.push_back({"TEST_CHILD_REPORT", report});
        RunResult direct = run_with_output_reader_gone({java_below(jre)}, env);
        ASSERT_TRUE(file_exists(report));
        remove_tree(report);
        env.push_back({"DRAVON_ROOTDIR", installation.root()});
        env.push_back({"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre});
        RunResult launched = run_with_output_reader_gone({installation.launcher(), "--wrapper-verbose"}, env);
        EXPECT_EQ(direct.exit_code, launched.exit_code) << launched.err;
        EXPECT_TRUE(file_exists(report));
        remove_tree(report);
        // A dry run's echo is all it does: lost, the run fails and says why.
        RunResult dry = run_with_output_reader_gone(
            {installation.launcher(), "--wrapper-verbose", "--wrapper-disable-exec"}, env);
        EXPECT_EQ(failure_exit_status(), dry.exit_code);
        EXPECT_NE(std::string::npos, dry.err.find("Error - the verbose output could not be written: ")) << dry.err;
    }
}

}  // namespace
