// The merging of a young archive's classes with a run's list, and its state.
#include <gtest/gtest.h>

#include <string>

#include "classCache/classList.h"

namespace {

using namespace class_cache;

TEST(ClassList, MergedListKeepsTheArchivedAndRenumbersWhatIsNew)
{
    const std::string archived = "# a comment\n"
                                 "java/lang/Object id: 0\n"
                                 "p/Base id: 1\n"
                                 "p/Own id: 2 super: 0 source: /a b/x.jar\n"
                                 "@lambda-proxy p/Base run ()V\n";
    struct Case {
        const char* name;
        std::string listed;
        std::string added;  // after the archived text
    };
    const Case cases[] = {
        {"nothing new", "java/lang/Object id: 7\np/Base id: 3\n@lambda-proxy p/Base run ()V\n", ""},
        // Its id follows the archived ones; its super class and interfaces
        // are named by the merged ids, new ones too.
        {"a class of its own loader",
         "java/lang/Object id: 9\np/I id: 4\np/New id: 5 super: 9 interfaces: 4 9 source: /a b/x.jar\n",
         "p/I id: 3\np/New id: 4 super: 0 interfaces: 3 0 source: /a b/x.jar\n"},
        // The same name from another jar is another class.
        {"the same name from elsewhere", "java/lang/Object id: 1\np/Own id: 2 super: 1 source: /y.jar\n",
         "p/Own id: 3 super: 0 source: /y.jar\n"},
        {"a super class in neither list", "p/Lost id: 3 super: 8 source: /y.jar\n", ""},
        {"a line cut short", "p/A id: 1\np/B id:", "p/A id: 3\n"},
        {"a new line to link", "@lambda-proxy p/Base run ()V\n@cp p/Base 3 4\n", "@cp p/Base 3 4\n"},
        // Up to JDK 17 the runtime's loaders' classes have no id.
        {"classes without ids", "java/lang/Object\np/Base\np/Plain\np/Own id: 4 super: 7 source: /y.jar\n",
         "p/Plain\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(archived + c.added, merged_class_list(archived, c.listed)) << c.name;
}

TEST(ClassList, GrowthAndTheStateOfAYoungArchive)
{
    EXPECT_EQ(3u, class_count("# x\njava/lang/Object id: 0\np/A id: 1 super: 0 source: /x.jar\n@cp p/A 1\np/B id: 2\np/C"));
    EXPECT_FALSE(has_grown(1000, 1099));
    EXPECT_TRUE(has_grown(1000, 1100));
    EXPECT_FALSE(has_grown(10, 25));
    EXPECT_TRUE(has_grown(10, 26));
    YoungArchive young;
    ASSERT_TRUE(read_young_archive(young_archive_text({3, 1, "p/A id: 0\n"}), young));
    EXPECT_EQ(3, young.generation);
    EXPECT_EQ(1, young.quiet);
    EXPECT_EQ("p/A id: 0\n", young.classes);
    for (const char* text : {"", "p/A id: 0\n", "# generation 1 quiet 0", "# generation 0 quiet 0\n",
                             "# generation 1 quiet 0 more\n"})
        EXPECT_FALSE(read_young_archive(text, young)) << text;
}

}  // namespace
