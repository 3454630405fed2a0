// What the cache reads of the output of the archive's JVMs.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "classCache/jvmOutput.h"
#include "os/files.h"
#include "os/platform.h"
#include "os/trustedFiles.h"

namespace {

using namespace class_cache;

// The jars the trial start names, in either form of the JVM's log; the
// class path the launch gave where it names none.
TEST(ClassCache, TheTrialStartNamesTheJarsOfTheArchive)
{
    const std::string separator(1, os::facts.list_separator);
    const std::vector<std::string> given = {"given.jar"};
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"[0.009s][info][class,path] Expecting -Djava.class.path=/a b.jar" + separator + "/lib/dep.jar\r\nopenjdk 17\n",
         {"/a b.jar", "/lib/dep.jar"}},
        {"Expecting -Djava.class.path=/only.jar", {"/only.jar"}},
        // Missing jars of a manifest's Class-Path, which must stay missing.
        {"[0.028s][info][class,path] Expecting -Djava.class.path=/a.jar\n"
         "[0.028s][info][class,path] should be non-existent: /x/gone.jar\n"
         "[0.028s][info][class,path] should be non-existent: /y.jar",
         {"/a.jar", "/x/gone.jar", "/y.jar"}},
        {"[0.011s][info][class,path] (bootstrap) [0] = /jre/lib/modules\n"
         "[0.012s][info][class,path] (app   ) [1] = /a.jar\r\n"
         "[0.012s][info][class,path] (app   ) [2] = /lib/dep.jar\n",
         {"/a.jar", "/lib/dep.jar"}},
        {"[0.012s][info][class,path] (app   ) [1] = /a.jar", {"/a.jar"}},
        {"[0.012s][info][class,path] [1] = x (app   )\n", given},
        {"openjdk version \"17.0.15\"\n", given},
        {"", given},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, reported_jars(c.first, given)) << c.first;
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

}  // namespace
