// The OS layer takes and gives paths of any length: a directory deeper than
// the classic 260 characters is seen, listed and read, and temporary files
// are made, found and deleted in it, and a program in it starts.
#include <gtest/gtest.h>

#include <algorithm>

#include "os/files.h"
#include "os/process.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace testing_support;

TEST(LongPaths, DeepDirectoryIsListedReadAndHoldsTemporaryFiles)
{
    TempDir scratch;
    const std::string deep = make_deep_dir(scratch.path(), 1000);
    write_file(join(deep, "a.jar"), "x");
    EXPECT_TRUE(os::is_directory(deep.c_str()));
    std::vector<std::string> names;
    os::Failure failure;
    ASSERT_TRUE(os::list_directory(deep, names, failure)) << failure.call << " failed with " << failure.error;
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "a.jar"));
    std::string content;
    EXPECT_TRUE(os::read_file_start(join(deep, "a.jar"), 10, content, failure)) << failure.error;
    EXPECT_EQ("x", content);

    ScopedEnv temp_dir(on_windows ? "TMP" : "TMPDIR", deep);
    std::string name;
    os::FileHandle handle = os::invalid_file;
    ASSERT_TRUE(os::create_temp_file(name, handle, failure)) << failure.call << " failed with " << failure.error;
    os::close_file(handle);
    EXPECT_EQ(0u, name.find(join(deep, "tmp"))) << name;
    EXPECT_TRUE(file_exists(name));
    os::delete_file(name);
    EXPECT_FALSE(file_exists(name));
}

// By its whole path: on Windows past MAX_PATH the child is named by its
// file name in its directory's short form.
TEST(LongPaths, DeepProgramStarts)
{
    TempDir scratch;
    const std::string program = join(make_deep_dir(scratch.path(), 1000), std::string("test_child") + exe_suffix);
    copy_file(unit_helpers::program_beside_tests("test_child"), program);
    ScopedEnv exit_code_of_child("TEST_CHILD_EXIT", "7");
    os::Command command;
    command.words = {program};
    os::Child child;
    ASSERT_TRUE(child.start(command, os::ChildLaunch())) << child.failure().error;
    int exit_code = 0;
    EXPECT_TRUE(child.wait(exit_code));
    EXPECT_EQ(7, exit_code);
}

}  // namespace
