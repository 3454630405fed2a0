// The class-data cache (NATIVE_WRAP_CLASS_CACHE) from outside: the options
// java gets and the archive moved into place, with the test child as java
// on both ports; on Linux the real JDK's runs beside plain java's, whose
// output and status they must match byte for byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "launcherTestSupport.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

const char cache_variable[] = "NATIVE_WRAP_CLASS_CACHE";
const char create_option[] = "-XX:ArchiveClassesAtExit=";
const char use_option[] = "-XX:SharedArchiveFile=";

// The value of the option `prefix` in a command text, or "(none)".
std::string option_in(const std::string& text, const std::string& prefix)
{
    std::size_t at = text.find(prefix);
    if (at == std::string::npos)
        return "(none)";
    at += prefix.size();
    return text.substr(at, text.find(' ', at) - at);
}

// The archive's name once the pending "DIR/KEY.PID.tmp" is moved into place: "KEY.jsa".
std::string archive_name(const std::string& pending)
{
    const std::string name = pending.substr(pending.find_last_of(path_separator) + 1);
    return name.substr(0, name.find('.')) + ".jsa";
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
    const std::string server = join(join(jre, on_windows ? "bin" : "lib"), "server");
    std::filesystem::create_directories(server);
    write_file(join(server, "classes.jsa"), "base");
    write_file(join(jre, "release"), "JAVA_VERSION=\"17.0.2\"\n");
    const std::vector<EnvVar> env = {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre}, {"TEST_CHILD_REPORT", report}};
    auto run_text = [&](const std::string& dir) {
        std::vector<EnvVar> all = env;
        all.push_back({cache_variable, dir});
        RunResult result = installation.run({"x"}, all);
        EXPECT_EQ("0", std::to_string(result.exit_code) + result.out + result.err);
        std::string text;
        for (const std::string& arg : read_child_report(report).args)
            text += arg + ' ';
        return text;
    };

    std::string text = run_text(cache);
    const std::string pending = option_in(text, create_option);
    EXPECT_EQ(0u, pending.find(join(cache, ""))) << pending;
    EXPECT_NE(std::string::npos, text.find(" -Xlog:cds=off,cds+dynamic=off "));
    const std::string archive = archive_name(pending);
    EXPECT_EQ(std::vector<std::string>{archive}, list_dir(cache));

    EXPECT_EQ(join(cache, archive), option_in(run_text(cache), use_option));

    write_file(join(installation.bin_dir(), tool_jar), "changed");
    EXPECT_NE(archive, archive_name(option_in(run_text(cache), create_option)));
    EXPECT_EQ(2u, list_dir(cache).size());

    // A cache directory whose name the system's code page lacks reaches
    // java.exe by its short name, where it writes the archive.
    const std::string odd_cache = scratch / "\xc5\x81\xc3\xb3" "d\xc5\xba";
    EXPECT_EQ(on_windows, option_in(run_text(odd_cache), create_option).find(odd_cache) == std::string::npos);
    EXPECT_EQ(1u, list_dir(odd_cache).size());

    const std::string plain = run_text("");
    EXPECT_EQ("(none)", option_in(plain, "-X"));
    write_file(join(jre, "release"), "JAVA_VERSION=\"1.8.0_392\"\n");
    EXPECT_EQ(plain, run_text(cache));
}

#ifdef BRUMLET_TEST_JDK_HOME

// The Java test tool through the launcher with the cache, and through plain
// java; the tool calls a method reflectively, of which a JVM that writes an
// archive tells on standard output.
struct JdkCacheRun {
    Installation installation;
    TempDir scratch;
    std::string cache = scratch / "cache";
    std::vector<EnvVar> env = {{"TEST_TOOL_ACTION", "reflect"}, {"LC_ALL", "C.UTF-8"}, {"TEST_CHILD_EXIT", "3"}};
    std::vector<std::string> args = {"a b", "--wrapper-verbose-not"};

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
    RunResult run(std::vector<std::string> options, const std::string& dir = "") const
    {
        options.insert(options.end(), args.begin(), args.end());
        return installation.run(options, cache_env(dir.empty() ? cache : dir));
    }
    std::string dry_text(const std::vector<std::string>& options, const std::string& dir = "") const
    {
        return run(dry(options), dir).out;
    }
};

