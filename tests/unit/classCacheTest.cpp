#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "classCache.h"
#include "os/platform.h"
#include "os/trustedFiles.h"
#include "testSupport.h"

namespace {

using namespace testing_support;

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
    // Replaced by a file of the same size and times, as cp -p does.
    const std::filesystem::file_time_type time = std::filesystem::last_write_time(b);
    write_file(dir / "new", "bc");
    std::filesystem::last_write_time(dir / "new", time);
    std::filesystem::rename(dir / "new", b);
    add(class_cache_key(jre, {a, b}, options));
    write_file(join(jre, os::facts.jvm_lib_below_jre), "another jvm");
    add(class_cache_key(jre, {a, b}, options));
}

// Options keep the cache out by their names, never by their values.
TEST(ClassCache, OptionsKeepTheCacheOutByName)
{
    const std::pair<const char*, bool> cases[] = {
        {"-Xshare:off", true}, {"-XX:SharedArchiveFile=a.jsa", true}, {"-XX:+PrintSharedArchiveAndExit", true},
        {"-XX:ArchiveClassesAtExit=a", true}, {"-XX:VMOptionsFile=f", true}, {"@options", true},
        {"-Xlog:class+load", true}, {"-verbose:class", true}, {"-XX:+PrintVMOptions", true},
        {"-XX:+RecordDynamicDumpInfo", true}, {"-XX:AOTMode=off", true}, {"-XX:AOTCache=a.aot", true},
        {"-XX:-AOTClassLinking", true}, {"-XX:+PrintGC", false}, {"-Dx=AOTMode", false},
        {"-Dmail=me@example.com", false}, {"-Dname=Shared", false}, {"-XX:MaxRAM=1g", false},
        {"-javaagent:agent.jar=Shared@x", false}, {"-verbose:gc", false}, {"-XX:ObjectAlignmentInBytes=16", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, keeps_cache_out(c.first)) << c.first;
}

// Archives go least recently used first while they take more than the
// limit; the new one stays, and so does every file the cache did not make.
TEST(ClassCache, TrimKeepsTheMostRecentlyUsedWithinTheLimit)
{
    TempDir dir;
    const std::string cache = dir / "cache";
    make_dir(cache);
    const auto now = std::filesystem::file_time_type::clock::now();
    const std::string keys[] = {"000000000000000a", "000000000000000b", "000000000000000c", "000000000000000d"};
    for (int i = 0; i < 4; ++i) {
        // A use touches the record alone: the archives' own times run the other way.
        for (const char* suffix : {".jsa", ".sum"}) {
            write_file(join(cache, keys[i] + suffix), std::string(1000, 'x'));
            const int minutes_ago = suffix == std::string(".sum") ? 10 - i : i;
            std::filesystem::last_write_time(join(cache, keys[i] + suffix), now - std::chrono::minutes(minutes_ago));
        }
    }
    write_file(join(cache, "old.jsa"), std::string(5000, 'x'));
    const os::OwnFile opened = os::open_own_directory(dir.path(), "cache", false);
    os::FileStatus newest;
    ASSERT_TRUE(os::entry_status(opened, keys[3] + ".jsa", newest));
    trim_class_cache(opened, keys[0], 3000, newest.modified);
    std::vector<std::string> kept = list_dir(cache);
    std::sort(kept.begin(), kept.end());
    const std::vector<std::string> expected = {keys[0] + ".jsa", keys[0] + ".sum", keys[2] + ".jsa",
                                               keys[2] + ".sum", keys[3] + ".jsa", keys[3] + ".sum", "old.jsa"};
    EXPECT_EQ(expected, kept);
}

// Only a failure that would recur with the same inputs is kept, with the
// JVM's last lines and its status; one of memory, room or a signal from
// another program is not.
TEST(ClassCache, OnlyALastingFailureHasAReason)
{
    const std::string lines = "one\r\ntwo\nthree\n\nfour\nfive\nsix\n";
    const std::pair<std::pair<int, std::string>, std::string> cases[] = {
        {{1, lines}, "two\nthree\nfour\nfive\nsix\nThe JVM ended with status 1."},
        {{1, ""}, "The JVM ended with status 1."},
        {{134, "# A fatal error has been detected"}, "# A fatal error has been detected\nThe JVM ended with status 134."},
        {{0, ""}, "The JVM made no archive."},
        {{-1, ""}, ""},
        {{137, ""}, ""},
        {{143, ""}, ""},
        {{1, "Could not reserve enough space for 200704KB object heap\n"}, ""},
        {{1, "[error][cds] Unable to reserve memory for symbols: 3221225472 bytes.\n"}, ""},
        {{1, "There is insufficient memory for the Java Runtime Environment to continue.\n"}, ""},
        {{1, "An error has occurred while processing the shared archive file.\nUnable to write to shared archive file.\n"},
         ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, lasting_failure_reason(c.first.first, c.first.second)) << c.first.second;
}

// A failed attempt keeps the key out, and says why, for a day; then it is
// tried again.
TEST(ClassCache, AFailedAttemptIsTriedAgainAfterADay)
{
    TempDir dir;
    const std::string jre = dir / "jre", jar = dir / "a.jar", own = join(dir.path(), "brumlet-classes");
    make_runtime(jre, "17");
    write_file(jar, "a");
    const std::string key = class_cache_key(jre, {jar}, {}), bad = join(own, key + ".bad");
    plan_class_cache(dir.path(), jre, {jar}, {}, false);  // makes the directory, for this user alone
    std::filesystem::remove(join(own, key + ".list"));
    write_file(bad, "Error: the list is out of date\n");
    const auto now = std::filesystem::file_time_type::clock::now();
    const std::pair<int, const char*> cases[] = {
        {23, "Class cache not used: making the archive of this launch failed within the last day, and would "
             "again:\nError: the list is out of date\n"},
        {25, "Class cache: this run lists the classes it loads in"},
    };
    for (const auto& c : cases) {
        std::filesystem::last_write_time(bad, now - std::chrono::hours(c.first));
        const ClassCacheUse use = plan_class_cache(dir.path(), jre, {jar}, {}, false);
        EXPECT_EQ(0u, use.note.find(c.second)) << use.note;
    }
    EXPECT_FALSE(file_exists(bad));
}

}  // namespace
