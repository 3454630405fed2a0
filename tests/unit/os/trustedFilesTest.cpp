// The cache's directory, opened by another name than its real one (Linux:
// through a link; Windows: by its short name, as Wine makes no links), goes
// by its real path from then on, and java gets its files by that.
#include <gtest/gtest.h>

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

#include "os/trustedFiles.h"
#include "testSupport.h"

namespace {

using namespace testing_support;

TEST(TrustedFiles, TheCachesDirectoryGoesByItsRealPath)
{
    TempDir scratch;
    const std::string real = scratch / "a directory of a long name";
    make_dir(real);
    std::string other = scratch / "link";
#ifdef _WIN32
    wchar_t short_form[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameW(std::filesystem::u8path(real).c_str(), short_form, MAX_PATH));
    other = std::filesystem::path(short_form).u8string();
#else
    ASSERT_TRUE(make_symlink(real, other));
#endif
    ASSERT_NE(real, other);
    const os::OwnFile dir = os::open_own_directory(other, "brumlet-classes");
    ASSERT_TRUE(dir.valid());
    EXPECT_EQ(join(real, "brumlet-classes"), dir.path());
    const os::OwnFile file = os::open_in_directory(dir, "made", true);
    if (on_windows) {
        EXPECT_EQ(join(join(real, "brumlet-classes"), "made"), os::jvm_path(file));
    }
}

}  // namespace
