#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "javaCommandLine.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace unit_helpers;

using testing_support::list_separator;
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

TEST(JarCollection, DirectoryContributesItsJarsSorted)
{
    TempDir dir;
    make_files(dir, {"b.jar", "a.jar", "notes.txt", "x.JAR"});
    JavaCommandLine java;
    java.add_classpath_jars_from_dir(dir.path().c_str());
    EXPECT_EQ(2, java.get_num_of_classpath_jars());
    const std::string prefix = dir.path() + path_separator;
    EXPECT_EQ(classpath_of({prefix + "a.jar", prefix + "b.jar"}), java.get_classpath());
}

TEST(JarCollection, EntriesKeepTheListingOrderUntilTheClassPathIsBuilt)
{
    TempDir dir;
    make_files(dir, {"m.jar", "z.jar", "a.jar", "k.jar", "B.jar"});
    std::vector<std::string> listed;  // the file system's own order
    for (const std::string& name : testing_support::list_dir(dir.path()))
        listed.push_back(dir.path() + path_separator + name);
    JavaCommandLine java;
    java.add_classpath_jars_from_dir(dir.path().c_str());
    auto entries = [&java] {
        std::vector<std::string> jars;
        for (int i = 0; i < java.get_num_of_classpath_jars(); ++i)
            jars.push_back(java.get_classpath_jar(i));
        return jars;
    };
    EXPECT_EQ(listed, entries());
    java.get_classpath();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, entries());
}

TEST(JarCollection, ManyJarsGrowTheArray)
{
    TempDir dir;
    std::vector<std::string> names, expected;
    for (int i = 0; i < 40; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "j%02d.jar", i);
        names.push_back(name);
        expected.push_back(dir.path() + path_separator + name);
    }
    make_files(dir, names);
    JavaCommandLine java;
    java.add_classpath_jars_from_dir(dir.path().c_str());
    java.add_wrapper_jar("zz.jar");  // one more after the directory's
    expected.push_back("zz.jar");
    EXPECT_EQ(41, java.get_num_of_classpath_jars());
    EXPECT_EQ(classpath_of(expected), java.get_classpath());
}

TEST(JarCollection, MissingDirectoryOrAFileAddsNothing)
{
    TempDir dir;
    make_files(dir, {"file.jar"});
    for (const std::string& jar_dir : {dir / "missing", dir / "file.jar"}) {
        JavaCommandLine java;
        java.set_program("Main");
        java.add_classpath_jars_from_dir(jar_dir.c_str());
        EXPECT_EQ(0, java.get_num_of_classpath_jars()) << jar_dir;
        EXPECT_EQ(R"("java" "Main" )", java.build_command_text());
    }
}

TEST(JarCollection, TrailingSeparatorOfTheDirectoryIsKept)
{
    TempDir dir;
    make_files(dir, {"a.jar"});
    const std::string dir_text = dir.path() + path_separator;
    JavaCommandLine java;
    java.add_classpath_jars_from_dir(dir_text.c_str());
    EXPECT_EQ(classpath_of({dir_text + path_separator + "a.jar"}), java.get_classpath());
}

TEST(JarCollection, UserJarsAreKeptAsGivenOrDropped)
{
    const std::string long_path = std::string(300, 'd') + "/x.jar";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"lib/extra.jar", {"lib/extra.jar"}},
        {R"(C:\t\a.jar)", {R"(C:\t\a.jar)"}},
        {"tools.zip", {}},
        {"a.JAR", {}},
        {"", {}},
        {long_path, {long_path}},
    };
    for (const auto& c : cases) {
        JavaCommandLine java;
        java.process_arg(("--wrapper-add-jar=" + c.first).c_str());
        EXPECT_EQ(classpath_of(c.second), java.get_classpath()) << c.first;
        EXPECT_EQ(0, java.get_num_of_args());
    }
}

TEST(JarCollection, JarNamedAgainAppearsTwice)
{
    TempDir dir;
    make_files(dir, {"a.jar"});
    const std::string jar = dir / "a.jar";
    JavaCommandLine java;
    java.add_classpath_jars_from_dir(dir.path().c_str());
    java.process_arg(("--wrapper-add-jar=" + jar).c_str());
    EXPECT_EQ(classpath_of({jar, jar}), java.get_classpath());
}

}  // namespace
