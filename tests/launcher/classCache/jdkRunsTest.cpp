// The class cache with the real JDK: every run of the Java test tool
// through the launcher with the cache is as plain java's, in every setting
// the cache must survive; the archive is made where it can be, and used only
// while whole and current.

#include <gtest/gtest.h>

#include <filesystem>

#include "cacheTestSupport.h"
#include "jdkCacheRun.h"

#ifdef BRUMLET_TEST_JDK_HOME

namespace {

using namespace cache_testing;
using namespace launcher_testing;
using namespace testing_support;

// A ten-line Java agent, and a class loader the system's may be, made once
// with the JDK's javac and jar.
std::string agent_jar()
{
    static const std::string jar = [] {
        const std::string dir = join(own_dir(), "cache-test-agent"), jdk_bin = join(test_jdk_home(), "bin");
        remove_tree(dir);
        make_dir(dir);
        write_file(join(dir, "Agent.java"),
                   "public class Agent {\n    public static void premain(String args) {\n"
                   "        System.err.println(\"agent here\");\n    }\n}\n");
        write_file(join(dir, "Loader.java"), "public class Loader extends ClassLoader { public Loader(ClassLoader p) { super(p); } }");
        write_file(join(dir, "manifest"), "Premain-Class: Agent\n");
        run_program({join(jdk_bin, "javac"), "-d", dir, join(dir, "Agent.java"), join(dir, "Loader.java")});
        run_program({join(jdk_bin, "jar"), "cfm", join(dir, "agent.jar"), join(dir, "manifest"), "-C", dir, "Agent.class",
                     "-C", dir, "Loader.class"});
        return join(dir, "agent.jar");
    }();
    return jar;
}


// The first run of a preparing launch leaves the archive in place: as plain java, made before it ends.
void expect_prepared(JdkCacheRun& run, const std::vector<std::string>& options = {})
{
    expect_as_plain(run.plain(), run.run(options), "preparing run");
    EXPECT_NE("(none)", archive_of(run));
}

// A shell command that runs the rest of its words after `setting`.
std::vector<std::string> in_shell(const std::string& setting)
{
    return {"/bin/sh", "-c", setting + "; exec \"$@\"", "sh"};
}


void change_archive_bytes(JdkCacheRun& run)
{
    std::string content = read_file(archive_of(run));
    content.replace(content.size() / 2, 64, std::string(64, '\x5a'));
    std::filesystem::permissions(archive_of(run), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    write_file(archive_of(run), content);
}

// The bytes of a jar with one other, that java ignores: the "version made
// by" of its first central directory entry.
std::string other_jar_bytes(const std::string& path)
{
    std::string content = read_file(path);
    const std::size_t entry = content.find("PK\x01\x02");
    if (entry != std::string::npos)
        content[entry + 4] ^= 1;
    return content;
}

// A jar replaced by another of other bytes and the same size and times, as
// cp -p, tar and rsync leave one.
void replace_keeping_times(const std::string& path)
{
    ASSERT_EQ(0, run_program({"/usr/bin/cp", "-p", path, path + ".new"}).exit_code);
    const auto time = std::filesystem::last_write_time(path);
    write_file(path + ".new", other_jar_bytes(path));
    std::filesystem::last_write_time(path + ".new", time);
    std::filesystem::rename(path + ".new", path);
}

// `dir` away and back by `script` (a CI cache's restore, a suite unpacked
// afresh): new inodes and change times, the same bytes, sizes and times.
void round_trip(const std::string& dir, const std::string& script)
{
    const std::string in_parent = "cd \"$1\"/.. && d=$(basename \"$1\") && ";
    ASSERT_EQ(0, run_program({"/bin/sh", "-c", in_parent + script, "sh", dir}).exit_code);
}
const char by_cp[] = "cp -a $d $d.s && rm -rf $d && mv $d.s $d";
const char by_tar[] = "tar -cf $d.tar $d && rm -rf $d && tar -xpf $d.tar && rm $d.tar";

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

// The launch's JVM options, of its command line and of java's variables:
// the archive is made with those that decide its layout, and taken.
TEST(ClassCacheJdk, OptionsOfTheLaunchMatchPlainJava)
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
        // The trial and the dump get the run's options: an archive that fits.
        {"a boot class path appended", {{"JDK_JAVA_OPTIONS", "-Xbootclasspath/a:" + agent_jar()}}, {}, true},
        {"no compressed oops", {{"JDK_JAVA_OPTIONS", "-XX:MaxRAM=200g"}}, {}, true},
        // One preparing run leaves the archive, in either mode.
        {"a preparing run", {{"NATIVE_WRAP_CLASS_CACHE_PREPARE", "1"}}, {}, true, [](JdkCacheRun& run) { expect_prepared(run); }},
        {"a preparing run in-process", {{"NATIVE_WRAP_CLASS_CACHE_PREPARE", "1"}}, {"--wrapper-load-jvm-in-process"}, true,
         [](JdkCacheRun& run) { expect_prepared(run, {"--wrapper-load-jvm-in-process"}); }},
        // The archive's run sees it as unset, as java does.
        {"empty JDK_JAVA_OPTIONS", {{"JDK_JAVA_OPTIONS", ""}}, {}, true, nullptr, nullptr},
        // Its child gets the same options: no warning, no write into the list.
        {"a tool that starts a JVM with its own input arguments", {{"TEST_TOOL_ACTION", "fork"}}, {}, true, nullptr,
         nullptr, [](JdkCacheRun& run) { EXPECT_EQ(std::vector<std::string>{}, cache_files(run.cache, ".list", true)); }},
    };
    // JDK 25 warns on standard output that it takes no archived class of
    // the class path, which the cache's silenced logs would hide.
    const std::string loader = "-Xbootclasspath/a:" + agent_jar() + " -Djava.system.class.loader=Loader";
    cases.push_back({"a system class loader", {{"JDK_JAVA_OPTIONS", loader}}, {}, false});
    // The trace names the classes an archive holds; JDK 25's names differ from run to run.
    if (test_jdk_version() < 24)
        cases.push_back({"a method-handle trace",
                         {{"JDK_JAVA_OPTIONS", "-Djava.lang.invoke.MethodHandle.TRACE_METHOD_LINKAGE=true"}}, {}, false});
    for (const CacheCase& c : cases)
        run_case(c);
}