void expect_as_plain(const RunResult& plain, const RunResult& result, const std::string& step)
{
    EXPECT_EQ(plain.exit_code, result.exit_code) << step;
    EXPECT_EQ(plain.out, result.out) << step;
    EXPECT_EQ(plain.err, result.err) << step;
}

// First run, cached run and a run given an archive the JVM cannot use, with
// the launch options `options`, the tool ending with System.exit(3) or, with
// `returns`, by returning from main.
void expect_runs_as_plain(const std::vector<std::string>& options, bool returns = false)
{
    JdkCacheRun run;
    if (returns)
        run.env.back() = unset("TEST_CHILD_EXIT");
    const RunResult plain = run.plain();
    const std::string archive = archive_name(option_in(run.dry_text(options), create_option));
    remove_tree(run.cache);
    expect_as_plain(plain, run.run(options), "first run");
    EXPECT_EQ(std::vector<std::string>{archive}, list_dir(run.cache));

    expect_as_plain(plain, run.run(options), "cached run");
    EXPECT_EQ(join(run.cache, archive), option_in(run.dry_text(options), use_option));

    // A jar that sorts first changes the key; the JVM refuses the old
    // archive put under the new key, and says so unless silenced.
    write_file(join(run.installation.bin_dir(), "a-first.jar"), "");
    const std::string other = archive_name(option_in(run.dry_text(options), create_option));
    ASSERT_NE(archive, other);
    copy_file(join(run.cache, archive), join(run.cache, other));
    expect_as_plain(plain, run.run(options), "archive of another class path");
}

TEST(ClassCacheJdk, ChildRunsMatchPlainJava)
{
    expect_runs_as_plain({});
}

// In-process the archive is complete at the JVM's exit hook when the tool
// calls System.exit, and after DestroyJavaVM when main returns. Named with
// the other in-process launches, which the sanitized build checks apart.
TEST(InProcessJdk, ClassCacheRunsMatchPlainJava)
{
    expect_runs_as_plain({"--wrapper-load-jvm-in-process"});
    expect_runs_as_plain({"--wrapper-load-jvm-in-process"}, true);
}

TEST(ClassCacheJdk, ParallelFirstRunsLeaveOneWholeArchive)
{
    JdkCacheRun run;
    const RunResult plain = run.plain();
    std::vector<std::unique_ptr<BackgroundProgram>> runs;
    for (int i = 0; i < 6; ++i)
        runs.push_back(run.installation.start(run.args, run.cache_env(run.cache)));
    for (auto& started : runs)
        expect_as_plain(plain, started->wait(), "parallel first run");
    const std::vector<std::string> names = list_dir(run.cache);
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(join(run.cache, names[0]), option_in(run.dry_text({}), use_option));
    expect_as_plain(plain, run.run({}), "cached run");
}

// A directory that cannot be made, is a file, or that others can write, and
// options that turn class-data sharing off, change nothing, silently; a
// verbose run tells why.
TEST(ClassCacheJdk, CacheStaysOutWhereItCannotHelp)
{
    TempDir scratch;
    const std::string shared = scratch / "shared";
    make_dir(shared);
    ASSERT_TRUE(let_everyone_write(shared));
    write_file(scratch / "a-file", "");
    const std::pair<std::string, const char*> cases[] = {
        {scratch / "a-file", ""}, {join(scratch / "missing", "cache"), ""}, {shared, ""}, {scratch / "new", "-Xshare:off"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first + " " + c.second);
        JdkCacheRun run;
        run.env.push_back({"JDK_JAVA_OPTIONS", c.second});
        expect_as_plain(run.plain(), run.run({}, c.first), "cache left out");
        const std::string text = run.dry_text({}, c.first);
        EXPECT_EQ("(none)", option_in(text, "-XX:"));
        EXPECT_EQ(0u, text.find("Class cache not used: ")) << text;
    }
    EXPECT_TRUE(list_dir(shared).empty());
}

#endif

}  // namespace
