#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "classCache.h"
#include "osLayer.h"
#include "testSupport.h"

namespace {

using namespace testing_support;

const std::string whole_archive = std::string("\xa8\xab\x0b\xf0", 4) + "classes";

// A runtime directory with the files the cache looks at.
void make_runtime(const std::string& jre, const std::string& version)
{
    make_dir(jre);
    write_file(join(jre, "release"), "IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"" + version + "\"\n");
    std::string below = os::facts.jvm_lib_below_jre;
    std::string dir = jre;
    for (std::size_t start = 0, end; (end = below.find(os::facts.path_separator, start)) != std::string::npos;
         start = end + 1) {
        dir = join(dir, below.substr(start, end - start));
        make_dir(dir);
    }
    write_file(join(jre, below), "jvm");
    write_file(join(dir, "classes.jsa"), "base");
}

TEST(ClassCache, MajorVersionOfTheReleaseFile)
{
    const std::pair<const char*, int> cases[] = {
        {"JAVA_VERSION=\"17.0.15\"\n", 17},
        {"JAVA_VERSION=\"1.8.0_392\"\n", 8},
        {"JAVA_VERSION=\"13\"", 13},
        {"JAVA_VERSION_DATE=\"2025-04-15\"\nJAVA_VERSION=\"21.0.1\"\n", 21},
        {"JAVA_RUNTIME_VERSION=\"17.0.15+6\"\n", 0},
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, release_major_version(c.first)) << c.first;
}

// Every input of the key gives a key of its own, and the same inputs the same key.
TEST(ClassCache, EveryInputChangesTheKey)
{
    TempDir dir;
    const std::string jre = dir / "jre", other_jre = dir / "other-jre", a = dir / "a.jar", b = dir / "b.jar";
    make_runtime(jre, "17");
    make_runtime(other_jre, "17");
    write_file(a, "a");
    write_file(b, "b");
    const std::vector<std::string> options = {"-Xmx64m"};
    const std::string key = class_cache_key(jre, {a, b}, options);
    EXPECT_EQ(key, class_cache_key(jre, {a, b}, options));

    std::set<std::string> keys = {key};
    auto add = [&](const std::string& changed) { EXPECT_TRUE(keys.insert(changed).second) << keys.size(); };
    add(class_cache_key(other_jre, {a, b}, options));
    add(class_cache_key(jre, {a}, options));
    add(class_cache_key(jre, {a, b, dir / "c.jar"}, options));
    add(class_cache_key(jre, {a, b}, {"-Xmx65m"}));
    {
        ScopedEnv tool_options("JAVA_TOOL_OPTIONS", "-XX:-UseCompressedOops");
        add(class_cache_key(jre, {a, b}, options));
    }
    write_file(b, "bb");  // another size
    add(class_cache_key(jre, {a, b}, options));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    write_file(b, "bc");  // the same size, changed later
    add(class_cache_key(jre, {a, b}, options));
    write_file(join(jre, os::facts.jvm_lib_below_jre), "another jvm");
    add(class_cache_key(jre, {a, b}, options));
}

// A run's archive is used from the next run on; old runtimes, unusable
// directories and archives that others may write give no archive.
TEST(ClassCache, PlansUseOnlyOfPrivateArchivesOfANewEnoughRuntime)
{
    TempDir dir;
    const std::string jre = dir / "jre", old_jre = dir / "old-jre", cache = dir / "cache", jar = dir / "a.jar";
    make_runtime(jre, "17.0.2");
    make_runtime(old_jre, "1.8.0_392");
    write_file(jar, "a");

    ClassCacheUse first = plan_class_cache(cache, jre, {jar}, {});
    ASSERT_EQ(2u, first.jvm_options.size()) << first.note;
    EXPECT_EQ("-XX:ArchiveClassesAtExit=" + first.pending_archive, first.jvm_options[0]);
    EXPECT_EQ("-Xlog:cds=off,cds+dynamic=off", first.jvm_options[1]);
    os::FileStatus status;
    ASSERT_TRUE(os::file_status(cache, status));
    EXPECT_TRUE(status.private_to_user);
    write_file(first.pending_archive, whole_archive);
    finish_class_cache(first);

    ClassCacheUse next = plan_class_cache(cache, jre, {jar}, {});
    ASSERT_EQ(2u, next.jvm_options.size()) << next.note;
    EXPECT_EQ("-XX:SharedArchiveFile=" + first.archive, next.jvm_options[0]);
    EXPECT_TRUE(next.pending_archive.empty());

    EXPECT_TRUE(plan_class_cache(cache, old_jre, {jar}, {}).jvm_options.empty());
    EXPECT_TRUE(plan_class_cache(cache, jre, {jar}, {"-Xshare:off"}).jvm_options.empty());
    {
        ScopedEnv own_archive("JDK_JAVA_OPTIONS", "-XX:SharedArchiveFile=own.jsa");
        EXPECT_TRUE(plan_class_cache(cache, jre, {jar}, {}).jvm_options.empty());
    }
    write_file(dir / "a-file", "");
    EXPECT_TRUE(plan_class_cache(dir / "a-file", jre, {jar}, {}).jvm_options.empty());
    EXPECT_TRUE(plan_class_cache(join(dir / "missing", "cache"), jre, {jar}, {}).jvm_options.empty());
    ASSERT_TRUE(let_everyone_write(first.archive));
    EXPECT_FALSE(plan_class_cache(cache, jre, {jar}, {}).pending_archive.empty());
    ASSERT_TRUE(let_everyone_write(cache));
    const ClassCacheUse shared = plan_class_cache(cache, jre, {jar}, {});
    EXPECT_TRUE(shared.jvm_options.empty());
    EXPECT_FALSE(shared.note.empty());
}

// Only an archive the JVM wrote whole is moved into place, and the
// directory keeps the most recently made ones.
TEST(ClassCache, FinishMovesWholeArchivesAndKeepsTheNewest)
{
    TempDir cache;
    ClassCacheUse cut;
    cut.pending_archive = cache / "cut.1.tmp";
    cut.archive = cache / "cut.jsa";
    write_file(cut.pending_archive, whole_archive.substr(0, 3));
    finish_class_cache(cut);
    EXPECT_TRUE(list_dir(cache.path()).empty());

    const int made = kept_class_archives + 2;
    for (int i = 0; i < made; ++i) {
        ClassCacheUse use;
        use.pending_archive = cache / (std::to_string(i) + ".1.tmp");
        use.archive = cache / (std::to_string(i) + ".jsa");
        write_file(use.pending_archive, whole_archive);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        finish_class_cache(use);
    }
    std::vector<std::string> expected;
    for (int i = made - kept_class_archives; i < made; ++i)
        expected.push_back(std::to_string(i) + ".jsa");
    std::vector<std::string> kept = list_dir(cache.path());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(expected, kept);
}

}  // namespace
