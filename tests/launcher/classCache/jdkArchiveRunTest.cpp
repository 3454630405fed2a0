// The class cache with the real JDK: the listing run is java itself, and
// the run that makes the archive waits for the tool's runs, keeps every
// tool's archive and ends cleanly.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "cacheTestSupport.h"
#include "jdkCacheRun.h"

#ifdef BRUMLET_TEST_JDK_HOME

namespace {

using namespace cache_testing;
using namespace launcher_testing;
using namespace testing_support;

// The run that lists the classes is java itself: the same pid, a SIGQUIT
// prints java's thread dump and the tool runs on, and an interrupt acts as
// on plain java.
TEST(ClassCacheJdk, TheListingRunIsJavaItself)
{
    JdkCacheRun run;
    run.env.insert(run.env.end(), {{"TEST_CHILD_READY", run.scratch / "ready"},
                                   {"TEST_CHILD_SLEEP_MS", "30000"},
                                   {"TEST_CHILD_HOOK", "hook ran"},
                                   {"TEST_CHILD_EXIT", "7"},
                                   {cache_variable, run.cache}});
    std::unique_ptr<BackgroundProgram> tool = run.installation.start(run.args, run.env);
    EXPECT_EQ(tool->pid(), std::stoul(wait_for_file(run.scratch / "ready")));
    EXPECT_EQ(1u, cache_files(run.cache, ".list").size());
    tool->send_signal(SIGQUIT);
    for (int i = 0; i < 100 && tool->out_so_far().find("Full thread dump") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    tool->send_signal(SIGINT);
    const RunResult result = tool->wait();
    EXPECT_NE(std::string::npos, result.out.find("\nFull thread dump ")) << result.out;
    EXPECT_EQ("\nhook ran\n", result.out.substr(result.out.rfind('\n', result.out.size() - 2)));
    EXPECT_EQ(7, result.exit_code);
}

// Five tools through one cache each get an archive, and keep it while the
// others get theirs.
TEST(ClassCacheJdk, FiveToolsEachKeepTheirArchive)
{
    JdkCacheRun tools[5];
    for (JdkCacheRun& tool : tools) {
        tool.cache = tools[0].cache;
        const RunResult plain = tool.plain();
        expect_as_plain(plain, tool.run(), "listing run");
        expect_as_plain(plain, tool.run(), "run that starts the archive's");
    }
    wait_for_archive_run(tools[0].cache);
    for (JdkCacheRun& tool : tools) {
        EXPECT_NE("(none)", option_in(tool.dry_text(), use_option));
        expect_as_plain(tool.plain(), tool.run(), "run with the archive");
    }
    EXPECT_EQ(5u, cache_files(tools[0].cache, ".jsa").size());
}

// After a first run that loads little, the archive follows what the runs
// load: a run that maps it lists as well while it is young, and the next
// has it made again from both lists; a list with no more in it is a quiet
// look.
TEST(ClassCacheJdk, AYoungArchiveLearnsWhatTheRunsLoad)
{
    JdkCacheRun run;
    const std::string young = join(own_dir_of(run.cache), listed_key(run) + ".classes");
    run.env[0].value = "none";
    expect_as_plain(run.plain(), run.run(), "a first run that loads little");
    run.env[0].value = "fork";
    const RunResult plain = run.plain();
    const std::string steps[] = {"# generation 1 quiet 0", "", "# generation 2 quiet 0", "", "# generation 2 quiet 1"};
    for (const std::string& state : steps) {
        expect_as_plain(plain, run.run(), state);
        if (!state.empty()) {  // a run that lists starts no job
            wait_for_archive_run(run.cache);
            EXPECT_EQ(state + '\n', read_file(young).substr(0, state.size() + 1));
        }
    }
    EXPECT_NE(std::string::npos, read_file(young).find("\njava/lang/ProcessBuilder"));
}

// A dry run makes nothing and touches no archive.
TEST(ClassCacheJdk, DryRunsMakeAndTouchNothing)
{
    JdkCacheRun run;
    run.dry_text();
    EXPECT_EQ(std::vector<std::string>{}, list_dir(run.cache));
    run.run();
    run.run();
    wait_for_archive_run(run.cache);
    const std::string archive = archive_of(run);
    const auto time = std::filesystem::last_write_time(archive);
    const std::vector<std::string> names = list_dir(own_dir_of(run.cache));
    EXPECT_EQ(archive, option_in(run.dry_text(), use_option));
    EXPECT_EQ(time, std::filesystem::last_write_time(archive));
    EXPECT_EQ(names, list_dir(own_dir_of(run.cache)));
}

// The fields of /proc/PID/stat after the command of the JVM that makes an
// archive for the installation at `root` ("T PPID ..." while it is stopped),
// with `pid` its pid; empty while there is none.
std::string archive_jvm_stat(const std::string& root, unsigned long* pid = nullptr)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string command = read_file(entry.path() / "cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        if (command.find("-Xshare:dump") != std::string::npos && command.find(root) != std::string::npos) {
            const std::string stat = read_file(entry.path() / "stat");
            if (pid != nullptr)
                *pid = std::stoul(entry.path().filename().string());
            return stat.substr(stat.rfind(')') + 2);
        }
    }
    return std::string();
}

