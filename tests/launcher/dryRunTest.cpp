// The launcher as installed, through its dry run: with --wrapper-verbose and
// --wrapper-disable-exec it prints the complete java command text, starts
// nothing and exits 0.
#include <gtest/gtest.h>

#include "launcherTestSupport.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

// Jars beside the launcher and one added by the user, sorted together, other
// files left out, no separator after the last jar; the added jar stays as
// given. On Windows the README's example, whatever the launcher's name.
TEST(InstalledLayout, TextIsExact)
{
    Installation installation({"b.jar", "a.jar", "notes.txt", "c.JAR"}, on_windows ? "C:\\Suite" : "",
                              on_windows ? "tool.exe" : "");
    const std::string extra = join("Lib", "extra.jar");
    RunResult result = installation.run(dry({"x", "--wrapper-add-jar=" + extra, "y"}));
    const std::string bin = installation.bin_dir();
    EXPECT_EQ(0, result.exit_code) << result.err;
    EXPECT_EQ("", result.err);
    EXPECT_EQ((on_windows ? "\"C:/suite/bin64\\jre64\\bin\\java.exe\" -cp \"C:/suite/bin64\\a.jar;C:/suite/bin64\\b.jar;"
                          : "\"" + bin + "/jre64/bin/java\" -cp \"" + bin + "/a.jar:" + bin + "/b.jar:") +
                  extra + "\" " + main_class_token + "\"x\" \"y\" \n",
              plain_newlines(result.out));
}

// Only what can be one class-path entry is a jar: a directory named so is
// none, and a name with the list separator would be two entries, the second
// relative to the current directory. Without another jar there is none.
TEST(InstalledLayout, OnlyWhatIsOneEntryCountsAsAJar)
{
    Installation installation({std::string("col") + (on_windows ? ";" : ":") + "on.jar"});
    make_dir(join(installation.bin_dir(), "d.jar"));
    RunResult result = installation.run(dry({"x"}));
    EXPECT_EQ(failure_exit_status(), result.exit_code);
    EXPECT_NE(std::string::npos, result.out.find("on.jar' is left out: its name holds the list separator")) << result.out;
    EXPECT_NE(std::string::npos, result.out.find("d.jar' is left out: it is not a regular file.")) << result.out;
    EXPECT_NE(std::string::npos, result.err.find("Error - no jar files found in '")) << result.err;
}

// The rest of the text after the Java executable, with the runtime named by
// an override (a plain override comes back exactly as written).
struct TailCase {
    std::vector<std::string> args;
    std::string options;  // the JVM options between the java executable and the class path
    std::string rest;     // what follows the quoted main class
};

TEST(DryRun, RendersOptionsAndArguments)
{
    const TailCase cases[] = {
        // options are taken wherever they stand and are never passed on
        {{"a", "--jvm-max-heap-size=2g", "b", "--jvm-init-heap-size=256m"}, " -Xms256m -Xmx2g", "\"a\" \"b\" "},
        {{"--wrapper-load-jvm-in-process=no", "--WRAPPER-VERBOSE"}, "",
         "\"--wrapper-load-jvm-in-process=no\" \"--WRAPPER-VERBOSE\" "},
        // a trailing --splash= is the launcher's; elsewhere it is the tool's
        {{"a", "--splash=3"}, "", "\"a\" "},
        {{"--splash=1", "a"}, "", "\"--splash=1\" \"a\" "},
        {{"--help"}, "", "\"--help\" "},
        // the in-process launch echoes the same text and loads nothing from
        // the (empty) runtime
        {{"--wrapper-load-jvm-in-process", "a"}, "", "\"a\" "},
        {{"--wrapper-add-jar"}, "", ""},
        {{"--wrapper-add-jar=tools.zip"}, "", ""},
    };
    TempDir jre;
    Installation installation;
    for (const TailCase& c : cases) {
        RunResult result = installation.run(dry(c.args), {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre.path()}});
        EXPECT_EQ(0, result.exit_code) << result.err;
        EXPECT_EQ("\"" + java_below(jre.path()) + "\"" + c.options + " " + installation.classpath_words() + " " +
                      main_class_token + c.rest + "\n",
                  plain_newlines(result.out))
            << "first argument: " << (c.args.empty() ? "(none)" : c.args[0]);
    }
}

