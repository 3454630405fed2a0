// The launcher's directories, path normalisation and the POSIX path
// conversion, which is switched off but kept working behind its gate.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commandLine.h"
#include "envUtils.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace testing_support;
using namespace unit_helpers;

// `text` as a death-test pattern that matches it literally.
std::string literally(const std::string& text)
{
    std::string pattern;
    for (char c : text) {
        if (std::string(".*+?^$()[]{}|\\").find(c) != std::string::npos)
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

TEST(NormalizePath, FoldsOnWindowsAndKeepsOnLinux)
{
    struct Case { const char* path; const char* on_windows; };
    const Case cases[] = {
        {R"(c:\Work)", "C:/work"},
        {R"(relative\Path)", "relative/path"},
        {"/usr/Local", "/usr/local"},
        {R"(Z:\Dir\Sub\)", "Z:/dir/sub/"},
        {"ab:c", "ab:c"},
        {"Ab:C", "ab:c"},  // only a letter before a colon in second place is a drive
        {"c", "c"},
        {"C:", "C:"},
    };
    for (const Case& c : cases) {
        std::string path = c.path;
        EXPECT_EQ(0, normalize_path(path)) << c.path;
        EXPECT_EQ(on_windows ? c.on_windows : c.path, path) << c.path;
    }
    std::string empty;
    EXPECT_EQ(-1, normalize_path(empty));
    EXPECT_EQ("", empty);
}

TEST(Directories, ExeDirIsTheDirectoryOfTheRunningProgram)
{
    const std::string& dir = get_exe_dir();
    EXPECT_EQ(own_dir(), dir);
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(path_separator, dir.back());
    EXPECT_EQ(&dir, &get_exe_dir());
}

// Asked afresh each time, and kept whole past the classic 260-character
// limit (the narrow Windows file calls cannot make a directory that deep).
TEST(Directories, CurrentDirFollowsChangesOfDirectory)
{
    TempDir elsewhere;
    std::vector<std::string> dirs = {elsewhere.path()};
    if (!on_windows)
        dirs.push_back(make_deep_dir(elsewhere.path()));
    const std::filesystem::path home = std::filesystem::current_path();
    for (const std::string& dir : dirs) {
        std::filesystem::current_path(dir);
        const std::string there = get_current_dir();
        std::filesystem::current_path(home);
        EXPECT_EQ(dir, there);
    }
    EXPECT_EQ(home.string(), get_current_dir());
}

TEST(Directories, IsDirectoryOnlyForExistingDirectories)
{
    TempDir dir;
    write_file(dir / "file.txt", "x");
    EXPECT_TRUE(is_directory(dir.path().c_str()));
    EXPECT_FALSE(is_directory((dir / "missing").c_str()));
    EXPECT_FALSE(is_directory((dir / "file.txt").c_str()));
    EXPECT_FALSE(is_directory(""));
}

TEST(Directories, DiscoverRootDirCutsAtTheLastOccurrence)
{
    std::string dir = own_dir();
    normalize_path(dir);
    const std::size_t last_slash = dir.rfind('/');
    ASSERT_NE(std::string::npos, last_slash);
    ASSERT_NE(dir.find('/'), last_slash) << "the marker must occur twice: " << dir;
    EXPECT_EQ(dir.substr(0, last_slash), discover_root_dir("/"));
    EXPECT_EQ(dir.substr(0, last_slash), discover_root_dir(dir.substr(last_slash).c_str()));
    EXPECT_EQ("", discover_root_dir(dir.c_str()));
}

TEST(DirectoriesDeathTest, MissingMarkerEndsTheProcess)
{
    std::string dir = own_dir();
    normalize_path(dir);
    EXPECT_EXIT(discover_root_dir("/no-such-marker-in-any-path/"), ::testing::ExitedWithCode(failure_exit_status()),
                "^" + literally("ERROR: " + dir + " - Could Not Discover TOVA Root Directory"));
}

TEST(Directories, DestOffsetIsThePlaceholder)
{
    EXPECT_EQ("", get_dest_offset_root());
}

TEST(PosixPathConversion, IsSwitchedOff)
{
    EXPECT_FALSE(use_cygpath());
    for (const char* text : {"/x/y", "C:/x", "rel/x", ""}) {
        std::string path = text;
        EXPECT_EQ(0, convert_posix_path(&path, 260)) << text;
        EXPECT_EQ(text, path);
    }
    EXPECT_EQ(-1, convert_posix_path(nullptr, 260));

    const std::vector<std::string> args = {"/x/y", "a=/b", "/mnt/c"};
    CommandLine cmd("prog");
    for (const std::string& arg : args)
        cmd.process_arg(arg.c_str());
    convert_posix_args(cmd);
    EXPECT_EQ(args, args_of(cmd));
}

// A stand-in for cygpath that records what it is asked: it fails for paths
// under /fail, answers nothing for paths under /empty and else puts C:/cyg
// in front.
struct FakeConverter {
    std::vector<std::string> asked;
    PathConverter converter()
    {
        return [this](const std::string& path, std::string& output) {
            asked.push_back(path);
            if (path.rfind("/fail", 0) == 0)
                return false;
            output = path.rfind("/empty", 0) == 0 ? "" : "C:/cyg" + path;
            return true;
        };
    }
};

TEST(PosixPathConversion, ArgumentsWithTheGateOpen)
{
    struct Case { const char* arg; const char* converted; const char* asked; };  // asked: what reaches the converter
    const Case cases[] = {
        {"/x/y", "C:/cyg/x/y", "/x/y"},
        {"/mnt/c/x", "/mnt/c/x", nullptr},
        {"name=/mnt/c/x", "name=/mnt/c/x", nullptr},
        {"a=b=/x", "a=b=C:/cyg/x", "/x"},
        {"a=/b=/c", "a=C:/cyg/b=/c", "/b=/c"},  // from the first "=/"
        {"plain", "plain", nullptr},
        {"rel/x", "rel/x", nullptr},
        {"k=v/x", "k=v/x", nullptr},
        {"", "", nullptr},
        {"/fail/x", "/fail/x", "/fail/x"},
        {"k=/fail", "k=/fail", "/fail"},
        {"/empty/x", "/empty/x", "/empty/x"},
    };
    CommandLine cmd("prog");
    std::vector<std::string> converted, asked;
    for (const Case& c : cases) {
        cmd.process_arg(c.arg);
        converted.push_back(c.converted);
        if (c.asked != nullptr)
            asked.push_back(c.asked);
    }
    FakeConverter fake;
    convert_posix_args_with(cmd, fake.converter());
    EXPECT_EQ(converted, args_of(cmd));
    EXPECT_EQ(asked, fake.asked);
}

TEST(PosixPathConversion, PathWithTheGateOpen)
{
    struct Case { const char* path; std::size_t capacity; int status; const char* result; bool asked; };
    const Case cases[] = {
        {"/x/y", 260, 0, "C:/cyg/x/y", true},
        {"/x/y", 11, 0, "C:/cyg/x/y", true},
        {"/x/y", 10, -1, "/x/y", true},  // the answer must be shorter than the capacity
        {"rel/x", 260, 0, "rel/x", false},
        {"C:/x", 260, 0, "C:/x", false},
        {"/fail/x", 260, 0, "/fail/x", true},
        {"/empty/x", 260, 0, "/empty/x", true},
    };
    for (const Case& c : cases) {
        FakeConverter fake;
        std::string path = c.path;
        EXPECT_EQ(c.status, convert_posix_path_with(&path, c.capacity, fake.converter())) << c.path;
        EXPECT_EQ(c.result, path) << c.path;
        EXPECT_EQ(c.asked ? std::vector<std::string>{c.path} : std::vector<std::string>{}, fake.asked);
    }
    FakeConverter fake;
    EXPECT_EQ(-1, convert_posix_path_with(nullptr, 260, fake.converter()));
    EXPECT_TRUE(fake.asked.empty());
}

}  // namespace
