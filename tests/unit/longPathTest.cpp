// The OS layer takes and gives paths of any length: a directory deeper than
// the classic 260 characters is seen, listed and read, and temporary files
// are made, found and deleted in it.
#include <gtest/gtest.h>

#include <algorithm>

#include "osLayer.h"
#include "testSupport.h"

namespace {

using namespace testing_support;

TEST(LongPaths, DeepDirectoryIsListedReadAndHoldsTemporaryFiles)
{
    TempDir scratch;
    const std::string deep = make_deep_dir(scratch.path(), 1000);
    write_file(join(deep, "a.jar"), "x");
    EXPECT_TRUE(os::is_directory(deep.c_str()));
    std::vector<std::string> names;
    ASSERT_TRUE(os::list_directory(deep, names));
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "a.jar"));
    std::string content;
    int error = 0;
    EXPECT_TRUE(os::read_file_start(join(deep, "a.jar"), 10, content, error)) << error;
    EXPECT_EQ("x", content);

    ScopedEnv temp_dir(on_windows ? "TMP" : "TMPDIR", deep);
    std::string name;
    os::FileHandle handle = os::invalid_file;
    os::Failure failure;
    ASSERT_TRUE(os::create_temp_file(name, handle, failure)) << failure.call << " failed with " << failure.error;
    os::close_file(handle);
    EXPECT_EQ(0u, name.find(join(deep, "tmp"))) << name;
    EXPECT_TRUE(file_exists(name));
    os::delete_file(name);
    EXPECT_FALSE(file_exists(name));
}

}  // namespace
