// The class-data cache from outside, with the test child as java on both
// ports: the options java gets, the files the cache makes, and the run that
// makes the archive in the background.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "../launcherTestSupport.h"
#include "cacheTestSupport.h"

namespace {

using namespace cache_testing;
using namespace launcher_testing;
using namespace testing_support;

// An installation whose runtime (of Java 17) has the test child as java,
// and a cache directory beside it.
class ClassCache : public ::testing::Test {
protected:
    ClassCache()
    {
        make_fake_runtime(jre);
        write_file(join(jre, "release"), "JAVA_VERSION=\"17.0.2\"\n");
        make_dir(cache);
    }

    // The variables of a run with the cache in `dir`.
    std::vector<EnvVar> with_cache(const std::string& dir) const
    {
        std::vector<EnvVar> all = env;
        all.push_back({cache_variable, dir});
        return all;
    }

    // The arguments java got in a run with the cache in `dir` and the
    // `more` variables, which must succeed, as one text.
    std::string run_text(const std::string& dir, const std::vector<EnvVar>& more = {}) const
    {
        std::vector<EnvVar> all = with_cache(dir);
        all.insert(all.end(), more.begin(), more.end());
        RunResult result = installation.run({"x"}, all);
        EXPECT_EQ(0, result.exit_code) << result.out + result.err;
        std::string text;
        for (const std::string& arg : read_child_report(report).args)
            text += arg + ' ';
        return text;
    }

    // The first run, whose java lists a class: later runs find the list
    // complete, and the first of them starts the archive's run.
    void list_classes() const { run_text(cache, {{"TEST_CHILD_LISTS_CLASSES", "1"}}); }

    Installation installation;
    TempDir scratch;
    const std::string jre = scratch / "jre", cache = scratch / "cache", report = scratch / "report";
    const std::vector<EnvVar> env = {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre},
                                     {"TEST_CHILD_REPORT", report},
                                     {"TEST_CHILD_DUMP_REPORT", scratch / "dump"}};
};

// Neither the tool's java nor the archive's sees the variable that starts
// the background run; true when `child` reported at all.
bool reported_without_job_variable(const ChildReport& child)
{
    for (const std::string& variable : child.environment)
        EXPECT_NE(0u, variable.rfind("NATIVE_WRAP_CLASS_CACHE_JOB=", 0)) << variable;
    return child.found;
}

TEST_F(ClassCache, ADryRunNamesTheListInTheCachesDirectoryAndMakesNothing)
{
    const std::string dry_list = option_in(installation.run(dry({"x"}), with_cache(cache)).out, list_option);
    EXPECT_EQ(join(own_dir_of(cache), ""), dry_list.substr(0, own_dir_of(cache).size() + 1));
    EXPECT_EQ(std::vector<std::string>{}, list_dir(cache)) << "a dry run made something";
}

// java writes the list by a name with its pid, made before it runs; a java
// that the tool starts with the same option writes a file of its own,
// never into the list.
TEST_F(ClassCache, JavaWritesTheListByItsProcess)
{
    const std::string list_path =
        option_in(run_text(cache, {{"TEST_CHILD_LISTS_CLASSES", "1"}, {"TEST_CHILD_READY", scratch / "pid"}}), list_option);
    const std::vector<std::string> lists = cache_files(cache, ".list");
    ASSERT_EQ(1u, lists.size());
    const std::string listed = "java/lang/Object id: " + read_file(scratch / "pid") + '\n';
    EXPECT_EQ(listed, read_file(join(own_dir_of(cache), lists[0])));
    std::vector<EnvVar> forked = env;
    forked.push_back({"TEST_CHILD_LISTS_CLASSES", "1"});
    run_program({java_below(jre), list_option + list_path}, forked);
    EXPECT_EQ(listed, read_file(join(own_dir_of(cache), lists[0])));
    EXPECT_EQ(2u, cache_files(cache, ".list", true).size());
}

