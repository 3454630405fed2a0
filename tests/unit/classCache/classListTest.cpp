// The merging of a young archive's classes with a run's list, and its state.
#include <gtest/gtest.h>

#include "classCache/classList.h"

namespace {

using namespace class_cache;

TEST(ClassList, MergedListKeepsTheArchivedAndRenumbersWhatIsNew)
{
    const std::string archived = "# a comment\njava/lang/Object id: 0\np/Base id: 1\n"
                                 "p/Own id: 2 super: 0 source: /a b/x.jar\n@lambda-proxy p/Base run ()V\n";
    const char* const cases[][2] = {  // listed, what is added after the archived text
        {"java/lang/Object id: 7\np/Base id: 3\n@lambda-proxy p/Base run ()V\n", ""},
        // Ids beyond the archived; super class and interfaces by the merged ids.
        {"java/lang/Object id: 9\np/I id: 4\np/New id: 5 super: 9 interfaces: 4 9 source: /a b/x.jar\n",
         "p/I id: 3\np/New id: 4 super: 0 interfaces: 3 0 source: /a b/x.jar\n"},
        {"java/lang/Object id: 1\np/Own id: 2 super: 1 source: /y.jar\n", "p/Own id: 3 super: 0 source: /y.jar\n"},
        {"p/Lost id: 3 super: 8 source: /y.jar\n", ""},
        {"p/A id: 1\np/B id:", "p/A id: 3\n"},
        {"@lambda-proxy p/Base run ()V\n@cp p/Base 3 4\n", "@cp p/Base 3 4\n"},
        // Up to JDK 17 the runtime's loaders' classes have no id.
        {"java/lang/Object\np/Plain\np/Own id: 4 super: 7 source: /y.jar\n", "p/Plain\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(archived + c[1], merged_class_list(archived, c[0])) << c[0];
    EXPECT_EQ(4u, class_count(archived + "p/C\np/D id:"));
}

TEST(ClassList, GrowthAndTheStateOfAYoungArchive)
{
    EXPECT_FALSE(has_grown(1000, 1099));
    EXPECT_TRUE(has_grown(1000, 1100));
    EXPECT_FALSE(has_grown(10, 25));
    YoungArchive young;
    ASSERT_TRUE(read_young_archive(young_archive_text({3, 1, "p/A id: 0\n"}), young));
    EXPECT_EQ("3 1 p/A id: 0\n", std::to_string(young.generation) + ' ' + std::to_string(young.quiet) + ' ' + young.classes);
    for (const char* text : {"p/A id: 0\n", "# generation 1 quiet 0", "# generation 0 quiet 0\n",
                             "# generation 1 quiet 0 more\n"})
        EXPECT_FALSE(read_young_archive(text, young)) << text;
}

}  // namespace
