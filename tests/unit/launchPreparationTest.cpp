// Preparing one launch: the trailing splash argument, the Java executable,
// the profile's environment, arguments, jars and JVM options.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
extern char** environ;
#endif

#include "commonWrap.h"
#include "javaCommandLine.h"
#include "launch/commandText.h"
#include "os/platform.h"
#include "testSupport.h"
#include "unitHelpers.h"
#include "toolMain.h"

namespace {

using namespace testing_support;
using namespace unit_helpers;

const char* const none[] = {nullptr};
const char* const splashes[] = {"-splash:one.png", "-splash:two.png", "-splash:three.png", nullptr};
const char* const extra_options[] = {"-Dx=1", nullptr};

std::vector<std::string> environment_snapshot()
{
    std::vector<std::string> entries;
#ifdef _WIN32
    char* block = GetEnvironmentStringsA();
    for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1)
        entries.push_back(entry);
    FreeEnvironmentStringsA(block);
#else
    for (char** entry = environ; *entry != nullptr; ++entry)
        entries.push_back(*entry);
#endif
    std::sort(entries.begin(), entries.end());
    return entries;
}

TEST(TakeTrailingSplash, TakesOnlyALastSplashArgument)
{
    struct Case { std::vector<std::string> argv; int index; int argc_after; };
    const Case cases[] = {
        {{"tool", "a", "b", "--splash=2"}, 2, 3},
        {{"tool", "--splash=1", "--splash=2"}, 2, 2},
        {{"tool", "--splash=1", "a"}, 0, 3},
        {{"tool", "--splash=x"}, 0, 1},  // taken, even without a number
        {{"tool", "--splash="}, 0, 1},
        {{"tool", "--splash=-1"}, -1, 1},
        {{"tool", "--splash=7th"}, 7, 1},
        {{"tool", "--splash=2147483648"}, INT_MAX, 1},  // past the int range: clamped
        {{"tool", "--splash=-99999999999999999999999"}, INT_MIN, 1},
        {{"tool", " --splash=3"}, 0, 2},
        {{"tool", "--SPLASH=3"}, 0, 2},
        {{"tool", "--splash"}, 0, 2},
        {{"--splash=4"}, 0, 1},  // never the program itself
    };
    for (const Case& c : cases) {
        Args args(c.argv);
        int argc = args.argc();
        EXPECT_EQ(c.index, take_trailing_splash(argc, args.argv())) << c.argv.back();
        EXPECT_EQ(c.argc_after, argc) << c.argv.back();
        for (int i = 0; i < argc; ++i)
            EXPECT_EQ(c.argv[i], args.argv()[i]);
    }
}

// A tool with three splash images and one fixed JVM option. The Java
// runtime is named by NATIVE_WRAP_JRE_DIR_OVERRIDE as a plain directory, and
// the jars come from a scratch directory.
class PrepareLaunch : public ::testing::Test {
protected:
    PrepareLaunch()
    {
        write_file(jars_ / "b.jar", "");
        write_file(jars_ / "a.jar", "");
        write_file(jars_ / "notes.txt", "");
        write_file(jars_ / "c.JAR", "");
    }

    std::unique_ptr<JavaCommandLine> prepare(const std::vector<std::string>& words, int splash_index,
                                             bool show_splash = true)
    {
        Args args(words);
        std::unique_ptr<JavaCommandLine> cmd(
            new JavaCommandLine(profile_.main_class, args.argc() - 1, args.argv() + 1));
        prepare_launch(*cmd, profile_, args.argc(), args.argv(), splash_index, show_splash);
        return cmd;
    }

    TempDir jre_, jars_;
    ScopedEnv jre_override_{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre_.path()};
    const char* jar_dirs_[2] = {jars_.path().c_str(), nullptr};
    ToolProfile profile_ = {"com.example.Tool", jar_dirs_, extra_options, splashes, none, none, none, none};
};

