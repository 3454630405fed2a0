// Shared libraries loaded into the process.
#include <gtest/gtest.h>

#include "os/library.h"
#include "testSupport.h"

namespace {

using testing_support::on_windows;

TEST(Library, LoadsFindsAndKeepsTheReasonOfAFailure)
{
    os::Library missing;
    testing_support::TempDir dir;
    EXPECT_FALSE(missing.load(dir / "none.lib"));
    EXPECT_FALSE(missing.loaded());
    EXPECT_TRUE(missing.failure().error != 0 || !missing.failure().text.empty());
    EXPECT_EQ(nullptr, missing.find("anything"));

    os::Library system;
    ASSERT_TRUE(system.load(on_windows ? "kernel32.dll" : "libc.so.6")) << os::error_text(system.failure());
    EXPECT_NE(nullptr, system.find(on_windows ? "GetCurrentProcessId" : "getpid"));
    EXPECT_EQ(nullptr, system.find("no_such_entry_anywhere"));
    os::Library moved = std::move(system);
    EXPECT_FALSE(system.loaded());
    EXPECT_TRUE(moved.loaded());
}

}  // namespace
