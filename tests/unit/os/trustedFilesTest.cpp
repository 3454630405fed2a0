// The cache's directory, opened by another name (a link; Windows: its short
// name, as Wine makes no links), goes by its real path, and java with it.
#include <gtest/gtest.h>

#include <filesystem>
#ifdef _WIN32
#include <windows.h>
#endif

#include "os/trustedFiles.h"
#include "testSupport.h"

namespace {

TEST(TrustedFiles, TheCachesDirectoryGoesByItsRealPath)
{
    testing_support::TempDir scratch;
    const std::string real = scratch / "a directory of a long name";
    testing_support::make_dir(real);
    std::string other = scratch / "link";
#ifdef _WIN32
    wchar_t short_form[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameW(std::filesystem::u8path(real).c_str(), short_form, MAX_PATH));
    other = std::filesystem::path(short_form).u8string();
#else
    ASSERT_TRUE(testing_support::make_symlink(real, other));
#endif
    EXPECT_EQ(testing_support::join(real, "brumlet-classes"), os::open_own_directory(other, "brumlet-classes").path());
}

}  // namespace