// The run is over while the archive's java sleeps, also for a caller that
// reads its output to the end; that java runs at the lowest priority, with
// no console, no standard handle of the run's and no other handle
// inherited, in the cache's directory (the caller's may go at once, on
// Windows too). Neither the tool's java nor the archive's sees the variable
// that starts the background run (each reports into the directory it
// starts in).
TEST_F(ClassCache, TheArchivesRunIsDetachedFromTheRunThatStartsIt)
{
    list_classes();
    make_dir(scratch / "work");
    std::vector<EnvVar> starting = clean_launcher_env();
    starting.push_back({"DRAVON_ROOTDIR", installation.root()});
    for (const EnvVar& variable : with_cache(cache))
        starting.push_back(variable);
    starting.push_back({"TEST_CHILD_REPORT", "report"});
    EXPECT_EQ(0, run_with_output_to_pipe({installation.launcher(), "x"}, starting, false, scratch / "work").exit_code);
    const ChildReport tool = read_child_report(join(scratch / "work", "report"));
    EXPECT_TRUE(reported_without_job_variable(tool));
    for (const std::string& arg : tool.args)
        EXPECT_NE(0u, arg.rfind("-XX:", 0)) << arg;
    remove_tree(scratch / "work");
    EXPECT_FALSE(file_exists(scratch / "work")) << "the caller's directory is held";
    EXPECT_FALSE(file_exists(scratch / "dump")) << "the caller waited for the archive's run";
    const std::string facts = wait_for_file(scratch / "dump");
    EXPECT_EQ(on_windows ? "priority:40 console:0 handles:0 inherited:0" : "priority:5 console:0 handles:0",
              facts.substr(0, facts.find('\n')));
    EXPECT_TRUE(std::filesystem::equivalent(own_dir_of(cache), facts.substr(facts.find('\n') + 1))) << facts;
    wait_for_archive_run(cache);
    EXPECT_TRUE(reported_without_job_variable(read_child_report(join(own_dir_of(cache), "report"))));
}

// The archive's java stays paused while another run of the cache lives,
// also while its threads come and go, and goes on after.
TEST_F(ClassCache, TheArchivesJavaIsPausedWhileARunLives)
{
    list_classes();
    run_text(cache, {{"TEST_CHILD_THREADS", "1"}});
    std::vector<EnvVar> lasting = with_cache(cache);
    lasting.insert(lasting.end(), {{"TEST_CHILD_SLEEP_MS", "4000"}, {"TEST_CHILD_READY", scratch / "ready"}});
    std::unique_ptr<BackgroundProgram> other = installation.start({"x"}, lasting);
    wait_for_file(scratch / "ready");
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_FALSE(file_exists(scratch / "dump")) << "not paused";
    other->wait();
    EXPECT_NE("", wait_for_file(scratch / "dump")) << "paused for good";
    wait_for_archive_run(cache);
}

// A java that makes no archive: the background run gives up for good,
// leaving its reason, which a verbose run shows, and runs after get no
// option of the cache.
TEST_F(ClassCache, AJavaThatMakesNoArchiveFailsForGood)
{
    list_classes();
    const std::vector<std::string> lists = cache_files(cache, ".list");
    ASSERT_EQ(1u, lists.size());
    run_text(cache);
    wait_for_archive_run(cache);
    std::vector<std::string> left = list_dir(own_dir_of(cache));
    std::sort(left.begin(), left.end());
    EXPECT_EQ((std::vector<std::string>{lists[0].substr(0, 16) + ".bad", "runs.lock"}), left);
    EXPECT_NE(std::string::npos,
              installation.run(dry({"--wrapper-verbose", "x"}), with_cache(cache)).out.find("The JVM made no archive."));
    EXPECT_EQ("(none)", option_in(run_text(cache), "-XX:"));
}