// Its state letter ('T' while it is stopped).
std::string archive_jvm_state(const std::string& root)
{
    return archive_jvm_stat(root).substr(0, 1);
}

// The archive's JVM is stopped while a run of the cache lives, and made
// whole once none does.
TEST(ClassCacheJdk, TheArchiveWaitsForTheRuns)
{
    JdkCacheRun run;
    run.run();
    run.run();  // starts the making
    run.env.insert(run.env.end(), {{"TEST_CHILD_READY", run.scratch / "ready"},
                                   {"TEST_CHILD_SLEEP_MS", "30000"},
                                   {cache_variable, run.cache}});
    std::unique_ptr<BackgroundProgram> tool = run.installation.start(run.args, run.env);
    wait_for_file(run.scratch / "ready");
    std::string state;
    for (int i = 0; i < 200 && state != "T"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        state = archive_jvm_state(run.installation.root());
    }
    EXPECT_EQ("T", state);
    tool->kill();
    tool->wait();
    wait_for_archive_run(run.cache);
    EXPECT_NE("(none)", option_in(run.dry_text(), use_option));
}

// SIGTERM to the run that makes the archive (a sweep of build processes, a
// service stop) ends it and its paused JVM at once, leaves no file of the
// attempt and no mark of failure, and later runs make the archive.
TEST(ClassCacheJdk, TheArchivesRunEndsCleanlyOnSigterm)
{
    JdkCacheRun run;
    const RunResult plain = run.plain();
    run.run();
    run.run();  // starts the making
    start_lasting_run(run);
    unsigned long jvm = 0;
    std::string stat;
    for (int i = 0; i < 200 && stat.compare(0, 1, "T") != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stat = archive_jvm_stat(run.installation.root(), &jvm);
    }
    ASSERT_EQ("T", stat.substr(0, 1));
    const unsigned long job = std::stoul(stat.substr(2));
    ASSERT_EQ(0, kill(static_cast<pid_t>(job), SIGTERM));
    EXPECT_TRUE(process_ends_within(job, 5000));
    EXPECT_TRUE(process_ends_within(jvm, 5000));
    end_lasting_run(run);
    for (const char* suffix : {".bad", ".tmp", ".out", ".args", ".list", ".jsa"})
        EXPECT_EQ(std::vector<std::string>{}, cache_files(run.cache, suffix)) << suffix;
    for (const char* step : {"listing run", "run that starts the archive's"})
        expect_as_plain(plain, run.run(), step);
    wait_for_archive_run(run.cache);
    EXPECT_NE("(none)", option_in(run.dry_text(), use_option));
}

}  // namespace

#endif
