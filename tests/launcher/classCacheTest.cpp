// The class-data cache (NATIVE_WRAP_CLASS_CACHE) from outside: the options
// java gets and the archive moved into place, with the test child as java
// on both ports; on Linux the real JDK's runs beside plain java's, whose
// output and status they must match byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "launcherTestSupport.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

const char cache_variable[] = "NATIVE_WRAP_CLASS_CACHE";
const char create_option[] = "-XX:ArchiveClassesAtExit=";
const char use_option[] = "-XX:SharedArchiveFile=";

// The value of the first word starting with `prefix`, or "(none)".
std::string option_value(const std::vector<std::string>& words, const std::string& prefix)
{
    for (const std::string& word : words) {
        if (word.compare(0, prefix.size(), prefix) == 0)
            return word.substr(prefix.size());
    }
    return "(none)";
}

// The archive file that a pending one becomes: "DIR/KEY.PID.tmp" -> "DIR/KEY.jsa".
std::string archive_of(const std::string& pending)
{
    const std::size_t name = pending.find_last_of(path_separator) + 1;
    return pending.substr(0, pending.find('.', name)) + ".jsa";
}

std::string file_name(const std::string& path)
{
    return path.substr(path.find_last_of(path_separator) + 1);
}

// With the test child as java: the first run has it write an archive under
// a name of its own, which the launcher moves into place; the next run maps
// it; a changed jar gives a new key; a runtime older than 13 and an empty
// variable get nothing.
TEST(ClassCache, OptionsAndArchivesWithAStandInJava)
{
    Installation installation;
    TempDir scratch;
    const std::string jre = scratch / "jre", cache = scratch / "cache", report = scratch / "report";
    make_fake_runtime(jre);
    const std::string lib = on_windows ? join(jre, "bin") : join(jre, "lib");
    std::filesystem::create_directories(join(lib, "server"));
    write_file(join(join(lib, "server"), "classes.jsa"), "base");
    write_file(join(jre, "release"), "JAVA_VERSION=\"17.0.2\"\n");
    const std::vector<EnvVar> env = {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre}, {"TEST_CHILD_REPORT", report},
                                     {cache_variable, cache}};
    auto run_args = [&] {
        RunResult result = installation.run({"x"}, env);
        EXPECT_EQ(0, result.exit_code) << result.err;
        EXPECT_EQ("", result.out + result.err);
        return read_child_report(report).args;
    };

    std::vector<std::string> args = run_args();
    const std::string pending = option_value(args, create_option);
    EXPECT_NE(std::string::npos, pending.find(join(cache, ""))) << pending;
    EXPECT_NE(args.end(), std::find(args.begin(), args.end(), "-Xlog:cds=off,cds+dynamic=off"));
    const std::string archive = archive_of(pending);
    EXPECT_EQ(std::vector<std::string>{file_name(archive)}, list_dir(cache));

    args = run_args();
    EXPECT_EQ(archive, option_value(args, use_option));
    EXPECT_EQ("(none)", option_value(args, create_option));

    write_file(join(installation.bin_dir(), tool_jar), "changed");
    args = run_args();
    EXPECT_EQ("(none)", option_value(args, use_option));
    EXPECT_NE(archive, archive_of(option_value(args, create_option)));
    EXPECT_EQ(2u, list_dir(cache).size());

    write_file(join(jre, "release"), "JAVA_VERSION=\"1.8.0_392\"\n");
    args = run_args();
    EXPECT_TRUE(std::none_of(args.begin(), args.end(), [](const std::string& word) { return word.compare(0, 2, "-X") == 0; }));

    const std::vector<EnvVar> unset_env = {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre}, unset(cache_variable)};
    const std::vector<EnvVar> empty_env = {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre}, {cache_variable, ""}};
    write_file(join(jre, "release"), "JAVA_VERSION=\"17.0.2\"\n");
    EXPECT_EQ(installation.run(dry({"x"}), unset_env).out, installation.run(dry({"x"}), empty_env).out);
}

#ifdef BRUMLET_TEST_JDK_HOME

// The value of an option in the text of a dry run.
std::string option_in_text(const std::string& text, const std::string& prefix)
{
    std::size_t at = text.find(prefix);
    if (at == std::string::npos)
        return "(none)";
    at += prefix.size();
    return text.substr(at, text.find(' ', at) - at);
}

// The Java test tool through the launcher with the cache, and through plain
// java; the tool calls a method reflectively, of which a JVM that writes an
// archive tells on standard output.
struct JdkCacheRun {
    Installation installation;
    TempDir scratch;
    std::string cache = scratch / "cache";
    std::vector<EnvVar> env;
    std::vector<std::string> args = {"a b", "--wrapper-verbose-not"};

    explicit JdkCacheRun(const std::string& exit_code = "")
    {
        env = {{"TEST_TOOL_ACTION", "reflect"}, {"LC_ALL", "C.UTF-8"}};
        env.push_back(exit_code.empty() ? unset("TEST_CHILD_EXIT") : EnvVar{"TEST_CHILD_EXIT", exit_code});
    }