TEST(DryRun, WithoutVerboseItPrintsNothing)
{
    Installation installation;
    RunResult result = installation.run({"--wrapper-disable-exec", "a"});
    EXPECT_EQ(0, result.exit_code);
    EXPECT_EQ("", result.out);
    EXPECT_EQ("", result.err);
}

// Where the launcher looks for the Java runtime.
TEST(RuntimeLocation, OverridesDecideTheJavaExecutable)
{
    Installation installation;
    TempDir other;
    // A wrapper variable's value is normalised whole, bin64 with it.
    const std::string own_bin = as_substituted(installation.bin_dir());
    const std::string other_bin = as_substituted(join(other.path(), "bin64"));
    struct Case {
        const char* what;
        std::vector<EnvVar> env;
        std::string jre;
    };
    const Case cases[] = {
        {"plain runtime override, no root at all",
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", other.path()}, unset("DRAVON_ROOTDIR")},
         other.path()},
        {"bin dir override wins over the root", {{"DRAVON_BINDIR_OVERRIDE", other.path()}},
         join(as_substituted(other.path()), "jre64")},
        {"root override wins over the root",
         {{"DRAVON_ROOTDIR_OVERRIDE", other.path()}, {"DRAVON_ROOTDIR", join(other.path(), "unused")}},
         join(other_bin, "jre64")},
        {"an empty runtime override counts as unset", {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", ""}}, join(own_bin, "jre64")},
        {"the launcher directory in the override",
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", join("NATIVE_WRAP_EXE_DIR", "jre")}},
         join(own_bin, "jre")},
        // each pass replaces a name once: the java path's second pass takes the second
        {"a name twice in the override",
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", join(join("NATIVE_WRAP_EXE_DIR", "jre"), "NATIVE_WRAP_EXE_DIR")}},
         join(join(own_bin, "jre"), own_bin)},
    };
    for (const Case& c : cases) {
        RunResult result = installation.run(dry({}), c.env);
        EXPECT_EQ(0, result.exit_code) << c.what << ": " << result.err;
        EXPECT_EQ("\"" + java_below(c.jre) + "\" " + installation.classpath_words() + " " + main_class_token + "\n",
                  plain_newlines(result.out))
            << c.what;
    }
}

// Without any root the launcher stops before it starts anything.
TEST(RuntimeLocation, UndefinedRootEndsTheLauncher)
{
    Installation installation;
    TempDir reports;
    const std::string report = reports / "report";
    struct Case {
        std::vector<EnvVar> env;
        const char* message;
    };
    const Case cases[] = {
        {{unset("DRAVON_ROOTDIR")}, "ERROR: DRAVON_ROOTDIR - Undefined variable\n"},
        // an environment variable DRAVON_BINDIR is not one of the launcher's
        {{unset("DRAVON_ROOTDIR"), {"DRAVON_BINDIR", installation.bin_dir()}},
         "ERROR: DRAVON_ROOTDIR - Undefined variable\n"},
        {{{"DRAVON_ROOTDIR", ""}}, "ERROR: DRAVON_BINDIR - Undefined variable\n"},
    };
    for (const Case& c : cases) {
        std::vector<EnvVar> env = c.env;
        env.push_back({"TEST_CHILD_REPORT", report});
        RunResult result = installation.run({"--wrapper-verbose", "a"}, env);
        EXPECT_EQ(failure_exit_status(), result.exit_code);
        EXPECT_EQ(c.message, plain_newlines(result.err));
        EXPECT_EQ("", result.out);
        EXPECT_FALSE(file_exists(report));
    }
}

}  // namespace
