// Version files of installed components: the first line turned into a short
// version text, and the two lookups that find the file from a root; and the
// Java runtime's major version from its release file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testSupport.h"
#include "vlkConfig.h"

namespace {

using namespace testing_support;

struct ParseCase {
    std::string first_line;
    std::string version;
};

TEST(ReadVersionFile, FirstLineGivesTheShortVersion)
{
    const ParseCase cases[] = {
        {"Version: 13.1", "13.1"},
        {"Version: 13.1 Build 162", "13.1"},
        {"Version: 12.0, final", "12.0"},
        {"Version: 9.1 Service Pack 2 Build 350", "9.1sp2"},
        {"Version: 9.1 Build 350 Service Pack 2", "9.1 Build 350sp2"},
        {"Release Version: 10.0", "10.0"},
        {"11.1sp2 build (no marker)", "11.1sp2"},
        {"Version: ", ""},
        {"", ""},  // with no line ending: an empty file
        // only the first 255 characters are parsed: the marker lies beyond them
        {std::string(250, 'a') + "Version: 7", std::string(250, 'a') + "Versi"},
        // the 256th character would be the version
        {std::string(246, 'a') + "Version: 7", ""},
        {std::string(10 << 20, 'a') + "Version: 7", std::string(255, 'a')},
    };
    TempDir dir;
    const std::string path = dir / "version.txt";
    for (const ParseCase& c : cases) {
        for (const char* ending : {"\n", "\r\n", ""}) {
            write_file(path, c.first_line + ending + (*ending ? "Version: 99.9\n" : ""));
            char out[256] = "stale";
            EXPECT_EQ(1, read_version_file(path.c_str(), out, sizeof out));
            EXPECT_EQ(c.version, out) << c.first_line.substr(0, 40) << " ending " << to_hex(ending);
        }
    }
    char out[256] = "stale";
    EXPECT_EQ(0, read_version_file((dir / "missing.txt").c_str(), out, sizeof out));
    EXPECT_STREQ("unknown", out);
}

// Two suite roots and two kits, each with its own version file.
class VersionLookup : public ::testing::Test {
protected:
    VersionLookup()
    {
        const std::pair<std::string, const char*> files[] = {{suite_a + "/tildr_builder", "1.0"},
                                                             {suite_b + "/tildr_builder", "2.0"},
                                                             {kit_a, "3.0 Service Pack 1"},
                                                             {kit_b, "4.0"}};
        for (const auto& file : files) {
            std::filesystem::create_directories(file.first);
            write_file(file.first + "/version.txt", std::string("Version: ") + file.second + "\n");
        }
    }

    TempDir dir;
    const std::string suite_a = dir / "suiteA", suite_b = dir / "suiteB";
    const std::string kit_a = dir / "kitA", kit_b = dir / "kitB";
};

TEST_F(VersionLookup, RootComesFromTheCallerOrTheVariables)
{
    struct Case {
        const char* (*lookup)(const char*);
        const char* root;  // passed by the caller; null: from the variables
        std::vector<EnvVar> env;
        std::string version;
    };
    const std::string deep_root = on_windows ? "" : make_deep_dir(dir.path());
    std::vector<Case> cases = {
        {get_suite_version, suite_a.c_str(), {{"DRAVON_ROOTDIR", suite_b}}, "1.0"},
        {get_suite_version, nullptr, {{"DRAVON_ROOTDIR", suite_b}}, "2.0"},
        {get_suite_version, nullptr, {{"DRAVON_ROOTDIR", suite_a}, {"DRAVON_ROOTDIR_OVERRIDE", suite_b}}, "2.0"},
        {get_suite_version, nullptr, {}, "dravon-unknown"},
        {get_suite_version, kit_a.c_str(), {}, "dravon-unknown"},
        {get_kit_version, kit_a.c_str(), {{"TILDR_KIT_VORNI2", kit_b}}, "3.0sp1"},
        {get_kit_version, nullptr, {{"TILDR_KIT_VORNI2", kit_a}, {"TILDR_KIT_VORNI2_OVERRIDE", kit_b}}, "4.0"},
        {get_kit_version, nullptr, {}, "vorni2-unknown"},
    };
    if (!on_windows) {
        // the path is cut at 259 characters, so a root this deep never has a version
        make_dir(join(deep_root, "tildr_builder"));
        write_file(deep_root + "/tildr_builder/version.txt", "Version: 5.0\n");
        cases.push_back({get_suite_version, deep_root.c_str(), {}, "dravon-unknown"});
    }
    for (const Case& c : cases) {
        std::vector<EnvVar> env = {unset("DRAVON_ROOTDIR"), unset("DRAVON_ROOTDIR_OVERRIDE"),
                                   unset("TILDR_KIT_VORNI2"), unset("TILDR_KIT_VORNI2_OVERRIDE")};
        env.insert(env.end(), c.env.begin(), c.env.end());
        ScopedEnvs scope(env);
        EXPECT_EQ(c.version, c.lookup(c.root)) << (c.root ? c.root : "(null root)");
    }
}

TEST_F(VersionLookup, EachLookupReusesItsOwnBuffer)
{
    const char* first = get_suite_version(suite_a.c_str());
    const char* second = get_suite_version(suite_b.c_str());
    EXPECT_EQ(first, second);
    EXPECT_STREQ("2.0", first);
    const char* kit = get_kit_version(kit_a.c_str());
    EXPECT_NE(first, kit);
    EXPECT_STREQ("2.0", first);
    EXPECT_STREQ("3.0sp1", kit);
}

// The runtime's major version, as its release file gives it.
TEST(RuntimeVersion, MajorVersionOfTheReleaseFile)
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

}  // namespace
