#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "javaCommandLine.h"
#include "launch/commandText.h"
#include "os/error.h"
#include "os/platform.h"
#include "os/text.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace unit_helpers;

const char main_class[] = "com.velkor.brumlet.Brumlet";

// Hands `args` to the constructor, as the launcher does with its argv.
std::unique_ptr<JavaCommandLine> make_java(const std::vector<std::string>& words)
{
    Args args(words);
    return std::make_unique<JavaCommandLine>(main_class, args.argc(), args.argv());
}

struct JavaArgCase {
    std::vector<std::string> given;
    std::vector<std::string> tool_args;
    std::vector<std::string> jars;
    bool in_process;
    bool re_exec;
};

TEST(JavaCommandLineArgs, LaunchOptionsAreConsumedAndOthersKeptInOrder)
{
    const std::vector<std::string> look_alikes = {
        "--jvm-init-heap-size", "--jvm-max-heap-size", "--JVM-MAX-HEAP-SIZE=1g", "--Wrapper-Load-Jvm-In-Process",
        "--re-exec-jni-with-env=1", "--wrapper-load-jvm-in-process2", "--wrapper-add-ja=x.jar"};
    const std::string long_jar = std::string(300, 'd') + "/x.jar";
    const std::vector<std::string> user_jars = {"--wrapper-add-jar=tools.zip", "--wrapper-add-jar=a.JAR",
                                                "--wrapper-add-jar=", "--wrapper-add-jar=" + long_jar,
                                                R"(--wrapper-add-jar=C:\t\a.jar)"};
    const JavaArgCase cases[] = {
        {{"a", "--wrapper-load-jvm-in-process", "b", "--re-exec-jni-with-env", "c"}, {"a", "b", "c"}, {}, true, true},
        {{"--wrapper-add-jar", "x"}, {"x"}, {}, false, false},
        {{"--wrapper-add-jars=x.jar"}, {}, {"x.jar"}, false, false},
        {{"--wrapper-add-jar=y.jar", "t", "--wrapper-add-jar=a=b.jar"}, {"t"}, {"a=b.jar", "y.jar"}, false, false},
        {{"--jvm-max-heap-size=2g", "u", "--jvm-init-heap-size="}, {"u"}, {}, false, false},  // sizes: JavaCommandLineHeap
        {{"--wrapper-verbose", "--wrapper-disable-exec", "t"}, {"t"}, {}, false, false},
        {look_alikes, look_alikes, {}, false, false},
        // user jars stay as given (one too long for path conversion too); only *.jar counts, and
        // only one entry: on POSIX the drive's colon would split the path in two
        {user_jars, {}, testing_support::on_windows ? std::vector<std::string>{R"(C:\t\a.jar)", long_jar} : std::vector<std::string>{long_jar},
         false, false},
    };
    for (const JavaArgCase& c : cases) {
        std::unique_ptr<JavaCommandLine> java = make_java(c.given);
        SCOPED_TRACE(java->build_command_text());
        EXPECT_EQ(c.tool_args, args_of(*java));
        EXPECT_EQ(classpath_of(c.jars), java->get_classpath());
        EXPECT_EQ(c.in_process, java->get_load_jvm_in_process());
        EXPECT_EQ(c.re_exec, java->get_re_exec_jni_with_env());
    }
}

using Words = std::vector<std::string>;

struct HeapCase {
    std::vector<std::string> given;
    Words options;
    Words merged;
    const char* rendered;  // the options as the command text writes them
};

