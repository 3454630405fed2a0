#include "jdkCacheRun.h"

#ifdef BRUMLET_TEST_JDK_HOME

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "cacheTestSupport.h"

namespace cache_testing {

using namespace launcher_testing;
using namespace testing_support;

namespace {

// `text` without the JVM's uptime stamps ("[0.006s]"), which differ from run to run.
std::string without_uptimes(const std::string& text)
{
    static const std::regex uptime("\\[[0-9]+\\.[0-9]+s\\]");
    return std::regex_replace(text, uptime, "[uptime]");
}

}  // namespace

JdkCacheRun::JdkCacheRun(const std::string& root) : installation({tool_jar}, root)
{
    make_dir(cache);
}

RunResult JdkCacheRun::in_workspace(const std::vector<std::string>& argv, const std::vector<EnvVar>& run_env) const
{
    if (workspace.empty())
        return run_program(argv, run_env);
    make_dir(workspace);
    const RunResult result = run_program(argv, run_env, workspace);
    remove_tree(workspace);
    return result;
}

RunResult JdkCacheRun::plain() const
{
    std::vector<std::string> argv = user;
    argv.insert(argv.end(), {java_below(installation.jre_dir()), "-cp", join(installation.bin_dir(), tool_jar),
                             "com.velkor.brumlet.Brumlet"});
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<EnvVar> all = clean_launcher_env();
    all.insert(all.end(), env.begin(), env.end());
    return in_workspace(argv, all);
}

RunResult JdkCacheRun::run(std::vector<std::string> options) const
{
    std::vector<std::string> argv = user;
    argv.push_back(installation.launcher());
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), launcher_tail.begin(), launcher_tail.end());
    std::vector<EnvVar> all = clean_launcher_env();
    all.push_back({"DRAVON_ROOTDIR", installation.root()});
    all.insert(all.end(), env.begin(), env.end());
    all.push_back({cache_variable, cache});
    return in_workspace(argv, all);
}

std::string JdkCacheRun::dry_text(const std::vector<std::string>& options) const
{
    std::vector<std::string> all = dry({"--wrapper-verbose"});
    all.insert(all.end(), options.begin(), options.end());
    return run(all).out;
}

void expect_as_plain(const RunResult& plain, const RunResult& result, const std::string& step)
{
    EXPECT_EQ(plain.exit_code, result.exit_code) << step;
    EXPECT_EQ(without_uptimes(plain.out), without_uptimes(result.out)) << step;
    EXPECT_EQ(without_uptimes(plain.err), without_uptimes(result.err)) << step;
}

std::string listed_key(const JdkCacheRun& run, const std::vector<std::string>& options)
{
    const std::string list = option_in(run.dry_text(options), list_option);
    return list.substr(list.rfind('/') + 1, 16);
}

std::string archive_of(const JdkCacheRun& run)
{
    const std::vector<std::string> archives = cache_files(run.cache, ".jsa");
    return archives.size() == 1 ? join(own_dir_of(run.cache), archives[0]) : "(none)";
}

void run_case(const CacheCase& c)
{
    SCOPED_TRACE(c.name);
    JdkCacheRun run(c.root);
    run.env.insert(run.env.end(), c.env.begin(), c.env.end());
    if (c.before)
        c.before(run);
    const RunResult plain = run.plain();
    // Lists, makes the archive in the background, maps it.
    expect_as_plain(plain, run.run(c.options), "first run");
    for (const std::string step : {"second run", "third run"}) {
        expect_as_plain(plain, run.run(c.options), step);
        // A third run that should have found the archive waits for it.
        if (step == "second run" || (c.archive && archive_of(run) == "(none)"))
            wait_for_archive_run(run.cache);
    }
    const std::string dry_text = run.dry_text(c.options);
    EXPECT_EQ(c.archive, option_in(dry_text, use_option) != "(none)") << dry_text;
    if (c.archive) {
        // The JVM takes it: a refused one leaves a run sharing nothing
        // where plain java shares the runtime's.
        run.env.push_back({"TEST_TOOL_SHARING", "1"});
        const std::string shared = ", sharing\n", plain_out = run.plain().out, out = run.run(c.options).out;
        // Its job takes the third run's list.
        wait_for_archive_run(run.cache);
        if (plain_out.find(shared) != std::string::npos) {
            EXPECT_NE(std::string::npos, out.find(shared)) << out;
        }
        run.env.pop_back();
    }
    if (c.after) {
        const std::string archive = archive_of(run);
        c.after(run);
        expect_as_plain(plain, run.run(c.options), "run after the change");
        if (c.kept) {
            EXPECT_EQ(archive, option_in(run.dry_text(c.options), use_option)) << "not handed over at once";
        } else {
            EXPECT_NE(archive, option_in(run.dry_text(c.options), use_option)) << "handed over again";
        }
    }
    if (c.check)
        c.check(run);
}

void truncate_archive(JdkCacheRun& run)
{
    std::filesystem::resize_file(archive_of(run), 60000);
}

void use_test_launcher(JdkCacheRun& run)
{
    std::filesystem::remove(run.installation.launcher());
    copy_file(built_test_launcher(), run.installation.launcher());
    copy_file(join(own_dir(), "splash.png"), join(run.installation.bin_dir(), "splash.png"));
}

void start_lasting_run(JdkCacheRun& run)
{
    use_test_launcher(run);
    run.other_bad = join(own_dir_of(run.cache), listed_key(run, {"--jvm-max-heap-size=300m"}) + ".bad");
    make_dir(own_dir_of(run.cache));
    write_file(run.other_bad, "");
    std::vector<EnvVar> env = run.env;
    env.insert(env.end(), {{"TEST_CHILD_READY", run.scratch / "lasting"},
                           {"TEST_CHILD_SLEEP_MS", "600000"},
                           {cache_variable, run.cache}});
    run.other = run.installation.start({"--jvm-max-heap-size=300m", "x"}, env);
    wait_for_file(run.scratch / "lasting");
}

void end_lasting_run(JdkCacheRun& run)
{
    run.other->kill();
    run.other->wait();
    std::filesystem::remove(run.other_bad);
}

}  // namespace cache_testing

#endif