// Where the launch's options or limits keep the cache out, the runs are as
// plain java's and get no archive.
TEST(ClassCacheJdk, StepsAsideForTheLaunchsOptionsAndLimits)
{
    std::vector<CacheCase> cases = {
        // A file of the cache would take descriptor 0-2, and the tool's output would go there.
        {"closed standard streams", {{"TEST_TOOL_ACTION", "thread"}}, {}, false,
         [](JdkCacheRun& run) { run.user = in_shell("exec <&- >&- 2>&-"); }, nullptr,
         [](JdkCacheRun& run) { EXPECT_EQ(std::vector<std::string>{}, list_dir(run.cache)); }},
        {"a hard limit of 8 open files", {}, {}, false, [](JdkCacheRun& run) { run.user = in_shell("ulimit -n 8"); },
         nullptr, nullptr},
        {"options printed", {{"JDK_JAVA_OPTIONS", "-Dx=1 -XX:+PrintVMOptions"}}, {}, false, nullptr, nullptr,
         [](JdkCacheRun& run) {
             EXPECT_NE(std::string::npos, run.dry_text().find("'-XX:+PrintVMOptions' of JDK_JAVA_OPTIONS"));
         }},
        // JDK 17 refuses the option, with plain java as through the cache.
        {"ahead-of-time cache off", {{"JDK_JAVA_OPTIONS", "-XX:AOTMode=off"}}, {}, false, nullptr, nullptr},
    };
    for (const CacheCase& c : cases)
        run_case(c);
}

// A changed archive, or a changed jar of it, is never handed over again.
TEST(ClassCacheJdk, AChangedArchiveOrJarIsNeverHandedOver)
{
    std::vector<CacheCase> cases = {
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
             write_file(jar, other_jar_bytes(jar));
             std::filesystem::last_write_time(jar, time);
         }},
        {"cut archive", {}, {}, true, nullptr, truncate_archive},
        {"changed archive bytes", {}, {}, true, nullptr, change_archive_bytes},
        {"jar replaced with the same size and times", {}, {}, true, nullptr,
         [](JdkCacheRun& run) { replace_keeping_times(join(run.installation.bin_dir(), tool_jar)); }},
        {"manifest jar replaced with the same size and times", {}, {}, true, add_manifest_jar,
         [](JdkCacheRun& run) { replace_keeping_times(join(join(run.installation.bin_dir(), "extra"), "dep.jar")); }},
        // JDK 17 would warn that archived classes are disabled because it exists.
        {"missing manifest jar added later", {}, {}, true,
         [](JdkCacheRun& run) {
             add_manifest_jar(run);
             std::filesystem::rename(join(run.installation.bin_dir(), "extra/dep.jar"), run.scratch / "dep.jar");
         },
         [](JdkCacheRun& run) {
             copy_file(run.scratch / "dep.jar", join(run.installation.bin_dir(), "extra/dep.jar"));
         }},
        // Root passes every permission check, but not the test of the owner.
        {"archive of another user", {}, {}, true, nullptr,
         [](JdkCacheRun& run) { ASSERT_EQ(0, run_program({"/usr/bin/chown", "65534", archive_of(run)}).exit_code); }},
    };
    for (const CacheCase& c : cases)
        run_case(c);
}

// A cache or suite copied with its bytes, sizes and times (a CI cache's restore, a suite
// unpacked afresh: new inodes and change times) keeps its archive, used at the first run.
TEST(ClassCacheJdk, ACopiedCacheOrSuiteKeepsItsArchive)
{
    const auto both = [](JdkCacheRun& run) {
        round_trip(run.cache, by_cp);
        round_trip(run.installation.root(), by_cp);
    };
    const auto chmod = [](JdkCacheRun& run) { run_program({"/usr/bin/chmod", "-R", "a+rX", run.installation.root()}); };
    std::vector<CacheCase> cases = {
        {"cache and suite by cp -a", {}, {}, true, add_manifest_jar, both, nullptr, "", true},
        {"cache by tar", {}, {}, true, nullptr, [](JdkCacheRun& run) { round_trip(run.cache, by_tar); }, nullptr, "",
         true},
        {"suite by tar", {}, {}, true, nullptr, [](JdkCacheRun& run) { round_trip(run.installation.root(), by_tar); },
         nullptr, "", true},
        {"modes set again", {}, {}, true, nullptr, chmod, nullptr, "", true},
    };
    for (const CacheCase& c : cases)
        run_case(c);
}

// Paths, class paths and callers of every kind.
TEST(ClassCacheJdk, PathsAndCallersMatchPlainJava)
{
    std::vector<CacheCase> cases = {
        // The record names its jars by paths that hold tabs and line breaks.
        {"a tab in the installation's path", {}, {}, true, nullptr, nullptr, nullptr, TempDir().path() + "-x\ty"},
        {"a missing cache directory", {}, {}, true, [](JdkCacheRun& run) { run.cache = run.scratch / "new/deeper"; },
         nullptr, nullptr},
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

}  // namespace

#endif
