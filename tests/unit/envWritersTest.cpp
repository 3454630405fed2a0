// The writers of the process environment: lists put in front, plain
// variables replaced, assignments applied, variables removed. Each result is
// read from the block that children inherit (on Windows the system's), and
// checked against this process's C runtime.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "envUtils.h"
#include "testSupport.h"

namespace {

using namespace testing_support;

const char unset_mark[] = "(unset)";

// `text` with every ';' turned into the platform's list separator.
std::string with_separator(std::string text)
{
    std::replace(text.begin(), text.end(), ';', list_separator);
    return text;
}

// The value children will see; "(unset)" when there is none.
std::string env_state(const std::string& name)
{
    std::string value;
    const bool set = get_env(name, value);
    const char* runtime = std::getenv(name.c_str());
    if (!value.empty() || runtime != nullptr) {
        EXPECT_EQ(value, runtime != nullptr ? runtime : "(missing)") << "the two views of " << name << " differ";
    }
    return set ? value : unset_mark;
}

// `before` nullptr: unset; in `before` and `expected` ';' is the list separator.
struct Case { const char* name; const char* before; const char* input; const char* expected; };

void check_cases(const std::vector<Case>& cases, const std::function<void(const Case&)>& write)
{
    for (const Case& c : cases) {
        ScopedEnv scope(c.before != nullptr ? EnvVar{c.name, with_separator(c.before)} : unset(c.name));
        write(c);
        EXPECT_EQ(with_separator(c.expected), env_state(c.name))
            << c.name << " was " << (c.before ? c.before : unset_mark) << ", given " << c.input;
    }
}

TEST(SetEnvVar, NamesEndingInPathArePrepended)
{
    check_cases(
        {
            {"PATH", "old", "new", "new;old"},
            {"PATH", nullptr, "new", "new"},
            {"BRUMLET_TEST_PATH", "a;b", "new", "new;a;b"},
            {"BRUMLET_TEST_PATH", nullptr, "new", "new"},
            {"BRUMLET_TEST_PATH", "", "new", "new"},
            {"BRUMLET_TEST_PATH", "old", "", ";old"},
            {"BRUMLET_TEST_PATHS", "old", "new", "new"},
            {"BRUMLET_TEST_PATH_X", "old", "new", "new"},
            {"BRUMLET_TEST_VAR", "old", "new", "new"},
            {"BRUMLET_TEST_VAR", nullptr, "new", "new"},
            {"BRUMLET_TEST_VAR", "old", "", unset_mark},
        },
        [](const Case& c) { set_env_var(c.name, c.input); });
}

// The "PATH" ending is matched with its case. Windows names are not, so
// there a "..._Path" write replaces the "..._PATH" list as a whole.
TEST(SetEnvVar, MixedCasePathEndingReplaces)
{
    ScopedEnv upper("BRUMLET_TEST_PATH", "upper");
    ScopedEnv mixed("BRUMLET_TEST_Path", "old");  // on Windows the same variable
    set_env_var("BRUMLET_TEST_Path", "new");
    EXPECT_EQ("new", env_state("BRUMLET_TEST_Path"));
    EXPECT_EQ(on_windows ? "new" : "upper", env_state("BRUMLET_TEST_PATH"));
}

TEST(ApplyEnvAssignment, SplitsAtTheFirstEquals)
{
    check_cases(
        {
            {"BRUMLET_TEST_VAR", nullptr, "BRUMLET_TEST_VAR", "1"},
            {"BRUMLET_TEST_VAR", "old", "BRUMLET_TEST_VAR", "1"},
            {"BRUMLET_TEST_VAR", "old", "BRUMLET_TEST_VAR=a=b", "a=b"},
            {"BRUMLET_TEST_VAR", nullptr, "BRUMLET_TEST_VAR= spaced ", " spaced "},
            {"BRUMLET_TEST_VAR", "old", "BRUMLET_TEST_VAR=", unset_mark},
            {"BRUMLET_TEST_PATH", "X", "BRUMLET_TEST_PATH=new", "new;X"},
            {"PATH", "X", "PATH=", ";X"},
        },
        [](const Case& c) { apply_env_assignment(c.input); });
}

TEST(UnsetEnvVar, Removes)
{
    check_cases({{"BRUMLET_TEST_VAR", "old", "", unset_mark}, {"BRUMLET_TEST_PATH", "a;b", "", unset_mark}},
                [](const Case& c) { unset_env_var(c.name); });
}

}  // namespace
