// Pieces of the in-process launch: the splash option's image name, loaded
// libraries.
#include <gtest/gtest.h>

#include "javaCommandLine.h"
#include "osLayer.h"
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
        EXPECT_EQ(c.image, JavaCommandLine::splash_image_name(c.option)) << c.option;
}

TEST(Library, LoadsFindsAndKeepsTheReasonOfAFailure)
{
    os::Library missing;
    testing_support::TempDir dir;
    EXPECT_FALSE(missing.load(dir / "none.lib"));
    EXPECT_FALSE(missing.loaded());
    EXPECT_NE("", missing.error());
    EXPECT_EQ(nullptr, missing.find("anything"));

    os::Library system;
    ASSERT_TRUE(system.load(on_windows ? "kernel32.dll" : "libc.so.6")) << system.error();
    EXPECT_NE(nullptr, system.find(on_windows ? "GetCurrentProcessId" : "getpid"));
    EXPECT_EQ(nullptr, system.find("no_such_entry_anywhere"));
    os::Library moved = std::move(system);
    EXPECT_FALSE(system.loaded());
    EXPECT_TRUE(moved.loaded());
}

}  // namespace
