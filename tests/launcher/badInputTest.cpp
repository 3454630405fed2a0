// Inputs at and past the limits of what users and systems hand the launcher:
// each gives the tool's run, or a clear message, with a defined status and
// never a crash. Dry runs where a real start is not the point.
#include <gtest/gtest.h>

#include "launcherTestSupport.h"
#include "os/error.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

struct BadInput {
    const char* what;
    const char* not_on_windows;  // why Windows cannot hand this input to the launcher; null: it can
    std::vector<std::string> args;
    std::vector<EnvVar> env;
    std::vector<std::string> jars;  // beside the launcher; none given: the tool's jar
    std::string root;               // the installation root; empty: a fresh directory
    int status;
    std::string out_holds;  // a text the standard output must hold
    std::string err;        // standard error, whole
    std::string cwd = "";   // where it starts; empty: the test's own
    bool windows_only = false;
};

TEST(BadInput, GivesTheToolsRunOrAMessageNeverACrash)
{
    TempDir scratch;
    const std::string drive = on_windows ? "C:\\" : "/";
    const std::string long_jar = std::string(9996, 'j') + ".jar";
    const std::string long_root = drive + std::string(9997, 'r');
    const std::string long_jre = drive + std::string(9997, 'o');
    std::string many_args = main_class_token;
    for (int i = 0; i < 100000; ++i)
        many_args += "\"a\" ";
    // Wine looks through the whole directory for each file it creates there,
    // so 10,000 new files would take half a minute.
    const std::string many_jars_root = scratch / "Suite";
    std::vector<std::string> many_jars;
    std::string many_jars_classpath;
    for (int i = 0; i < (on_windows ? 2000 : 10000); ++i) {
        many_jars.push_back("j" + std::to_string(10000 + i) + ".jar");  // listed and sorted alike
        many_jars_classpath += (i > 0 ? std::string(1, list_separator) : "") +
                               join(as_substituted(join(many_jars_root, "bin64")), many_jars.back());
    }
    std::string deep_root, quoted_jre;
    if (!on_windows) {
        deep_root = join(make_deep_dir(scratch.path(), 4000), "Suite");
        quoted_jre = scratch / "jre\"17";
        make_fake_runtime(quoted_jre);
    }
    const char* const command_line_limit = "its command line holds at most 32,767 characters";
    const std::string quoted = "C:\\x\\evil\" x", split = scratch / ("Suite" + std::string(1, list_separator) + "x");
    const std::string quote_refused = "Error - the Java runtime path '" + quoted + "' holds the character '\"', which "
                                      "no Windows path holds and which would end java's name on its command line.\n";
    const std::string split_refused = "Error - the installation directory '" + as_substituted(join(split, "bin64")) +
                                      "' holds the class path separator '" + std::string(1, list_separator) +
                                      "', which would cut the path of each of its jars in two.\n";
    // A relative runtime is the current directory's: never looked for beside the launcher or on PATH.
    const std::string relative = scratch / "Relative", on_path = scratch / "OnPath", none = scratch / "None",
                      missing = scratch / "Missing";
    const std::string missing_text = "\"" + java_below(join(none, "rel")) + "\" -cp \"" +
                                     as_substituted(join(missing, "bin64")) + path_separator + tool_jar + "\" " +
                                     main_class_token + "\"a\" ";
    make_fake_runtime(join(on_path, "rel"));
    make_dir(none);
    const int failed = failure_exit_status();
    const BadInput cases[] = {
        {"100,000 arguments", command_line_limit, dry(std::vector<std::string>(100000, "a")), {}, {}, "", 0,
         many_args + "\n", ""},
        {"10,000 jars (2,000 under Wine)", nullptr, dry({}), {}, many_jars, many_jars_root, 0,
         "-cp \"" + many_jars_classpath + "\" ", ""},
        {"a 10,000-character added jar", nullptr, dry({"--wrapper-add-jar=" + long_jar}), {}, {}, "", 0,
         long_jar + "\" ", ""},
        {"a 10,000-character root directory", nullptr, dry({}), {{"DRAVON_ROOTDIR", long_root}}, {}, "", 0,
         as_substituted(long_root) + "/bin64", ""},
        {"a 10,000-character runtime override", nullptr, dry({}), {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", long_jre}}, {},
         "", 0, "\"" + java_below(long_jre) + "\" ", ""},
        // past PATH_MAX the directory cannot be listed: said, and nothing runs
        {"a launcher directory deeper than 4,000 characters", "the narrow file calls cannot make it", dry({"x"}),
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", "NATIVE_WRAP_EXE_DIR"}}, {}, deep_root, failure_exit_status(), "",
         "Error - no jar files found in '" + join(deep_root, "bin64") + "'.\n"},
        {"--splash= past the int range", nullptr, dry({"a", "--splash=99999999999999999999"}), {}, {}, "", 0,
         main_class_token + "\"a\" \n", ""},
        {"a runtime path holding a double quote", "its file names cannot hold one", {"a"},
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", quoted_jre}, {"TEST_CHILD_EXIT", "7"}}, {}, "", 7, "", ""},
        {"... refused on Windows", nullptr, dry({}), {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", quoted}}, {}, "", failed, "",
         quote_refused, "", true},
        {"an installation directory holding the list separator", nullptr, {"a"}, {}, {}, split, failed, "",
         split_refused},
        {"... in-process", nullptr, {"--wrapper-load-jvm-in-process"}, {}, {}, split, failed, "", split_refused},
        {"a relative runtime path: its java runs", nullptr, {"a"},
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", "jre64"}, {"TEST_CHILD_EXIT", "7"}}, {}, relative, 7, "", "",
         join(relative, "bin64")},
        {"... missing: never searched for", nullptr, {"a"},
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", "rel"}, {"PATH", on_path}}, {}, missing, failed, "",
         "Error - failed to launch '" + missing_text + "'.\n" + os::error_text(2) + "\n", none},
    };
    for (const BadInput& c : cases) {
        if (on_windows ? c.not_on_windows != nullptr : c.windows_only)
            continue;
        SCOPED_TRACE(c.what);
        Installation installation(c.jars.empty() ? std::vector<std::string>{tool_jar} : c.jars, c.root);
        RunResult result = installation.run(c.args, c.env, c.cwd);
        EXPECT_EQ(c.status, result.exit_code) << result.err;
        EXPECT_EQ(c.err, plain_newlines(result.err));
        const std::string out = plain_newlines(result.out);
        EXPECT_NE(std::string::npos, out.find(c.out_holds)) << out.substr(0, 300);
    }
}

// An installation deeper than the classic 260-character limit runs whole:
// its jar is found and its java starts. (Under Wine the test starts the
// launcher by its short path, so the long one is the runtime's.)
TEST(BadInput, DeepInstallationRunsItsTool)
{
    TempDir scratch;
    for (std::size_t length : {300, 1000}) {
        SCOPED_TRACE(length);
        Installation installation({"a.jar"}, join(make_deep_dir(scratch.path(), length), "Suite"));
        if (!on_windows)
            copy_file(join(own_dir(), "brumlet_test_tool.jar"), join(installation.bin_dir(), "a.jar"));
        RunResult result = installation.run({"--wrapper-verbose", "x"}, {{"TEST_CHILD_EXIT", "7"}});
        EXPECT_EQ(7, result.exit_code) << result.err;
        const std::string out = plain_newlines(result.out);
        EXPECT_EQ(0u, out.find("\"" + java_below(join(as_substituted(installation.bin_dir()), "jre64")) + "\" -cp \""))
            << out;
        EXPECT_NE(std::string::npos, out.find(path_separator + std::string("a.jar\" ") + main_class_token)) << out;
    }
}

}  // namespace
