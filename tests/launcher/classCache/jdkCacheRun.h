// The class cache's tests with the real JDK: the Java test tool through the
// launcher with the cache beside plain java, whose output and status each
// run must match byte for byte, and the cases that run it so.
#pragma once

#ifdef BRUMLET_TEST_JDK_HOME

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../launcherTestSupport.h"

namespace cache_testing {

using launcher_testing::EnvVar;
using launcher_testing::RunResult;

// The Java test tool through the launcher with the cache, and through plain
// java, with the same variables (and user); the tool calls a method
// reflectively, of which a JVM that writes an archive would tell.
struct JdkCacheRun {
    explicit JdkCacheRun(const std::string& root = "");
    launcher_testing::Installation installation;
    testing_support::TempDir scratch;
    std::string cache = scratch / "cache";
    std::vector<EnvVar> env = {{"TEST_TOOL_ACTION", "reflect"}, {"LC_ALL", "C.UTF-8"}, {"TEST_CHILD_EXIT", "3"}};
    std::vector<std::string> args = {"a b", "--wrapper-verbose-not"};
    std::vector<std::string> user;  // a command that runs both as another user, or in another setting
    std::vector<std::string> launcher_tail;  // last arguments that the launcher alone gets
    std::string workspace;  // when set: each run in it, made before and deleted once the run is over
    std::unique_ptr<testing_support::BackgroundProgram> other;  // a run of the cache that lives on beside them
    std::string other_bad;  // the mark of failure that keeps it from listing

    RunResult in_workspace(const std::vector<std::string>& argv, const std::vector<EnvVar>& run_env) const;
    RunResult plain() const;
    RunResult run(std::vector<std::string> options = {}) const;
    // The output of a verbose dry run with `options`.
    std::string dry_text(const std::vector<std::string>& options = {}) const;
};

// Expects the launcher's run `result` to be what plain java's was, but for
// the JVM's uptime stamps; `step` names the run.
void expect_as_plain(const RunResult& plain, const RunResult& result, const std::string& step);

// One case: what is set up before the runs, whether an archive is made and
// used, and what is done to it afterwards (the runs after that too must be
// as plain java's, and the archive never handed over again).
struct CacheCase {
    const char* name;
    std::vector<EnvVar> env;
    std::vector<std::string> options;
    bool archive;
    std::function<void(JdkCacheRun&)> before = nullptr;
    std::function<void(JdkCacheRun&)> after = nullptr;  // a change to what the archive was made from
    std::function<void(JdkCacheRun&)> check = nullptr;  // at the end
    std::string root = "";  // the installation's, when it must be this one
    bool kept = false;      // the change keeps what the archive holds: it is handed over at once
};

// Runs the case: the runs that list, make the archive and map it, each as
// plain java's, then its change and its check.
void run_case(const CacheCase& c);

// The key of a run's class list, from the option of a dry run before its first run.
std::string listed_key(const JdkCacheRun& run, const std::vector<std::string>& options = {});

// The run's only archive, with its path; "(none)" when there is not one.
std::string archive_of(const JdkCacheRun& run);

// Cuts the run's archive short.
void truncate_archive(JdkCacheRun& run);

// Starts a run of the cache that lives for ten minutes (under another key:
// another heap size, whose attempt failed, so that it lists nothing), with
// the test launcher: while it does, an archive's JVM is paused, up to the
// longest pause. end_lasting_run ends it.
void start_lasting_run(JdkCacheRun& run);
void end_lasting_run(JdkCacheRun& run);

// The test launcher (with its profiles and seams) in place of the installation's.
void use_test_launcher(JdkCacheRun& run);

}  // namespace cache_testing

#endif
