// The key of an archive, and the option words that keep the cache out.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "classCache/cacheKey.h"
#include "fakeRuntime.h"
#include "os/files.h"
#include "os/platform.h"
#include "os/trustedFiles.h"
#include "testSupport.h"

namespace {

using namespace class_cache;
using namespace testing_support;

// Every input of the key gives a key of its own, and the same inputs the same key.
TEST(ClassCache, EveryInputChangesTheKey)
{
    TempDir dir;
    const std::string jre = dir / "jre", other_jre = dir / "other-jre", a = dir / "a.jar", b = dir / "b.jar";
    make_fake_java_runtime(jre, "17");
    make_fake_java_runtime(other_jre, "17");
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
    // Replaced by a file of the same size and times (cp -p, tar, a restore):
    // the same key, as the record tells the contents apart; a second later, another.
    const std::string same_size = class_cache_key(jre, {a, b}, options);
    const std::filesystem::file_time_type time = std::filesystem::last_write_time(b);
    write_file(dir / "new", "bc");
    std::filesystem::last_write_time(dir / "new", time);
    std::filesystem::rename(dir / "new", b);
    EXPECT_EQ(same_size, class_cache_key(jre, {a, b}, options));
    std::filesystem::last_write_time(b, time + std::chrono::seconds(1));
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
    // The note names the first of them and where it came from.
    ScopedEnv java_options("JDK_JAVA_OPTIONS", "-Dx=1 -Xlog:gc"), tool_options("JAVA_TOOL_OPTIONS", "-Xshare:off");
    EXPECT_EQ("'-Xlog:gc' of JDK_JAVA_OPTIONS", option_keeping_cache_out({"-Xmx1g"}));
    EXPECT_EQ("'@args' of the launcher's options", option_keeping_cache_out({"@args"}));
}

}  // namespace