TEST_F(PrepareLaunch, SplashOptionFollowsTheFixedOptions)
{
    struct Case { std::vector<std::string> argv; int index; bool show; std::vector<std::string> options; };
    const Case cases[] = {
        {{"tool"}, 0, true, {"-Dx=1", "-splash:one.png"}},
        {{"tool", "a"}, 2, true, {"-Dx=1", "-splash:three.png"}},
        {{"tool"}, -1, true, {"-Dx=1"}},
        {{"tool"}, 3, true, {"-Dx=1"}},
        {{"tool"}, 1, false, {"-Dx=1"}},
        {{"tool", "a", "--help", "b"}, 1, true, {"-Dx=1"}},
        {{"tool", "--HELP", "--help=x", " --help"}, 1, true, {"-Dx=1", "-splash:two.png"}},
    };
    for (const Case& c : cases) {
        std::unique_ptr<JavaCommandLine> cmd = prepare(c.argv, c.index, c.show);
        EXPECT_EQ(c.options, cmd->get_jvm_options()) << "index " << c.index << ", last arg " << c.argv.back();
        EXPECT_EQ(std::vector<std::string>(c.argv.begin() + 1, c.argv.end()), args_of(*cmd));
    }
}

// The Java executable from the runtime, the jars of the jar directory, and
// the profile's arguments after the user's, handled as the user's are.
TEST_F(PrepareLaunch, JavaJarsAndProfileArgumentsComplete)
{
    const char* const extra_args[] = {"--from-profile", "--wrapper-disable-exec", "--jvm-max-heap-size=2g", nullptr};
    profile_.extra_args = extra_args;
    std::unique_ptr<JavaCommandLine> cmd = prepare({"tool", "x y"}, 0);
    const std::string sep(1, list_separator);
    const std::vector<std::string> expected = {
        join(join(jre_.path(), "bin"), std::string("java") + exe_suffix),
        "-Dx=1", "-splash:one.png", "-Xmx2g", "-cp", (jars_ / "a.jar") + sep + (jars_ / "b.jar"),
        "com.example.Tool", "x y", "--from-profile"};
    EXPECT_EQ(expected, split_command_text(cmd->build_command_text(), os::facts.program_token));
    EXPECT_FALSE(cmd->show_command("text"));  // execution switched off by the profile
}

TEST_F(PrepareLaunch, EnvironmentComesFromTheProfile)
{
    const char* const path_dirs[] = {"A", "B", nullptr};
    const char* const library_dirs[] = {"L1", "L2", nullptr};
    const char* const assignments[] = {"BRUMLET_TEST_ASSIGNED=yes=1", "BRUMLET_TEST_FLAG", "PATH=C", nullptr};
    profile_.path_dirs = path_dirs;
    profile_.ld_library_path_dirs = library_dirs;
    profile_.env_assignments = assignments;

    const std::string path = env_value("PATH");
    ScopedEnv path_guard(path == "(unset)" ? unset("PATH") : EnvVar{"PATH", path});
    ScopedEnv library_guard(unset("LD_LIBRARY_PATH"));
    ScopedEnv assigned_guard(unset("BRUMLET_TEST_ASSIGNED"));
    ScopedEnv flag_guard(unset("BRUMLET_TEST_FLAG"));
    prepare({"tool"}, 0);

    const std::string sep(1, list_separator);
    // Each entry goes in front, and the assignments come after the lists.
    EXPECT_EQ("C" + sep + "B" + sep + "A" + (path == "(unset)" ? "" : sep + path), env_value("PATH"));
    EXPECT_EQ("L2" + sep + "L1", env_value("LD_LIBRARY_PATH"));
    EXPECT_EQ("yes=1", env_value("BRUMLET_TEST_ASSIGNED"));
    EXPECT_EQ("1", env_value("BRUMLET_TEST_FLAG"));
}

TEST(SetupWrapperEnv, EmptyProfileChangesNothing)
{
    const ToolProfile empty = {"Main", none, none, none, none, none, none, none};
    const std::vector<std::string> args = {"x", "/y", "k=/z", "--splash=1"};
    CommandLine cmd("prog");
    for (const std::string& arg : args)
        cmd.process_arg(arg.c_str());
    const std::vector<std::string> before = environment_snapshot();
    setup_wrapper_env(cmd, empty);
    EXPECT_EQ(before, environment_snapshot());
    EXPECT_EQ(args, args_of(cmd));
}

}  // namespace
