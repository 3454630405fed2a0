// Pieces of the in-process launch: the splash option's image name,
// argument files and sizes as java reads them.
#include <gtest/gtest.h>

#include "javaCommandLine.h"
#include "launch/inProcessLaunch.h"
#include "launch/launcherOptions.h"
#include "testSupport.h"

namespace {

using testing_support::on_windows;

TEST(SplashOption, ImageNameFollowsTheFirstColonWithoutQuotes)
{
    const struct {
        const char* option;
        const char* image;
    } cases[] = {
        {"-splash:pic.png", "pic.png"},
        {"-splash:\"pic.png\"", "pic.png"},
        {"-splash:\"C:/a b/pic.png\" ", "C:/a b/pic.png"},
        {"-splash:C:/pics/p.png", "C:/pics/p.png"},  // a drive letter's colon stays
        {"-splashy:x", "x"},
        {"-splash", ""},
        {"-splash:", ""},
        {"-splash:\"\"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.image, splash_image_name(c.option)) << c.option;
}

TEST(JavaLauncherOptions, ArgumentFileWordsAndSizesAsJavaReadsThem)
{
    using Words = std::vector<std::string>;
    const struct {
        const char* content;
        Words words;
    } files[] = {
        {" a\tb\n\nc", {"a", "b", "c"}},
        {"'a b'\"c 'd\" e\\f", {"a bc 'd", "e\\f"}},        // a backslash escapes only inside quotes
        {"\"a\\n\\\\\\\"\" \"b\\\n   c\"", {"a\n\\\"", "bc"}},  // escapes; a continued line
        {"a#b\n\"c\"d#e\nf # g", {"cf"}},  // as java: a comment takes what the word read since its last quote
        {"\"\" \"open", {"", "open"}},
    };
    for (const auto& c : files)
        EXPECT_EQ(c.words, argument_file_words(c.content)) << c.content;

    std::uint64_t size = 0;
    EXPECT_TRUE(parse_java_size("512k", size) && size == 512 * 1024);
    EXPECT_TRUE(parse_java_size("2G", size) && size == 2ull << 30);
    EXPECT_TRUE(parse_java_size("100", size) && size == 100);
    for (const char* bad : {"", "k", "1kb", "1x", " 1", "-1"})
        EXPECT_FALSE(parse_java_size(bad, size)) << bad;
}

// java's old spellings as the java of each runtime version takes them: the
// JVM's option (none: dropped), the warning, and main's stack from -ss.
TEST(JavaLauncherOptions, OldSpellingsAsEachVersionsJavaTakesThem)
{
    const std::string deprecated = " option is deprecated and may be removed in a future release.";
    const struct {
        int version;
        const char* word;
        const char* option;
        std::string warning;
    } cases[] = {
        {17, "-verbosegc", "-verbose:gc", ""},
        {25, "-verbosegc", "-verbose:gc", "Warning: -verbosegc" + deprecated},
        {17, "-debug", "-Xdebug", ""},
        {25, "-debug", "", "Warning: -debug" + deprecated},
        {17, "-Xfuture", "-Xverify:all", "Warning: -Xfuture" + deprecated},
        {25, "-Xfuture", "-Xfuture", ""},
        {17, "-cs", "", "Warning: -cs option is no longer supported."},
        {25, "-noasyncgc", "-noasyncgc", ""},
        {0, "-tm", "-Xtm", ""},  // a runtime of unknown version: Java 17's rules
        {25, "-tm", "-tm", ""},
        {17, "-oss1m", "-Xoss1m", ""},
        {26, "-oss1m", "-oss1m", ""},
        {25, "-mx64m", "-Xmx64m", "Warning: -mx" + deprecated},
        {25, "-noverify", "-Xverify:none", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + " " + c.word);
        JvmLaunchOptions launch;
        launch.java_version = c.version;
        std::string error;
        ASSERT_TRUE(translate_launcher_options({c.word}, launch, error));
        EXPECT_EQ(*c.option != '\0' ? std::vector<std::string>{c.option} : std::vector<std::string>{}, launch.options);
        EXPECT_EQ(!c.warning.empty() ? std::vector<std::string>{c.warning} : std::vector<std::string>{}, launch.warnings);
    }
    // java never starts main's thread with less than 64 KiB, whatever the JVM makes of the size.
    for (int version : {17, 25}) {
        JvmLaunchOptions launch;
        launch.java_version = version;
        std::string error;
        ASSERT_TRUE(translate_launcher_options({"-ss16k"}, launch, error));
        EXPECT_EQ(64u * 1024, launch.stack_size);
    }
}

TEST(JavaLauncherOptions, ArgumentFileThatIsADirectoryInEachVersionsWords)
{
    testing_support::TempDir dir;
    for (int version : {17, 25}) {
        std::vector<std::string> words;
        std::string error;
        EXPECT_FALSE(read_java_options_variable("V", "@" + dir.path(), version, words, error));
        EXPECT_EQ((version == 25 ? "Error: Failed to read " : "Error: loading: ") + dir.path(), error);
    }
}

}  // namespace
