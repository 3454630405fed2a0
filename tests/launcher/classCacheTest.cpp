// The class-data cache (NATIVE_WRAP_CLASS_CACHE) from outside: with the
// test child as java on both ports, the options java gets and the files the
// cache makes; on Linux the real JDK's runs beside plain java's, whose
// output and status they must match byte for byte in every case.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "launcherTestSupport.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

const char cache_variable[] = "NATIVE_WRAP_CLASS_CACHE";
const char list_option[] = "-XX:DumpLoadedClassList=";
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

std::string own_dir_of(const std::string& cache)
{
    return join(cache, "brumlet-classes");
}

// The names in the cache's own directory that end in `suffix`, those of
// single processes (KEY.pidN.list) only when `of_processes`.
std::vector<std::string> cache_files(const std::string& cache, const std::string& suffix, bool of_processes = false)
{
    std::vector<std::string> found;
    for (const std::string& name : list_dir(own_dir_of(cache))) {
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            of_processes == (name.find(".pid") != std::string::npos))
            found.push_back(name);
    }
    return found;
}

// Whether a class list with classes in it waits in the cache: only such a
// list starts the detached run, which removes it when done.
bool list_waits(const std::string& cache)
{
    // On a disk with less than 256 MB free no archive is made.
    std::error_code error;
    if (std::filesystem::space(cache, error).available < (256u << 20) && !error)
        return false;
    for (const std::string& name : cache_files(cache, ".list")) {
        std::error_code error;
        if (std::filesystem::file_size(join(own_dir_of(cache), name), error) > 0 && !error)
            return true;
    }
    return false;
}

