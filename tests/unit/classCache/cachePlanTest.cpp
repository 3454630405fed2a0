// What a launch gets from the cache.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>

#include "classCache/cacheKey.h"
#include "classCache/classCache.h"
#include "fakeRuntime.h"
#include "testSupport.h"

namespace {

using namespace class_cache;
using namespace testing_support;

// A failed attempt keeps the key out, and says why, for a day; then it is
// tried again.
TEST(ClassCache, AFailedAttemptIsTriedAgainAfterADay)
{
    TempDir dir;
    const std::string jre = dir / "jre", jar = dir / "a.jar", own = join(dir.path(), "brumlet-classes");
    make_fake_java_runtime(jre, "17");
    write_file(jar, "a");
    const std::string key = class_cache_key(jre, {jar}, {}), bad = join(own, key + ".bad");
    plan_class_cache(dir.path(), jre, {jar}, {}, false);  // makes the directory, for this user alone
    std::filesystem::remove(join(own, key + ".list"));
    const auto now = std::filesystem::file_time_type::clock::now();
    const std::pair<int, const char*> cases[] = {
        {23, "Class cache not used: making the archive of this launch failed within the last day, and would "
             "again:\nError: the list is out of date\n"},
        // Dated ahead by a clock set back: as old as a day.
        {-1, "Class cache: this run lists the classes it loads in"},
        {25, "Class cache: this run lists the classes it loads in"},
    };
    for (const auto& c : cases) {
        write_file(bad, "Error: the list is out of date\n");
        std::filesystem::last_write_time(bad, now - std::chrono::hours(c.first));
        const ClassCacheUse use = plan_class_cache(dir.path(), jre, {jar}, {}, false);
        EXPECT_EQ(0u, use.note.find(c.second)) << use.note;
    }
    EXPECT_FALSE(file_exists(bad));
}

}  // namespace
