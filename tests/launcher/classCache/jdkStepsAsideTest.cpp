// The class cache with the real JDK where it cannot work (as root: mounts,
// other users): it stays out, and the tool runs as plain java.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>

#include "cacheTestSupport.h"
#include "jdkCacheRun.h"

#ifdef BRUMLET_TEST_JDK_HOME

namespace {

using namespace cache_testing;
using namespace launcher_testing;
using namespace testing_support;

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

// A failure of the moment leaves no mark, and the list for a later run.
void expect_list_kept(JdkCacheRun& run)
{
    EXPECT_EQ(std::vector<std::string>{}, cache_files(run.cache, ".bad"));
    EXPECT_EQ(1u, cache_files(run.cache, ".list").size());
}

// A new memory cgroup (v2, else v1) of `bytes`; empty when none can be made.
std::string memory_cgroup(std::uint64_t bytes)
{
    const std::string name = "/brumlet-test-" + std::to_string(getpid());
    const bool unified = read_file("/sys/fs/cgroup/cgroup.controllers").find("memory") != std::string::npos;
    const std::string dir = (unified ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory") + name;
    std::error_code error;
    if (!std::filesystem::create_directory(dir, error))
        return std::string();
    write_file(join(dir, unified ? "memory.max" : "memory.limit_in_bytes"), std::to_string(bytes));
    return dir;
}

// Where the cache cannot work it stays out, and touches nothing that is
// not its own: a read-only file system, a directory this user may not
// write, a link in place of its directory, other programs' files.
TEST(ClassCacheJdk, StepsAsideAndTouchesOnlyItsOwnFiles)
{
    if (run_program({"/usr/bin/id", "-u"}).out != "0\n")
        GTEST_SKIP() << "mounts and other users need root";
    std::vector<CacheCase> cases = {
        {"read-only file system", {}, {}, false,
         [](JdkCacheRun& run) {
             ASSERT_EQ(0, run_program({"/usr/bin/mount", "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", run.cache}).exit_code);
         },
         nullptr,
         [](JdkCacheRun& run) {
             EXPECT_NE(std::string::npos, run.dry_text().find("cannot be made or opened: Read-only file system."));
             run_program({"/usr/bin/umount", run.cache});
         }},
        {"no write permission", {}, {}, false, [](JdkCacheRun& run) { run.user = as_nobody; }, nullptr,
         // A dry run says what the run does: that it steps aside, and why.
         [](JdkCacheRun& run) { EXPECT_NE(std::string::npos, run.dry_text().find("opened: Permission denied.")); }},
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
             std::filesystem::permissions(run.cache, std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
             run.user = as_nobody;
         },
         nullptr, nullptr},
        // The cache's directory and files get their modes all the same.
        {"a umask without the owner's write", {}, {}, true,
         [](JdkCacheRun& run) {
             std::filesystem::permissions(run.cache, std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
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
             std::filesystem::permissions(run.cache, std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
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
         nullptr,
         [](JdkCacheRun& run) {
             EXPECT_EQ(std::vector<std::string>{}, list_dir(run.cache));
             EXPECT_EQ(0u, run.dry_text().find("Class cache not used: '" + run.cache + "' is not the superuser's own"));
         }},
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
        // Where no archive may be made beside the tool: no mark, the list kept.
        {"the first process of a PID namespace", {}, {}, false,
         [](JdkCacheRun& run) { run.user = {"/usr/bin/unshare", "--pid", "--fork"}; }, nullptr,
         [](JdkCacheRun& run) {
             expect_list_kept(run);
             EXPECT_NE(std::string::npos, run.run({"--wrapper-verbose"}).out.find("NATIVE_WRAP_CLASS_CACHE_PREPARE=1"));
         }},
        {"a user's limit of 120 processes", {}, {}, false,
         [](JdkCacheRun& run) {
             std::filesystem::permissions(run.cache, std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
             run.user = as_nobody;
             run.user.insert(run.user.end(), {"/usr/bin/prlimit", "--nproc=120"});
         },
         nullptr, expect_list_kept},
        {"a limit of file sizes below the archive's", {}, {}, false,
         [](JdkCacheRun& run) { run.user = {"/bin/sh", "-c", "ulimit -f 2000; exec \"$@\"", "sh"}; }, nullptr,
         expect_list_kept},
    };
    const std::string group = memory_cgroup(150 << 20);
    if (group.empty())
        std::cout << "No memory cgroup can be made here: its case is left out.\n";
    else
        cases.push_back({"a memory cgroup of 150 MB", {}, {}, false,
                         [group](JdkCacheRun& run) {
                             run.user = {"/bin/sh", "-c", "echo $$ > " + group + "/cgroup.procs; exec \"$@\"", "sh"};
                         },
                         nullptr,
                         [group](JdkCacheRun& run) {
                             expect_list_kept(run);
                             std::filesystem::remove(group);
                         }});
    for (const CacheCase& c : cases)
        run_case(c);
}

}  // namespace

#endif