// Paused no longer than the longest pause (a second with the test
// launcher), counted by the clock, while the JVM's threads come and go and
// a run of the cache (under another key) lives on.
TEST_F(ClassCache, PausedNoLongerThanTheLongestPause)
{
    const Installation tested({tool_jar}, "", "", built_test_launcher());
    const std::string limited = scratch / "limited";
    std::vector<EnvVar> limiting = with_cache(limited);
    limiting.push_back({"TEST_CHILD_LISTS_CLASSES", "1"});
    EXPECT_EQ(0, tested.run({"x"}, limiting).exit_code);
    std::vector<EnvVar> outliving = with_cache(limited);
    outliving.insert(outliving.end(), {{"TEST_CHILD_SLEEP_MS", "10000"}, {"TEST_CHILD_READY", scratch / "outliving"}});
    std::unique_ptr<BackgroundProgram> other = tested.start({"--jvm-max-heap-size=300m", "x"}, outliving);
    wait_for_file(scratch / "outliving");
    const auto began = std::chrono::steady_clock::now();
    limiting.insert(limiting.end(), {{"TEST_CHILD_THREADS", "1"},
                                     {"BRUMLET_TEST_LONGEST_PAUSE_MS", "1000"},
                                     {"TEST_CHILD_DUMP_REPORT", scratch / "limited-dump"}});
    EXPECT_EQ(0, tested.run({"x"}, limiting).exit_code);
    wait_for_file(scratch / "limited-dump");
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    EXPECT_LT(waited.count(), 6000) << "paused past the longest pause";
    other->kill();
    other->wait();
    wait_for_archive_run(limited);
}

