// The launcher as installed, through its dry run: with --wrapper-verbose and
// --wrapper-disable-exec it prints the complete java command text, starts
// nothing and exits 0.
#include <gtest/gtest.h>

#include "launcherTestSupport.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

#ifdef _WIN32
TEST(InstalledLayout, WindowsExampleTextIsExact)
{
    Installation installation({"a.jar", "b.jar"}, "C:\\Suite", "tool.exe");
    RunResult result = installation.run(dry({"x", "y"}), {{"DRAVON_ROOTDIR", "C:\\Suite"}});
    EXPECT_EQ(0, result.exit_code) << result.err;
    EXPECT_EQ("", result.err);
    EXPECT_EQ("\"C:/suite/bin64\\jre64\\bin\\java.exe\" -cp \"C:/suite/bin64\\a.jar;C:/suite/bin64\\b.jar\" "
              "\"com.velkor.brumlet.Brumlet\" \"x\" \"y\" \n",
              plain_newlines(result.out));
}
#else
TEST(InstalledLayout, LinuxTextIsExact)
{
    Installation installation({"b.jar", "a.jar", "notes.txt", "c.JAR"});
    RunResult result = installation.run(dry({"x", "y"}));
    const std::string bin = installation.bin_dir();
    EXPECT_EQ(0, result.exit_code) << result.err;
    EXPECT_EQ("", result.err);
    EXPECT_EQ("\"" + bin + "/jre64/bin/java\" -cp \"" + bin + "/a.jar:" + bin + "/b.jar\" " + main_class_token +
                  "\"x\" \"y\" \n",
              result.out);
}
#endif

// The rest of the text after the Java executable, with the runtime named by
// an override (a plain override comes back exactly as written).
struct TailCase {
    std::vector<std::string> args;
    std::string tail;  // what follows the quoted java executable
};

TEST(DryRun, RendersOptionsAndArguments)
{
    const TailCase cases[] = {
        {{}, " " + main_class_token},
        {{"a", "b c"}, " " + main_class_token + "\"a\" \"b c\" "},
        {{""}, " " + main_class_token + "\"\" "},
        {{"C:\\dir\\", "x"}, " " + main_class_token + "\"C:\\dir\\\\\" \"x\" "},
        {{"say \"hi\""}, " " + main_class_token + "\"say \\\"hi\\\"\" "},
        // options are taken wherever they stand and are never passed on
        {{"a", "--jvm-max-heap-size=2g", "b", "--jvm-init-heap-size=256m"},
         " -Xms256m -Xmx2g " + main_class_token + "\"a\" \"b\" "},
        {{"--wrapper-load-jvm-in-process=no", "--WRAPPER-VERBOSE"},
         " " + main_class_token + "\"--wrapper-load-jvm-in-process=no\" \"--WRAPPER-VERBOSE\" "},
        // a trailing --splash= is the launcher's; elsewhere it is the tool's
        {{"a", "--splash=3"}, " " + main_class_token + "\"a\" "},
        {{"--splash=1", "a"}, " " + main_class_token + "\"--splash=1\" \"a\" "},
        {{"--help"}, " " + main_class_token + "\"--help\" "},
        // the in-process launch echoes the same text and loads nothing from
        // the (empty) runtime
        {{"--wrapper-load-jvm-in-process", "a"}, " " + main_class_token + "\"a\" "},
        {{"--wrapper-add-jar"}, " " + main_class_token},
        {{"--wrapper-add-jar=tools.zip"}, " " + main_class_token},
    };
    TempDir jre;
    for (const TailCase& c : cases) {
        Installation installation;
        RunResult result = installation.run(dry(c.args), {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre.path()}});
        EXPECT_EQ(0, result.exit_code) << result.err;
        EXPECT_EQ("\"" + java_below(jre.path()) + "\"" + c.tail + "\n", plain_newlines(result.out))
            << "first argument: " << (c.args.empty() ? "(none)" : c.args[0]);
    }
}

TEST(DryRun, AddedJarJoinsTheSortedClassPath)
{
    Installation installation({"b.jar"});
    TempDir jre;
    const std::string extra = join("lib", "extra.jar");
    RunResult result =
        installation.run(dry({"--wrapper-add-jar=" + extra}), {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre.path()}});
    // The scanned jar's directory is normalised on Windows; the added jar
    // stays as given. Sorted byte-wise, the absolute path comes first.
    const std::string out = plain_newlines(result.out);
    EXPECT_NE(std::string::npos,
              out.find(path_separator + std::string("b.jar") + list_separator + extra + "\" "))
        << out;
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
    const std::string other_root = other.path();
    struct Case {
        const char* what;
        std::vector<EnvVar> env;
        std::string expected_java;  // empty: the installation's own runtime
    };
    const Case cases[] = {
        {"plain runtime override, no root at all",
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", other_root}, unset("DRAVON_ROOTDIR")},
         java_below(other_root)},
        {"bin dir override wins over the root",
         {{"DRAVON_BINDIR_OVERRIDE", other_root}},
         java_below(join(as_substituted(other_root), "jre64"))},
        {"an empty runtime override counts as unset", {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", ""}}, ""},
    };
    for (const Case& c : cases) {
        RunResult result = installation.run(dry({}), c.env);
        EXPECT_EQ(0, result.exit_code) << c.what << ": " << result.err;
        const std::string out = plain_newlines(result.out);
        if (!c.expected_java.empty()) {
            EXPECT_EQ(0u, out.find("\"" + c.expected_java + "\" ")) << c.what << ": " << out;
        } else {
            EXPECT_NE(std::string::npos, out.find("jre64")) << c.what << ": " << out;
        }
    }
}

TEST(RuntimeLocation, RootOverrideWinsOverRoot)
{
    Installation installation;
    TempDir other;
    RunResult result = installation.run(dry({}), {{"DRAVON_ROOTDIR_OVERRIDE", other.path()},
                                                  {"DRAVON_ROOTDIR", join(other.path(), "unused")}});
    EXPECT_EQ(0, result.exit_code) << result.err;
    EXPECT_EQ(std::string::npos, plain_newlines(result.out).find("unused"));
}

TEST(RuntimeLocation, ExeDirInTheOverrideIsTheLauncherDirectory)
{
    Installation installation;
    RunResult result =
        installation.run(dry({}), {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", std::string("NATIVE_WRAP_EXE_DIR") + path_separator + "jre"}});
    EXPECT_EQ(0, result.exit_code) << result.err;
    const std::string bin = as_substituted(installation.bin_dir());
    EXPECT_EQ(0u, plain_newlines(result.out).find("\"" + bin + path_separator + "jre" + path_separator + "bin"))
        << result.out;
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
