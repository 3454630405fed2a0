#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "javaCommandLine.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace unit_helpers;

using testing_support::path_separator;
using testing_support::TempDir;

void make_files(const TempDir& dir, const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        testing_support::write_file(dir / name, "");
}

TEST(JarCollection, OnlyTheLowerCaseJarSuffixQualifies)
{
    const std::pair<const char*, bool> cases[] = {
        {"a.jar", true}, {".jar", true},  {"dir/a.jar", true}, {"a.JAR", false}, {"a.Jar", false},
        {"a.jar.bak", false}, {"jar", false}, {"ajar", false},  {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, JavaCommandLine::is_jar_name(c.first)) << '"' << c.first << '"';
}

// The jars of a directory, past the initial array, join in listing order
// with other files left out; a jar named again by the user appears twice;
// building the class path sorts the entries.
TEST(JarCollection, DirectoryJarsInListingOrderUntilSorted)
{
    TempDir dir;
    std::vector<std::string> names = {"notes.txt", "x.JAR", "B.jar"};
    for (int i = 39; i >= 0; --i)
        names.push_back("j" + std::to_string(i) + ".jar");
    make_files(dir, names);
    std::vector<std::string> expected;  // the file system's own order
    for (const std::string& name : testing_support::list_dir(dir.path())) {
        if (name != "notes.txt" && name != "x.JAR")
            expected.push_back(dir / name);
    }
    JavaCommandLine java;
    java.add_classpath_jars_from_dir(dir.path().c_str());
    java.process_arg(("--wrapper-add-jar=" + expected[0]).c_str());
    expected.push_back(expected[0]);
    auto entries = [&java] {
        std::vector<std::string> jars;
        for (int i = 0; i < java.get_num_of_classpath_jars(); ++i)
            jars.push_back(java.get_classpath_jar(i));
        return jars;
    };
    EXPECT_EQ(expected, entries());
    const std::string classpath = java.get_classpath();
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(classpath_of(expected), classpath);
    EXPECT_EQ(expected, entries());
}

TEST(JarCollection, DirectoryThatIsNoneAddsNothingAndASeparatorIsKept)
{
    TempDir dir;
    make_files(dir, {"a.jar"});
    const std::string with_separator = dir.path() + path_separator;
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {dir / "missing", {}},
        {dir / "a.jar", {}},  // a file
        {with_separator, {with_separator + path_separator + "a.jar"}},
    };
    for (const auto& c : cases) {
        JavaCommandLine java;
        java.add_classpath_jars_from_dir(c.first.c_str());
        EXPECT_EQ(classpath_of(c.second), java.get_classpath()) << c.first;
    }
}

}  // namespace