// A stand-in that makes the archive as the JVM does: it is placed and
// handed over; once changed, it is not, and it is deleted, read-only as it
// is.
TEST_F(ClassCache, AMadeArchiveIsHandedOverUntilItChanges)
{
    const std::string made = scratch / "made";
    const std::vector<EnvVar> makes = {{"TEST_CHILD_MAKES_ARCHIVE", "1"}, unset("TEST_CHILD_DUMP_REPORT")};
    make_dir(made);
    run_text(made, makes);
    write_file(join(own_dir_of(made), cache_files(made, ".list").at(0)), "java/lang/Object id: 0\n");
    run_text(made, makes);
    wait_for_archive_run(made);
    const std::string archive = join(own_dir_of(made), cache_files(made, ".jsa").at(0));
    const std::string young_run = run_text(made, makes), handed = option_in(young_run, use_option);
    EXPECT_NE("(none)", handed);
    EXPECT_NE("(none)", option_in(young_run, list_option)) << "young, it lists as well";
    if (on_windows) {
        EXPECT_EQ(archive, handed);  // by its path (on Linux /dev/fd/N)
        // Neither the archive nor runs.lock is inherited: as without the cache.
        const auto facts = [this] { return read_file(report).substr(read_file(report).find("facts:")); };
        const std::string with_archive = facts();
        run_text("");
        EXPECT_EQ(with_archive, facts());
    }
    // Copied away and back (a CI cache's restore): new identities, the same
    // bytes; a dry run, then the run, hand it over.
    std::filesystem::copy(made, scratch / "saved", std::filesystem::copy_options::recursive);
    std::filesystem::permissions(archive, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    std::filesystem::remove_all(made);
    std::filesystem::copy(scratch / "saved", made, std::filesystem::copy_options::recursive);
    const std::string dry_text = installation.run(dry({"--wrapper-verbose"}), with_cache(made)).out;
    EXPECT_EQ(archive, option_in(dry_text, use_option));
    EXPECT_NE("(none)", option_in(run_text(made, makes), use_option));
    std::filesystem::permissions(archive, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    write_file(archive, "changed");
    std::filesystem::permissions(archive, std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
    EXPECT_EQ(0u, installation.run(dry({"--wrapper-verbose"}), with_cache(made))
                      .out.find("Class cache: the archive of this launch is discarded and made anew: '" + archive +
                                "' has changed since it was made."));
    EXPECT_EQ("(none)", option_in(run_text(made, makes), use_option));
    EXPECT_FALSE(file_exists(archive));
}

// A jar changed in place while the archive is made (the same size and last
// write, as `cp -p` leaves it) leaves it unplaced, with no mark of failure:
// the next run has it made from the jar as it is then.
TEST_F(ClassCache, AJarChangedDuringTheDumpKeepsTheArchiveOut)
{
    const std::string jar = join(installation.bin_dir(), tool_jar);
    write_file(jar, "a jar of its own");
    list_classes();
    // The attempt is over once its dump has reported and its files are gone.
    run_text(cache, {{"TEST_CHILD_MAKES_ARCHIVE", "1"}, {"TEST_CHILD_DUMP_CHANGES", jar}});
    wait_for_file(scratch / "dump");
    for (int i = 0; i < 300 && !cache_files(cache, ".args").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(0u, cache_files(cache, ".jsa").size() + cache_files(cache, ".bad").size());
    run_text(cache, {{"TEST_CHILD_MAKES_ARCHIVE", "1"}});
    wait_for_archive_run(cache);
    EXPECT_EQ(1u, cache_files(cache, ".jsa").size());
}

// One preparing run lists and leaves the archive in place before it ends;
// no java of it sees the variable.
TEST_F(ClassCache, APreparingRunLeavesTheArchiveInPlace)
{
    run_text(cache, {{"TEST_CHILD_LISTS_CLASSES", "1"},
                     {"TEST_CHILD_MAKES_ARCHIVE", "1"},
                     unset("TEST_CHILD_DUMP_REPORT"),
                     {"NATIVE_WRAP_CLASS_CACHE_PREPARE", "1"}});
    EXPECT_EQ(1u, cache_files(cache, ".jsa").size());
    const ChildReport trial = read_child_report(report);
    EXPECT_TRUE(trial.found);
    for (const std::string& variable : trial.environment)
        EXPECT_NE(0u, variable.rfind("NATIVE_WRAP_CLASS_CACHE_PREPARE=", 0)) << variable;
}

// A cache directory whose name the system's code page lacks reaches
// java.exe by its short name, where it lists the classes.
TEST_F(ClassCache, ADirectoryOutsideTheCodePageGoesByItsShortName)
{
    const std::string odd_cache = scratch / "\xc5\x81\xc3\xb3" "d\xc5\xba";
    make_dir(odd_cache);
    const std::string odd_list = option_in(run_text(odd_cache), list_option);
    if (on_windows) {
        EXPECT_TRUE(is_ascii(odd_list)) << odd_list;
    }
    EXPECT_EQ(1u, cache_files(odd_cache, ".list").size());
}

// A cache directory that is not there is made, with its parents, for this user alone.
TEST_F(ClassCache, AMissingDirectoryIsMadeForThisUserAlone)
{
    const std::string missing = join(scratch / "missing", "deeper");
    EXPECT_NE("(none)", option_in(run_text(missing), list_option));
    EXPECT_EQ(1u, cache_files(missing, ".list").size());
    if (!on_windows) {
        for (const std::string& made_dir : {scratch / "missing", missing})
            EXPECT_EQ(std::filesystem::perms::owner_all, std::filesystem::status(made_dir).permissions()) << made_dir;
    }
}

// The JVM cannot take a path with the list separator in it: nothing is made.
TEST_F(ClassCache, APathWithTheListSeparatorGetsNothing)
{
    const std::string separated = scratch / (std::string("a") + list_separator + "b");
    make_dir(separated);
    EXPECT_EQ("(none)", option_in(run_text(separated), "-XX:"));
    EXPECT_EQ(0u, installation.run(dry({"--wrapper-verbose"}), with_cache(separated)).out.find(
                      "Class cache not used: the JVM cannot take the path"));
    EXPECT_EQ(std::vector<std::string>{}, list_dir(separated));
}

// A directory above in which others may delete what is ours; sticky, safe.
TEST_F(ClassCache, ADirectoryAboveThatOthersMayChangeGetsNothing)
{
    if (on_windows)
        GTEST_SKIP() << "Wine gives no way to set such a directory's access list";
    const std::string shared = scratch / "shared", below = join(shared, "cache");
    make_dir(shared);
    std::filesystem::permissions(shared, std::filesystem::perms(0775));
    EXPECT_EQ("(none)", option_in(run_text(below), "-XX:"));
    EXPECT_NE(std::string::npos, installation.run(dry({"--wrapper-verbose"}), with_cache(below))
                                     .out.find("another user may rename or replace what is in '" + shared + "'"));
    std::filesystem::permissions(shared, std::filesystem::perms(01777));
    EXPECT_NE("(none)", option_in(run_text(below), list_option));
}

// An empty variable, and a runtime older than 13, get no cache.
TEST_F(ClassCache, AnEmptyVariableOrAnOldRuntimeGetsNothing)
{
    const std::string plain = run_text("");
    EXPECT_EQ("(none)", option_in(plain, "-X"));
    write_file(join(jre, "release"), "JAVA_VERSION=\"1.8.0_392\"\n");
    EXPECT_EQ(plain, run_text(scratch / "other"));
}

}  // namespace
