#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
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
    const std::filesystem::path jvm = join(jre, os::facts.jvm_lib_below_jre);
    std::filesystem::create_directories(jvm.parent_path());
    write_file(jvm.string(), "jvm");
    write_file((jvm.parent_path() / "classes.jsa").string(), "base");
    write_file(join(jre, "release"), "IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"" + version + "\"\n");
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

// An archive that others may write is never handed to the JVM: the run
// makes a new one instead.
TEST(ClassCache, ArchivesThatOthersMayWriteAreNotUsed)
{
    TempDir dir;
    const std::string jre = dir / "jre", cache = dir / "cache", jar = dir / "a.jar";
    make_runtime(jre, "17.0.2");
    write_file(jar, "a");
    ClassCacheUse first = plan_class_cache(cache, jre, {jar}, {});
    write_file(first.pending_archive, whole_archive);
    finish_class_cache(first);
    EXPECT_TRUE(plan_class_cache(cache, jre, {jar}, {}).pending_archive.empty()) << "used while private";
    ASSERT_TRUE(let_everyone_write(first.archive));
    EXPECT_NE("", plan_class_cache(cache, jre, {jar}, {}).pending_archive);
}

// Only an archive the JVM wrote whole is moved into place, and the
// directory keeps the most recently made ones.
TEST(ClassCache, FinishMovesWholeArchivesAndKeepsTheNewest)
{
    TempDir cache;
    auto finish = [&](const std::string& key, const std::string& content) {
        ClassCacheUse use;
        use.pending_archive = cache / (key + ".1.tmp");
        use.archive = cache / (key + ".jsa");
        write_file(use.pending_archive, content);
        finish_class_cache(use);
    };
    finish("cut", whole_archive.substr(0, 3));
    EXPECT_TRUE(list_dir(cache.path()).empty());

    std::vector<std::string> expected;
    for (int i = 0; i < kept_class_archives + 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        finish(std::to_string(i), whole_archive);
        if (i >= 2)
            expected.push_back(std::to_string(i) + ".jsa");
    }
    std::vector<std::string> kept = list_dir(cache.path());
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(expected, kept);
}

}  // namespace