// A heap value is one option word, whatever it holds: it can neither add an
// option nor swallow the words after it.
TEST(JavaCommandLineHeap, UserSizesReplaceOrJoinTheOptionsOnceAsWholeWords)
{
    const HeapCase cases[] = {
        {{"--jvm-max-heap-size=4g"}, {"-Xmx1g", "-Dx=1"}, {"-Xmx4g", "-Dx=1"}, "-Xmx4g -Dx=1 "},
        {{"--jvm-init-heap-size=1g", "--jvm-max-heap-size=2g", "--jvm-init-heap-size=3g"}, {}, {"-Xms3g", "-Xmx2g"},
         "-Xms3g -Xmx2g "},
        {{"--jvm-init-heap-size=512m", "--jvm-init-heap-size="}, {"-Dx=1"}, {"-Dx=1"}, "-Dx=1 "},
        {{"--jvm-max-heap-size=2g"}, {"-Da=1", "-Xmx1g", "-Db=2"}, {"-Da=1", "-Xmx2g", "-Db=2"}, "-Da=1 -Xmx2g -Db=2 "},
        // only a word that starts with the prefix is replaced
        {{"--jvm-init-heap-size=64m"}, {"-Dx=-Xms1g"}, {"-Dx=-Xms1g", "-Xms64m"}, "-Dx=-Xms1g -Xms64m "},
        {{}, {"-Xmx1g"}, {"-Xmx1g"}, "-Xmx1g "},
        {{}, {}, {}, ""},  // no options and no jars: neither is written
        {{"--jvm-max-heap-size=64m -Dx=y"}, {}, {"-Xmx64m -Dx=y"}, "\"-Xmx64m -Dx=y\" "},
        {{"--jvm-max-heap-size=64m\""}, {}, {"-Xmx64m\""}, "\"-Xmx64m\\\"\" "},
        {{"--jvm-init-heap-size=1m\t-Dx=\"a b\"\\"}, {}, {"-Xms1m\t-Dx=\"a b\"\\"},
         "\"-Xms1m\t-Dx=\\\"a b\\\"\\\\\" "},
        {{}, {""}, {""}, "\"\" "},
        {{"--jvm-max-heap-size=64m\t-Dinjected=1"}, {}, {"-Xmx64m\t-Dinjected=1"}, "\"-Xmx64m\t-Dinjected=1\" "},
    };
    for (const HeapCase& c : cases) {
        std::unique_ptr<JavaCommandLine> java = make_java(c.given);
        java->set_jvm_options(c.options);
        SCOPED_TRACE(c.rendered);
        java->apply_heap_sizes();
        EXPECT_EQ(c.merged, java->get_jvm_options());
        java->apply_heap_sizes();
        EXPECT_EQ(c.merged, java->get_jvm_options());
        const std::string text = java->build_command_text();
        EXPECT_EQ(text, java->build_command_text());
        EXPECT_EQ(std::string("\"java\" ") + c.rendered + "\"" + main_class + "\" ", text);
        // Read back as the child reads its command line, each option is one word.
        std::vector<std::string> words = split_command_text(text, os::facts.program_token);
        EXPECT_EQ(c.merged, Words(words.begin() + 1, words.begin() + 1 + c.merged.size()));
    }
}

// The class path sorts by unsigned bytes: upper case first, a prefix before
// the longer name, bytes past ASCII last.
TEST(JavaCommandLineText, RendersJavaOptionsSortedClassPathMainClassAndArgs)
{
    std::unique_ptr<JavaCommandLine> java = make_java({"x"});
    java->set_java_path(R"(C:\j\bin\java.exe)");
    java->set_jvm_options({"-Xmx2g"});
    for (const char* jar : {"b.jar", "\xe9.jar", "A.jar", "z.jar", "a.jarz.jar", "a.jar"})
        java->add_wrapper_jar(jar);
    EXPECT_EQ(R"("C:\j\bin\java.exe" -Xmx2g -cp ")" +
                  classpath_of({"A.jar", "a.jar", "a.jarz.jar", "b.jar", "z.jar", "\xe9.jar"}) +
                  R"(" "com.velkor.brumlet.Brumlet" "x" )",
              java->build_command_text());
}

// The command text reaches the program in the Java path as the argv that a
// Java launcher would see.
TEST(JavaCommandLineLaunch, RunsTheJavaPathWithTheRenderedArguments)
{
    testing_support::TempDir dir;
    const std::string report_path = dir / "report";
    testing_support::ScopedEnv report("TEST_CHILD_REPORT", report_path);
    testing_support::ScopedEnv exit_code("TEST_CHILD_EXIT", "5");
    const std::string child = program_beside_tests("test_child");
    std::unique_ptr<JavaCommandLine> java = make_java({"--jvm-max-heap-size=1g", "a b", "--wrapper-add-jar=l.jar"});
    java->set_java_path(child.c_str());
    java->set_jvm_options({"-Dx=1"});
    expect_run_ends_with(*java, 5);
    testing_support::ChildReport seen = testing_support::read_child_report(report_path);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ((std::vector<std::string>{"-Dx=1", "-Xmx1g", "-cp", "l.jar", main_class,
                                        "a b"}),
              seen.args);
}

}  // namespace