// Waits (up to two minutes) until no class list waits in the cache: the
// detached run has made the archive or given up.
void wait_for_archive_run(const std::string& cache)
{
    for (int i = 0; i < 1200 && list_waits(cache); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// With the test child as java: a dry run makes nothing; the first run has
// the JVM list its classes into a file of the cache's own directory; a
// later run finds the list and starts the detached run, which gives up for
// good on a java that makes no archive; a directory whose path holds the
// list separator, an empty variable and a runtime older than 13 get nothing.
TEST(ClassCache, OptionsAndFilesWithAStandInJava)
{
    Installation installation;
    TempDir scratch;
    const std::string jre = scratch / "jre", cache = scratch / "cache", report = scratch / "report";
    make_fake_runtime(jre);
    write_file(join(jre, "release"), "JAVA_VERSION=\"17.0.2\"\n");
    make_dir(cache);
    const std::vector<EnvVar> env = {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre},
                                     {"TEST_CHILD_REPORT", report},
                                     {"TEST_CHILD_DUMP_REPORT", scratch / "dump"}};
    auto with_cache = [&](const std::string& dir) {
        std::vector<EnvVar> all = env;
        all.push_back({cache_variable, dir});
        return all;
    };
    auto run_text = [&](const std::string& dir, const std::vector<EnvVar>& more = {}, const std::string& cwd = "") {
        std::vector<EnvVar> all = with_cache(dir);
        all.insert(all.end(), more.begin(), more.end());
        RunResult result = installation.run({"x"}, all, cwd);
        EXPECT_EQ(0, result.exit_code) << result.out + result.err;
        std::string text;
        for (const std::string& arg : read_child_report(report).args)
            text += arg + ' ';
        return text;
    };

    const std::string dry_list = option_in(installation.run(dry({"x"}), with_cache(cache)).out, list_option);
    EXPECT_EQ(join(own_dir_of(cache), ""), dry_list.substr(0, own_dir_of(cache).size() + 1));
    EXPECT_EQ(std::vector<std::string>{}, list_dir(cache)) << "a dry run made something";
    // java writes the list by a name with its pid, made before it runs; a
    // java that the tool starts with the same option writes a file of its
    // own, never into the list.
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
    // The run is over while the archive's java sleeps, also for a caller
    // that reads its output to the end; that java runs at the lowest
    // priority, with no console, no standard handle of the run's and no
    // other handle inherited, in the cache's directory (the caller's may go
    // at once, on Windows too); it stays paused while another run of the
    // cache lives, also while its threads come and go, and goes on after.
    // Neither the tool's java nor the archive's sees the variable that
    // starts the background run (each reports into the directory it starts
    // in).
    const auto job_variable_in = [](const ChildReport& child) {
        for (const std::string& variable : child.environment)
            EXPECT_NE(0u, variable.rfind("NATIVE_WRAP_CLASS_CACHE_JOB=", 0)) << variable;
        return child.found;
    };
    make_dir(scratch / "work");
    std::vector<EnvVar> starting = clean_launcher_env();
    starting.push_back({"DRAVON_ROOTDIR", installation.root()});
    for (const EnvVar& variable : with_cache(cache))
        starting.push_back(variable);
    starting.insert(starting.end(), {{"TEST_CHILD_THREADS", "1"}, {"TEST_CHILD_REPORT", "report"}});
    EXPECT_EQ(0, run_with_output_to_pipe({installation.launcher(), "x"}, starting, false, scratch / "work").exit_code);
    const ChildReport tool = read_child_report(join(scratch / "work", "report"));
    EXPECT_TRUE(job_variable_in(tool));
    for (const std::string& arg : tool.args)
        EXPECT_NE(0u, arg.rfind("-XX:", 0)) << arg;
    remove_tree(scratch / "work");
    EXPECT_FALSE(file_exists(scratch / "work")) << "the caller's directory is held";
    EXPECT_FALSE(file_exists(scratch / "dump")) << "the caller waited for the archive's run";
    std::vector<EnvVar> lasting = with_cache(cache);
    lasting.insert(lasting.end(), {{"TEST_CHILD_SLEEP_MS", "4000"}, {"TEST_CHILD_READY", scratch / "ready"}});
    std::unique_ptr<BackgroundProgram> other = installation.start({"x"}, lasting);
    wait_for_file(scratch / "ready");
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_FALSE(file_exists(scratch / "dump")) << "not paused";
    other->wait();
    const std::string facts = wait_for_file(scratch / "dump");
    EXPECT_EQ(on_windows ? "priority:40 console:0 handles:0 inherited:0" : "priority:5 console:0 handles:0",
              facts.substr(0, facts.find('\n')));
    EXPECT_TRUE(std::filesystem::equivalent(own_dir_of(cache), facts.substr(facts.find('\n') + 1))) << facts;
    wait_for_archive_run(cache);
    EXPECT_TRUE(job_variable_in(read_child_report(join(own_dir_of(cache), "report"))));
    std::filesystem::remove(join(own_dir_of(cache), "report"));
    std::vector<std::string> left = list_dir(own_dir_of(cache));
    std::sort(left.begin(), left.end());
    EXPECT_EQ((std::vector<std::string>{lists[0].substr(0, 16) + ".bad", "runs.lock"}), left);
    EXPECT_NE(std::string::npos,
              installation.run(dry({"--wrapper-verbose", "x"}), with_cache(cache)).out.find("The JVM made no archive."));
    EXPECT_EQ("(none)", option_in(run_text(cache), "-XX:"));

    // Paused no longer than the longest pause (a second with the test
    // launcher), counted by the clock, while the JVM's threads come and go
    // and a run of the cache (under another key) lives on.
    const Installation tested({tool_jar}, "", "", built_test_launcher());
    const std::string limited = scratch / "limited";
    std::vector<EnvVar> limiting = with_cache(limited);
    limiting.push_back({"TEST_CHILD_LISTS_CLASSES", "1"});
    EXPECT_EQ(0, tested.run({"x"}, limiting).exit_code);
    std::vector<EnvVar> outliving = with_cache(limited);
    outliving.insert(outliving.end(), {{"TEST_CHILD_SLEEP_MS", "10000"}, {"TEST_CHILD_READY", scratch / "outliving"}});
    other = tested.start({"--jvm-max-heap-size=300m", "x"}, outliving);
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

    // A stand-in that makes the archive as the JVM does: it is placed and
    // handed over; once changed, it is not, and it is deleted, read-only as
    // it is.
    const std::string made = scratch / "made";
    const std::vector<EnvVar> makes = {{"TEST_CHILD_MAKES_ARCHIVE", "1"}, unset("TEST_CHILD_DUMP_REPORT")};
    make_dir(made);
    run_text(made, makes);
    write_file(join(own_dir_of(made), cache_files(made, ".list").at(0)), "java/lang/Object id: 0\n");
    run_text(made, makes);
    wait_for_archive_run(made);
    const std::string archive = join(own_dir_of(made), cache_files(made, ".jsa").at(0));
    const std::string handed = option_in(run_text(made, makes), use_option);
    EXPECT_NE("(none)", handed);
    if (on_windows) {
        EXPECT_EQ(archive, handed);  // by its path (on Linux /dev/fd/N)
    }
    std::filesystem::permissions(archive, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    write_file(archive, "changed");
    std::filesystem::permissions(archive, std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
    EXPECT_EQ("(none)", option_in(run_text(made, makes), use_option));
    EXPECT_FALSE(file_exists(archive));

    // A cache directory whose name the system's code page lacks reaches
    // java.exe by its short name, where it lists the classes.
    const std::string odd_cache = scratch / "\xc5\x81\xc3\xb3" "d\xc5\xba";
    make_dir(odd_cache);
    const std::string odd_list = option_in(run_text(odd_cache), list_option);
    if (on_windows) {
        EXPECT_TRUE(is_ascii(odd_list)) << odd_list;
    }
    EXPECT_EQ(1u, cache_files(odd_cache, ".list").size());

    // A cache directory that is not there is made, with its parents, for this user alone.
    const std::string missing = join(scratch / "missing", "deeper");
    EXPECT_NE("(none)", option_in(run_text(missing), list_option));
    EXPECT_EQ(1u, cache_files(missing, ".list").size());
    if (!on_windows) {
        for (const std::string& made_dir : {scratch / "missing", missing})
            EXPECT_EQ(std::filesystem::perms::owner_all, std::filesystem::status(made_dir).permissions()) << made_dir;
    }

    const std::string separated = scratch / (std::string("a") + list_separator + "b");
    make_dir(separated);
    EXPECT_EQ("(none)", option_in(run_text(separated), "-XX:"));
    EXPECT_EQ(0u, installation.run(dry({"--wrapper-verbose"}), with_cache(separated)).out.find(
                      "Class cache not used: the JVM cannot take the path"));
    EXPECT_EQ(std::vector<std::string>{}, list_dir(separated));
    const std::string plain = run_text("");
    EXPECT_EQ("(none)", option_in(plain, "-X"));
    write_file(join(jre, "release"), "JAVA_VERSION=\"1.8.0_392\"\n");
    EXPECT_EQ(plain, run_text(scratch / "other"));
}

#ifdef BRUMLET_TEST_JDK_HOME

const std::vector<std::string> as_nobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

// The installation's runtime made a directory of links to the JDK's
// entries, with its own java and JVM library, whose default class-data
// archive no one but root may read.
void runtime_with_unreadable_archive(const std::string& jre)
{
    namespace fs = std::filesystem;
    fs::remove(jre);
    for (const std::string dir : {"", "/bin", "/lib", "/lib/server"}) {
        make_dir(jre + dir);
        for (const fs::directory_entry& entry : fs::directory_iterator(test_jdk_home() + dir)) {
            const std::string name = entry.path().filename().string(), own = jre + dir + '/' + name;
            const bool made_here = (dir.empty() && (name == "bin" || name == "lib")) || (dir == "/lib" && name == "server");
            if (dir == "/lib/server" || name == "java") {
                copy_file(entry.path().string(), own);
            } else if (!made_here) {
                ASSERT_TRUE(make_symlink(entry.path().string(), own));
            }
        }
    }
    fs::permissions(jre + "/lib/server/classes.jsa", fs::perms::none);
}

// A ten-line Java agent, made once with the JDK's javac and jar.
std::string agent_jar()
{
    static const std::string jar = [] {
        const std::string dir = join(own_dir(), "cache-test-agent"), jdk_bin = join(test_jdk_home(), "bin");
        remove_tree(dir);
        make_dir(dir);
        write_file(join(dir, "Agent.java"),
                   "public class Agent {\n    public static void premain(String args) {\n"
                   "        System.err.println(\"agent here\");\n    }\n}\n");
        write_file(join(dir, "manifest"), "Premain-Class: Agent\n");
        run_program({join(jdk_bin, "javac"), "-d", dir, join(dir, "Agent.java")});
        run_program({join(jdk_bin, "jar"), "cfm", join(dir, "agent.jar"), join(dir, "manifest"), "-C", dir, "Agent.class"});
        return join(dir, "agent.jar");
    }();
    return jar;
}

// The Java test tool through the launcher with the cache, and through plain
// java, with the same variables (and user); the tool calls a method
// reflectively, of which a JVM that writes an archive would tell.
struct JdkCacheRun {
    explicit JdkCacheRun(const std::string& root = "") : installation({tool_jar}, root) { make_dir(cache); }
    Installation installation;
    TempDir scratch;
    std::string cache = scratch / "cache";
    std::vector<EnvVar> env = {{"TEST_TOOL_ACTION", "reflect"}, {"LC_ALL", "C.UTF-8"}, {"TEST_CHILD_EXIT", "3"}};
    std::vector<std::string> args = {"a b", "--wrapper-verbose-not"};
    std::vector<std::string> user;  // a command that runs both as another user, or in another setting
    std::vector<std::string> launcher_tail;  // last arguments that the launcher alone gets
    std::string workspace;  // when set: each run in it, made before and deleted once the run is over
    std::unique_ptr<BackgroundProgram> other;  // a run of the cache that lives on beside them
    std::string other_bad;                     // the mark of failure that keeps it from listing

    RunResult in_workspace(const std::vector<std::string>& argv, const std::vector<EnvVar>& env) const
    {
        if (workspace.empty())
            return run_program(argv, env);
        make_dir(workspace);
        const RunResult result = run_program(argv, env, workspace);
        remove_tree(workspace);
        return result;
    }
    RunResult plain() const
    {
        std::vector<std::string> argv = user;
        argv.insert(argv.end(), {java_below(installation.jre_dir()), "-cp", join(installation.bin_dir(), tool_jar),
                                 "com.velkor.brumlet.Brumlet"});
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<EnvVar> all = clean_launcher_env();
        all.insert(all.end(), env.begin(), env.end());
        return in_workspace(argv, all);
    }
    RunResult run(std::vector<std::string> options = {}) const
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
    std::string dry_text(const std::vector<std::string>& options = {}) const
    {
        std::vector<std::string> all = dry({"--wrapper-verbose"});
        all.insert(all.end(), options.begin(), options.end());
        return run(all).out;
    }
};

// `text` without the JVM's uptime stamps ("[0.006s]"), which differ from run to run.
std::string without_uptimes(const std::string& text)
{
    static const std::regex uptime("\\[[0-9]+\\.[0-9]+s\\]");
    return std::regex_replace(text, uptime, "[uptime]");
}

void expect_as_plain(const RunResult& plain, const RunResult& result, const std::string& step)
{
    EXPECT_EQ(plain.exit_code, result.exit_code) << step;
    EXPECT_EQ(without_uptimes(plain.out), without_uptimes(result.out)) << step;
    EXPECT_EQ(without_uptimes(plain.err), without_uptimes(result.err)) << step;
}

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
};

// A shell command that runs the rest of its words after `setting`.
std::vector<std::string> in_shell(const std::string& setting)
{
    return {"/bin/sh", "-c", setting + "; exec \"$@\"", "sh"};
}

// The key of a run's class list, from the option of a dry run before its first run.
std::string listed_key(const JdkCacheRun& run, const std::vector<std::string>& options = {})
{
    const std::string list = option_in(run.dry_text(options), list_option);
    return list.substr(list.rfind('/') + 1, 16);
}

// The run's only archive, with its path.
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
        // Where no archive comes the third run lists anew, for a fourth.
        if (c.archive || step == "second run")
            wait_for_archive_run(run.cache);
    }
    const std::string dry_text = run.dry_text(c.options);
    EXPECT_EQ(c.archive, option_in(dry_text, use_option) != "(none)") << dry_text;
    if (c.archive) {
        // The JVM takes it: a refused one leaves a run sharing nothing
        // where plain java shares the runtime's.
        run.env.push_back({"TEST_TOOL_SHARING", "1"});
        const std::string shared = ", sharing\n", plain_out = run.plain().out, out = run.run(c.options).out;
        if (plain_out.find(shared) != std::string::npos) {
            EXPECT_NE(std::string::npos, out.find(shared)) << out;
        }
        run.env.pop_back();
    }
    if (c.after) {
        const std::string archive = archive_of(run);
        c.after(run);
        expect_as_plain(plain, run.run(c.options), "run after the change");
        EXPECT_NE(archive, option_in(run.dry_text(c.options), use_option)) << "handed over again";
    }
    if (c.check)
        c.check(run);
}

