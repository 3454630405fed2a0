// The test helpers that the other tests lean on.
#include <gtest/gtest.h>

#include <stdexcept>

#include "testSupport.h"

using namespace testing_support;

TEST(TestHelpers, ScopedEnvsRestoreInReverseOrder)
{
    ScopedEnv original("BRUMLET_HELPER_TEST", "orig");
    {
        ScopedEnvs changes({unset("BRUMLET_HELPER_TEST"), {"BRUMLET_HELPER_TEST", "new"}});
    }
    std::string value;
    ASSERT_TRUE(get_env("BRUMLET_HELPER_TEST", value));
    EXPECT_EQ("orig", value);
}

TEST(TestHelpers, ExactTempDirRefusesAnExistingTree)
{
    TempDir outer;
    write_file(outer / "keep.txt", "x");
    EXPECT_THROW(TempDir{outer.path()}, std::runtime_error);
    EXPECT_TRUE(file_exists(outer / "keep.txt"));
}