// The words that name paths java.exe opens go by short names where the code
// page lacks a character of theirs (a new file: its directory's short name
// and its own); other words show '?' for it. A path without such a name
// ends the launch before anything is echoed or started.
TEST(JavaCommandLineLaunch, PathsThatJavaOpensGoByShortNames)
{
    if (!testing_support::on_windows)
        GTEST_SKIP() << "java opens any path on POSIX";
    testing_support::TempDir dir;
    const std::string odd = dir / "\xc5\x81\xc3\xb3" "d\xc5\xba";
    testing_support::make_dir(odd);
    testing_support::write_file(testing_support::join(odd, "l.jar"), "");
    std::string short_dir = odd;
    ASSERT_TRUE(os::path_for_child(short_dir));
    ASSERT_TRUE(short_dir != odd && os::is_directory(short_dir.c_str())) << short_dir;
    for (const std::string jar : {"l.jar", "\xc5\x82.jar"}) {
        std::unique_ptr<JavaCommandLine> java = make_java(
            {"--wrapper-verbose", "--wrapper-disable-exec", "--wrapper-add-jar=" + odd + "\\" + jar, "\xc5\x82"});
        java->set_java_path((odd + "\\java.exe").c_str());
        java->set_jvm_options({"-splash:" + odd + "\\s.png", "-XX:SharedArchiveFile=" + odd + "\\a.jsa", "-Dx=\xc5\x82"});
        ScratchStream out, err;
        java->set_streams(out.get(), err.get());
        if (jar == "l.jar") {
            EXPECT_EQ(0, java->run());
            EXPECT_EQ("\"" + short_dir + "\\java.exe\" -splash:" + short_dir + "\\s.png -XX:SharedArchiveFile=" +
                          short_dir + "\\a.jsa -Dx=? -cp \"" + short_dir + "\\l.jar\" \"" + main_class + "\" \"?\" \n",
                      out.text());
            continue;
        }
        EXPECT_EQ(-1, java->run());
        EXPECT_EQ("", out.text());
        // Written to a file, the message is in the code page too.
        EXPECT_EQ("Error - java cannot open '" + dir.path() + "\\?\xf3" "d?\\?.jar': the path holds characters outside "
                  "the system's code page, and the volume gives it no short name.\n",
                  err.text());
    }
}

// Without a jar java would choose the classes itself: nothing is echoed or
// started, also in a dry run, and the message names what was searched.
TEST(JavaCommandLineLaunch, WithoutJarsNothingRuns)
{
    testing_support::TempDir empty, report_dir;
    testing_support::ScopedEnv report("TEST_CHILD_REPORT", report_dir / "report");
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> dirs;
        std::string message;
    };
    const Case cases[] = {
        {{"a"}, {}, "Error - no jar files found.\n"},
        {{"--wrapper-verbose", "--wrapper-disable-exec"}, {empty.path()},
         "Error - no jar files found in '" + empty.path() + "'.\n"},
        // and why a directory could not be read
        {{"--wrapper-load-jvm-in-process"}, {empty.path(), empty / "missing"},
         "Error - no jar files found in '" + empty.path() + "', '" + (empty / "missing") + "'.\n" +
             os::error_text(testing_support::on_windows ? 3 : ENOENT) + "\n"},  // ERROR_PATH_NOT_FOUND
    };
    for (const Case& c : cases) {
        std::unique_ptr<JavaCommandLine> java = make_java(c.args);
        java->set_java_path(program_beside_tests("test_child").c_str());
        for (const std::string& dir : c.dirs)
            java->add_classpath_jars_from_dir(dir.c_str());
        ScratchStream out, err;
        java->set_streams(out.get(), err.get());
        EXPECT_EQ(-1, java->run());
        EXPECT_EQ("", out.text());
        EXPECT_EQ(c.message, err.text());
        EXPECT_FALSE(testing_support::file_exists(report_dir / "report"));
    }
}