void truncate_archive(JdkCacheRun& run)
{
    std::filesystem::resize_file(archive_of(run), 60000);
}

void change_archive_bytes(JdkCacheRun& run)
{
    std::string content = read_file(archive_of(run));
    content.replace(content.size() / 2, 64, std::string(64, '\x5a'));
    std::filesystem::permissions(archive_of(run), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    write_file(archive_of(run), content);
}

// A file replaced by a copy of the same size and times, as cp -p, tar and
// rsync leave it.
void replace_keeping_times(const std::string& path)
{
    ASSERT_EQ(0, run_program({"/usr/bin/cp", "-p", path, path + ".new"}).exit_code);
    std::filesystem::rename(path + ".new", path);
}

// A jar named only by the manifest of another: lead.jar's Class-Path.
void add_manifest_jar(JdkCacheRun& run)
{
    const std::string dir = run.scratch / "lead";
    make_dir(dir);
    make_dir(join(run.installation.bin_dir(), "extra"));
    copy_file(agent_jar(), join(join(run.installation.bin_dir(), "extra"), "dep.jar"));
    write_file(join(dir, "manifest"), "Class-Path: extra/dep.jar\n");
    run_program({join(join(test_jdk_home(), "bin"), "jar"), "cfm", join(run.installation.bin_dir(), "lead.jar"),
                 join(dir, "manifest")});
}

// Launcher options that put 40 jars of 3.5 KB paths, none of them there,
// on the class path: past the 128 KiB that Linux takes for one argument.
std::vector<std::string> long_classpath_options()
{
    std::string dir = "/brumlet-not-there";
    for (int i = 0; i < 17; ++i)
        dir += '/' + std::string(200, 'd');
    std::vector<std::string> options;
    for (int i = 0; i < 40; ++i)
        options.push_back("--wrapper-add-jar=" + dir + "/jar" + std::to_string(i) + ".jar");
    return options;
}

// The test launcher (with its profiles and seams) in place of the installation's.
void use_test_launcher(JdkCacheRun& run)
{
    std::filesystem::remove(run.installation.launcher());
    copy_file(built_test_launcher(), run.installation.launcher());
    copy_file(join(own_dir(), "splash.png"), join(run.installation.bin_dir(), "splash.png"));
}

// A run of the cache that lives for ten minutes (under another key: another
// heap size, whose attempt failed, so that it lists nothing), with the test
// launcher: while it does, an archive's JVM is paused, up to the longest pause.
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

// Every case the cache must survive: the tool's output and status are plain
// java's on every run, the archive made where it can be, used only while
// whole and current.
TEST(ClassCacheJdk, EveryRunMatchesPlainJava)
{
    const std::string agent = "-javaagent:" + agent_jar();
    std::vector<CacheCase> cases = {
        {"plain", {}, {}, true, nullptr, nullptr},
        {"agent", {{"JAVA_TOOL_OPTIONS", agent}}, {}, true, nullptr, nullptr},
        {"debugger",
         {{"JDK_JAVA_OPTIONS", "-agentlib:jdwp=transport=dt_socket,server=y,suspend=n,address=localhost:0,quiet=y"}},
         {},
         true,
         nullptr,
         nullptr},
        {"limited modules", {{"JDK_JAVA_OPTIONS", "--limit-modules java.base,java.desktop,java.management"}}, {}, true,
         nullptr, nullptr},
        {"object alignment", {{"JDK_JAVA_OPTIONS", "-XX:ObjectAlignmentInBytes=16"}}, {}, true, nullptr, nullptr},
        // Newer runtimes warn that their own archive does not fit.
        {"no compressed class pointers", {{"JDK_JAVA_OPTIONS", "-XX:-UseCompressedClassPointers"}}, {},
         test_jdk_version() <= 17,
         nullptr, nullptr},
        // The archive is made with the layout the runs have.
        {"compact object headers", {{"JDK_JAVA_OPTIONS", "-XX:+UseCompactObjectHeaders"}}, {},
         test_jdk_version() >= 24, nullptr, nullptr},
        {"ZGC", {{"JDK_JAVA_OPTIONS", "-XX:+UseZGC"}}, {}, true, nullptr, nullptr},
        // The JVM refuses linked classes to a run with module options the dump lacked.
        {"a module option", {{"JDK_JAVA_OPTIONS", "--add-opens=java.base/java.lang=ALL-UNNAMED"}}, {}, true, nullptr,
         nullptr},
        {"@ and Shared in values", {{"JDK_JAVA_OPTIONS", "-Dmail=me@example.com -Dname=Shared"}}, {}, true, nullptr,
         nullptr},
        // The archive's run sees it as unset, as java does.
        {"empty JDK_JAVA_OPTIONS", {{"JDK_JAVA_OPTIONS", ""}}, {}, true, nullptr, nullptr},
        // Its child gets the same options: no warning, no write into the list.
        {"a tool that starts a JVM with its own input arguments", {{"TEST_TOOL_ACTION", "fork"}}, {}, true, nullptr,
         nullptr, [](JdkCacheRun& run) { EXPECT_EQ(std::vector<std::string>{}, cache_files(run.cache, ".list", true)); }},
        // A file of the cache would take descriptor 0-2, and the tool's output would go there.
        {"closed standard streams", {{"TEST_TOOL_ACTION", "thread"}}, {}, false,
         [](JdkCacheRun& run) { run.user = in_shell("exec <&- >&- 2>&-"); }, nullptr,
         [](JdkCacheRun& run) { EXPECT_EQ(std::vector<std::string>{}, list_dir(run.cache)); }},
        {"a hard limit of 8 open files", {}, {}, false, [](JdkCacheRun& run) { run.user = in_shell("ulimit -n 8"); },
         nullptr, nullptr},
        {"options printed", {{"JDK_JAVA_OPTIONS", "-XX:+PrintVMOptions"}}, {}, false, nullptr, nullptr},
        // JDK 17 refuses the option, with plain java as through the cache.
        {"ahead-of-time cache off", {{"JDK_JAVA_OPTIONS", "-XX:AOTMode=off"}}, {}, false, nullptr, nullptr},
        // The record names its jars by paths that hold tabs and line breaks.
        {"a tab in the installation's path", {}, {}, true, nullptr, nullptr, nullptr, TempDir().path() + "-x\ty"},
        {"a missing cache directory", {}, {}, true, [](JdkCacheRun& run) { run.cache = run.scratch / "new/deeper"; },
         nullptr, nullptr},
        {"a link by the archive's name", {}, {}, true, nullptr,
         [](JdkCacheRun& run) {
             const std::string archive = archive_of(run);
             std::filesystem::rename(archive, run.scratch / "moved.jsa");
             ASSERT_TRUE(make_symlink(run.scratch / "moved.jsa", archive));
         },
         [](JdkCacheRun& run) {
             EXPECT_NE(std::string::npos, run.dry_text().find("is not this user's own file")) << run.dry_text();
         }},
        // In place: the inode is kept, the change time is not.
        {"jar rewritten in place with the same size and times", {}, {}, true, nullptr,
         [](JdkCacheRun& run) {
             const std::string jar = join(run.installation.bin_dir(), tool_jar);
             const auto time = std::filesystem::last_write_time(jar);
             write_file(jar, read_file(jar));
             std::filesystem::last_write_time(jar, time);
         }},
        {"cut archive", {}, {}, true, nullptr, truncate_archive},
        {"changed archive bytes", {}, {}, true, nullptr, change_archive_bytes},
        {"jar replaced with the same size and times", {}, {}, true, nullptr,
         [](JdkCacheRun& run) { replace_keeping_times(join(run.installation.bin_dir(), tool_jar)); }},
        {"manifest jar replaced with the same size and times", {}, {}, true, add_manifest_jar,
         [](JdkCacheRun& run) { replace_keeping_times(join(join(run.installation.bin_dir(), "extra"), "dep.jar")); }},
        // Root passes every permission check, but not the test of the owner.
        {"archive of another user", {}, {}, true, nullptr,
         [](JdkCacheRun& run) { ASSERT_EQ(0, run_program({"/usr/bin/chown", "65534", archive_of(run)}).exit_code); }},
        // java gets it in an argument file that leaves nothing behind.
        {"class path over 128 KiB", {}, long_classpath_options(), true,
         [](JdkCacheRun& run) {
             make_dir(run.scratch / "tmp");
             run.env.push_back({"TMPDIR", run.scratch / "tmp"});
         },
         nullptr, [](JdkCacheRun& run) { EXPECT_EQ(std::vector<std::string>{}, list_dir(run.scratch / "tmp")); }},
        // The archive's run works in the cache's directory, with signals
        // as the system sets them, whatever the caller's.
        {"the caller's directory deleted after each run", {}, {}, true,
         [](JdkCacheRun& run) { run.workspace = run.scratch / "workspace"; }, nullptr, nullptr},
        {"a caller that ignores SIGCHLD", {}, {}, true,
         [](JdkCacheRun& run) { run.user = {"/usr/bin/perl", "-e", "$SIG{CHLD} = 'IGNORE'; exec @ARGV"}; }, nullptr,
         nullptr},
        {"a trailing --splash=N that leaves a profile's splash out", {{"BRUMLET_TEST_PROFILE", "splash"}}, {}, true,
         [](JdkCacheRun& run) {
             use_test_launcher(run);
             run.launcher_tail = {"--splash=1"};
         },
         nullptr, nullptr},
        {"a run of the cache that outlives the longest pause", {{"BRUMLET_TEST_LONGEST_PAUSE_MS", "1000"}}, {}, true,
         start_lasting_run, nullptr, end_lasting_run},
    };
    // A launcher built with AddressSanitizer reserves terabytes of address
    // space for its shadow memory and cannot start under such a limit.
    if (!launcher_is_sanitized)
        cases.push_back(
        // The dump cannot reserve its space under the caller's limit: no
        // mark of failure, and runs without the limit get the archive.
        {"an address-space limit that the dump cannot work under",
         {{"JDK_JAVA_OPTIONS", "-Xmx64m -XX:CompressedClassSpaceSize=64m -XX:ReservedCodeCacheSize=32m"}}, {}, false,
         [](JdkCacheRun& run) { run.user = {"/bin/sh", "-c", "ulimit -v 2000000 && exec \"$@\"", "sh"}; }, nullptr,
         [](JdkCacheRun& run) {
             EXPECT_EQ(std::vector<std::string>{}, cache_files(run.cache, ".bad"));
             run.user.clear();
             expect_as_plain(run.plain(), run.run(), "run without the limit");
             wait_for_archive_run(run.cache);
             expect_as_plain(run.plain(), run.run(), "run without the limit, after");
             wait_for_archive_run(run.cache);
             EXPECT_NE("(none)", option_in(run.dry_text(), use_option));
         }});
    for (const CacheCase& c : cases)
        run_case(c);
}

// In-process the JVM maps the same archive by the same options. Named with
// the other in-process launches, which the sanitized build checks apart.
TEST(InProcessJdk, ClassCacheRunsMatchPlainJava)
{
    run_case({"in-process", {}, {"--wrapper-load-jvm-in-process"}, true, nullptr, truncate_archive});
    run_case({"in-process, returning from main", {unset("TEST_CHILD_EXIT")}, {"--wrapper-load-jvm-in-process"}, true,
              nullptr, nullptr});
}

// Where the cache cannot work it stays out, and touches nothing that is
// not its own: a read-only file system, a directory this user may not
// write, a link in place of its directory, other programs' files.
TEST(ClassCacheJdk, StepsAsideAndTouchesOnlyItsOwnFiles)
{
    if (run_program({"/usr/bin/id", "-u"}).out != "0\n")
        GTEST_SKIP() << "mounts and other users need root";
    const CacheCase cases[] = {
        {"read-only file system", {}, {}, false,
         [](JdkCacheRun& run) {
             ASSERT_EQ(0, run_program({"/usr/bin/mount", "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", run.cache}).exit_code);
         },
         nullptr, [](JdkCacheRun& run) { run_program({"/usr/bin/umount", run.cache}); }},
        {"no write permission", {}, {}, false, [](JdkCacheRun& run) { run.user = as_nobody; }, nullptr, nullptr},
        // The list is cut short where the disk fills, and no archive is tried.
        {"a disk that fills", {}, {}, false,
         [](JdkCacheRun& run) {
             ASSERT_EQ(0, run_program({"/usr/bin/mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", run.cache}).exit_code);
             run_program({"/usr/bin/dd", "if=/dev/zero", "of=" + join(run.cache, "filler"), "bs=4k", "count=252"});
         },
         nullptr,
         [](JdkCacheRun& run) {
             EXPECT_NE(std::string::npos, run.dry_text().find("could not be made (too little room on the disk)"));
             EXPECT_EQ(252u << 12, std::filesystem::file_size(join(run.cache, "filler")));
             run_program({"/usr/bin/umount", run.cache});
         }},
        {"a runtime whose own archive this user cannot read", {}, {}, test_jdk_version() <= 17,
         [](JdkCacheRun& run) {
             runtime_with_unreadable_archive(run.installation.jre_dir());
             std::filesystem::permissions(run.cache, std::filesystem::perms::all);
             run.user = as_nobody;
         },
         nullptr, nullptr},
        // The cache's directory and files get their modes all the same.
        {"a umask without the owner's write", {}, {}, true,
         [](JdkCacheRun& run) {
             std::filesystem::permissions(run.cache, std::filesystem::perms::all);
             run.user = as_nobody;
             run.user.insert(run.user.end(), {"/bin/sh", "-c", "umask 0277; exec \"$@\"", "sh"});
         },
         nullptr, nullptr},
        {"a group-writable cache directory", {}, {}, false,
         [](JdkCacheRun& run) {
             make_dir(own_dir_of(run.cache));
             std::filesystem::permissions(own_dir_of(run.cache), std::filesystem::perms(0770));
         },
         nullptr,
         [](JdkCacheRun& run) {
             EXPECT_EQ(std::vector<std::string>{}, list_dir(own_dir_of(run.cache)));
             EXPECT_EQ(std::filesystem::perms(0770), std::filesystem::status(own_dir_of(run.cache)).permissions());
         }},
        // The archive's JVM deletes the file it is to write: never one of another user's.
        {"another user's file by the name of an archive being made", {}, {}, true,
         [](JdkCacheRun& run) {
             std::filesystem::permissions(run.cache, std::filesystem::perms::all);
             run.user = as_nobody;
             const std::string key = listed_key(run);
             run.run();
             write_file(join(own_dir_of(run.cache), key + ".tmp"), "root's");
         },
         nullptr,
         [](JdkCacheRun& run) {
             const std::vector<std::string> planted = cache_files(run.cache, ".tmp");
             ASSERT_EQ(1u, planted.size());
             EXPECT_EQ("root's", read_file(join(own_dir_of(run.cache), planted[0])));
         }},
        // As the superuser (sudo -E) in a user's directory: nothing of root's left there.
        {"the superuser in another user's directory", {}, {}, false,
         [](JdkCacheRun& run) { ASSERT_EQ(0, run_program({"/usr/bin/chown", "65534", run.cache}).exit_code); },
         nullptr, [](JdkCacheRun& run) { EXPECT_EQ(std::vector<std::string>{}, list_dir(run.cache)); }},
        {"a link in place of the cache's directory", {}, {}, false,
         [](JdkCacheRun& run) {
             make_dir(run.scratch / "elsewhere");
             ASSERT_TRUE(make_symlink(run.scratch / "elsewhere", own_dir_of(run.cache)));
         },
         nullptr, [](JdkCacheRun& run) { EXPECT_EQ(std::vector<std::string>{}, list_dir(run.scratch / "elsewhere")); }},
        {"others' files beside it", {}, {}, true,
         [](JdkCacheRun& run) {
             for (const char* name : {"old.tmp", "a.jsa", "b.jsa", "c.jsa", "d.jsa", "e.jsa"})
                 write_file(join(run.cache, name), name);
             std::filesystem::last_write_time(join(run.cache, "old.tmp"),
                                              std::filesystem::file_time_type::clock::now() - std::chrono::hours(48));
             std::filesystem::permissions(run.cache, std::filesystem::perms(0755));
         },
         nullptr,
         [](JdkCacheRun& run) {
             EXPECT_EQ(7u, list_dir(run.cache).size());
             EXPECT_EQ(std::filesystem::perms(0755), std::filesystem::status(run.cache).permissions());
         }},
    };
    for (const CacheCase& c : cases)
        run_case(c);
}

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

#endif

}  // namespace