    RunResult plain() const
    {
        std::vector<std::string> argv = {java_below(installation.jre_dir()), "-cp",
                                         join(installation.bin_dir(), tool_jar), "com.velkor.brumlet.Brumlet"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<EnvVar> all = clean_launcher_env();
        all.insert(all.end(), env.begin(), env.end());
        return run_program(argv, all);
    }
    std::vector<EnvVar> cache_env(const std::string& dir) const
    {
        std::vector<EnvVar> all = env;
        all.push_back({cache_variable, dir});
        return all;
    }
    RunResult run(const std::vector<std::string>& options, const std::string& dir = "") const
    {
        std::vector<std::string> all = options;
        all.insert(all.end(), args.begin(), args.end());
        return installation.run(all, cache_env(dir.empty() ? cache : dir));
    }
    std::string dry_text(const std::vector<std::string>& options) const { return run(dry(options)).out; }
};

void expect_as_plain(const RunResult& plain, const RunResult& result, const std::string& step)
{
    EXPECT_EQ(plain.exit_code, result.exit_code) << step;
    EXPECT_EQ(plain.out, result.out) << step;
    EXPECT_EQ(plain.err, result.err) << step;
}

// First run, cached run and a run given an archive the JVM cannot use, with
// the launch options `options`, the tool ending with `exit_code` (empty: by
// returning from main).
void expect_runs_as_plain(const std::vector<std::string>& options, const std::string& exit_code)
{
    JdkCacheRun run(exit_code);
    const RunResult plain = run.plain();
    const std::string pending = option_in_text(run.dry_text(options), create_option);
    remove_tree(run.cache);
    expect_as_plain(plain, run.run(options), "first run");
    const std::string archive = archive_of(pending);
    EXPECT_EQ(std::vector<std::string>{file_name(archive)}, list_dir(run.cache));

    expect_as_plain(plain, run.run(options), "cached run");
    EXPECT_EQ(archive, option_in_text(run.dry_text(options), use_option));

    // A jar that sorts first changes the key; the JVM refuses the old
    // archive put under the new key, and says so unless silenced.
    write_file(join(run.installation.bin_dir(), "a-first.jar"), "");
    const std::string other = archive_of(option_in_text(run.dry_text(options), create_option));
    ASSERT_NE(archive, other);
    copy_file(archive, other);
    expect_as_plain(plain, run.run(options), "archive of another class path");
}

TEST(ClassCacheJdk, ChildRunsMatchPlainJava)
{
    expect_runs_as_plain({}, "3");
}

// In-process the archive is complete at the JVM's exit hook when the tool
// calls System.exit, and after DestroyJavaVM when main returns. Named with
// the other in-process launches, which the sanitized build checks apart.
TEST(InProcessJdk, ClassCacheRunsMatchPlainJava)
{
    for (const char* exit_code : {"3", ""}) {
        SCOPED_TRACE(std::string("exit code ") + exit_code);
        expect_runs_as_plain({"--wrapper-load-jvm-in-process"}, exit_code);
    }
}

TEST(ClassCacheJdk, ParallelFirstRunsLeaveOneWholeArchive)
{
    JdkCacheRun run("3");
    const RunResult plain = run.plain();
    std::vector<std::unique_ptr<BackgroundProgram>> runs;
    std::vector<std::string> argv = run.args;
    for (int i = 0; i < 6; ++i)
        runs.push_back(run.installation.start(argv, run.cache_env(run.cache)));
    for (auto& started : runs)
        expect_as_plain(plain, started->wait(), "parallel first run");
    const std::vector<std::string> names = list_dir(run.cache);
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(join(run.cache, names[0]), option_in_text(run.dry_text({}), use_option));
    expect_as_plain(plain, run.run({}), "cached run");
}

// A directory that cannot be made, is a file, or that others can write, and
// options that turn class-data sharing off, change nothing, silently; a
// verbose run tells why.
TEST(ClassCacheJdk, CacheStaysOutWhereItCannotHelp)
{
    JdkCacheRun run("3");
    const std::string usable = run.scratch / "usable", shared = run.scratch / "shared";
    make_dir(shared);
    ASSERT_TRUE(let_everyone_write(shared));
    write_file(run.scratch / "a-file", "");
    const struct {
        std::string dir;
        std::string java_options;
        std::string note;
    } cases[] = {
        {run.scratch / "a-file", "", "the directory '" + run.scratch / "a-file" + "'"},
        {join(run.scratch / "missing", "cache"), "", "the directory '" + join(run.scratch / "missing", "cache") + "'"},
        {shared, "", "the directory '" + shared + "'"},
        {usable, "-Xshare:off", "class-data sharing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir + " " + c.java_options);
        JdkCacheRun with_options("3");
        with_options.env.push_back({"JDK_JAVA_OPTIONS", c.java_options});
        expect_as_plain(with_options.plain(), with_options.run({}, c.dir), "cache left out");
        const std::string text = with_options.run(dry({}), c.dir).out;
        EXPECT_EQ("(none)", option_in_text(text, "-XX:"));
        EXPECT_NE(std::string::npos, text.find("Class cache not used: ")) << text;
        EXPECT_NE(std::string::npos, text.find(c.note)) << text;
    }
    EXPECT_TRUE(list_dir(shared).empty());
}

#endif

}  // namespace
