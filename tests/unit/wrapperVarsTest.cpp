// Wrapper variables: how one name is resolved, and how names inside a text
// are replaced by their normalised, cached values.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "envUtils.h"
#include "testSupport.h"

namespace {

using namespace testing_support;

const char root[] = "DRAVON_ROOTDIR";
const char bin[] = "DRAVON_BINDIR";
const char kit[] = "TILDR_KIT_VORNI2";

EnvVar var(const std::string& name, const char* value)
{
    return value != nullptr ? EnvVar{name, value} : unset(name);
}

// Every variable that decides a wrapper variable, removed, then `changes`.
std::vector<EnvVar> wrapper_env(std::vector<EnvVar> changes = {})
{
    std::vector<EnvVar> all = {unset(root), unset("DRAVON_ROOTDIR_OVERRIDE"), unset(bin),
                               unset("DRAVON_BINDIR_OVERRIDE"), unset(kit), unset("TILDR_KIT_VORNI2_OVERRIDE")};
    all.insert(all.end(), changes.begin(), changes.end());
    return all;
}

// The process-wide table keeps whatever it resolved once, so each expansion
// here works on a copy of it with nothing resolved yet.
struct FreshTable {
    WrapperVar vars[6];
    WrapperVarTable table{6, vars};
    FreshTable()
    {
        for (int i = 0; i < 6; ++i)
            vars[i] = {wrapper_var_table.var[i].name, wrapper_var_table.var[i].name_len, false, nullptr, 0};
    }
    FreshTable(const FreshTable&) = delete;
    FreshTable& operator=(const FreshTable&) = delete;
    std::string expand(const std::string& text) { return expand_wrapper_vars(text.c_str(), table); }
};

std::string normalised(std::string path)
{
    normalize_path(path);
    return path;
}

std::string undefined(const std::string& name)
{
    return "^ERROR: " + name + " - Undefined variable";
}

TEST(GetWrapperVar, NonEmptyOverrideWins)
{
    struct Case { const char* value; const char* override_value; const char* expected; };
    const Case cases[] = {
        {R"(C:\Base\Dir)", nullptr, R"(C:\Base\Dir)"},       // values come back as they are
        {R"(C:\Base\Dir)", R"(D:\Over\Dir)", R"(D:\Over\Dir)"},
        {R"(C:\Base\Dir)", "", R"(C:\Base\Dir)"},            // an empty override does not count
        {nullptr, R"(D:\Over\Dir)", R"(D:\Over\Dir)"},
        {nullptr, "", ""},
        {nullptr, nullptr, ""},
    };
    for (const std::string name : {root, kit}) {
        for (const Case& c : cases) {
            ScopedEnvs env(wrapper_env({var(name, c.value), var(name + "_OVERRIDE", c.override_value)}));
            EXPECT_EQ(c.expected, get_wrapper_var(name.c_str(), false))
                << name << " value " << (c.value ? c.value : "(unset)") << ", override "
                << (c.override_value ? c.override_value : "(unset)");
        }
    }
}

TEST(GetWrapperVar, BinDirIsItsOverrideOrDerivedFromTheRoot)
{
    // DRAVON_BINDIR itself (bin_value) is never consulted; the result is
    // `expected`, followed by the bin64 offset when below_root.
    struct Case { const char* bin_override; const char* root_value; const char* root_override; const char* bin_value;
                  const char* expected; bool below_root; };
    const Case cases[] = {
        {R"(O:\Bin)", nullptr, nullptr, nullptr, R"(O:\Bin)", false},
        {R"(O:\Bin)", R"(R:\Root)", nullptr, nullptr, R"(O:\Bin)", false},
        {nullptr, R"(R:\Root)", nullptr, nullptr, R"(R:\Root)", true},
        {"", R"(R:\Root)", nullptr, nullptr, R"(R:\Root)", true},
        {nullptr, R"(R:\Root)", R"(S:\Over)", nullptr, R"(S:\Over)", true},
        {nullptr, R"(R:\Root)", nullptr, R"(E:\Env\Bin)", R"(R:\Root)", true},
        {nullptr, nullptr, nullptr, R"(E:\Env\Bin)", "", false},
    };
    const std::string bin64 = on_windows ? "\\bin64" : "/bin64";
    for (const Case& c : cases) {
        ScopedEnvs env(wrapper_env({var("DRAVON_BINDIR_OVERRIDE", c.bin_override), var(root, c.root_value),
                             var("DRAVON_ROOTDIR_OVERRIDE", c.root_override), var(bin, c.bin_value)}));
        EXPECT_EQ(c.expected + (c.below_root ? bin64 : ""), get_wrapper_var(bin, false))
            << "case with expected " << c.expected;
    }
}

TEST(GetWrapperVar, OtherNamesComeFromTheEnvironment)
{
    ScopedEnvs env({{"BRUMLET_TEST_PLAIN", R"(Mixed\Case Value)"}, unset("BRUMLET_TEST_MISSING")});
    EXPECT_EQ(R"(Mixed\Case Value)", get_wrapper_var("BRUMLET_TEST_PLAIN", true));
    EXPECT_EQ("", get_wrapper_var("BRUMLET_TEST_MISSING", false));
    EXPECT_EQ(own_dir(), get_wrapper_var("NATIVE_WRAP_EXE_DIR", true));
}

TEST(WrapperVarsDeathTest, UndefinedVariableEndsTheProcess)
{
    struct Case { const char* name; std::vector<EnvVar> env; const char* reported; };
    const Case cases[] = {
        {root, {}, root},
        {kit, {}, kit},
        {bin, {{bin, R"(E:\Env\Bin)"}}, root},  // the root it derives from is missing
        {"BRUMLET_TEST_MISSING", {unset("BRUMLET_TEST_MISSING")}, "BRUMLET_TEST_MISSING"},
    };
    for (const Case& c : cases) {
        ScopedEnvs env(wrapper_env(c.env));
        EXPECT_EXIT(get_wrapper_var(c.name, true), ::testing::ExitedWithCode(failure_exit_status()),
                    undefined(c.reported))
            << c.name;
    }
    for (const Case& c : cases) {
        if (c.name != std::string(root) && c.name != std::string(bin) && c.name != std::string(kit))
            continue;  // not a name the table looks for
        ScopedEnvs env(wrapper_env(c.env));
        FreshTable fresh;
        EXPECT_EXIT(fresh.expand(std::string("x ") + c.name + "\\jre64"),
                    ::testing::ExitedWithCode(failure_exit_status()), undefined(c.reported))
            << c.name;
    }
}

// The C runtime on Windows cannot hold an empty variable, so this runs on Linux.
TEST(WrapperVarsDeathTest, EmptyRootIsDefinedButDerivesNoBinDir)
{
    if (on_windows)
        GTEST_SKIP() << "an empty variable is only visible to a child (launcher test UndefinedRootEndsTheLauncher)";
    ScopedEnvs env(wrapper_env({{root, ""}, {kit, ""}}));
    EXPECT_EQ("", get_wrapper_var(root, true));
    EXPECT_EXIT(get_wrapper_var(bin, true), ::testing::ExitedWithCode(failure_exit_status()), undefined(bin));
    FreshTable fresh;
    EXPECT_EQ("a/b/c", fresh.expand("aDRAVON_ROOTDIR/bTILDR_KIT_VORNI2/c"));
    EXPECT_TRUE(fresh.vars[0].resolved && fresh.vars[2].resolved);
}

TEST(ExpandWrapperVars, TextWithoutNamesIsCopied)
{
    FreshTable fresh;
    for (const char* text : {"", "plain text", "dravon_rootdir is not a name", "NATIVE_WRAP_EXE", "DRAVON_ROOT"})
        EXPECT_EQ(text, fresh.expand(text));
    for (const WrapperVar& v : fresh.vars)
        EXPECT_FALSE(v.resolved) << v.name;  // a variable is resolved only when named
}

TEST(ExpandWrapperVars, NormalisesValuesAndFindsNamesInsideNames)
{
    // On Windows root C:\Tools\Suite and kit D:\Kit\Vorni; on Linux /tools/Suite and /kit/Vorni.
    struct Case { const char* text; const char* on_windows; const char* on_linux; };
    const Case cases[] = {
        {"DRAVON_ROOTDIR", "C:/tools/suite", "/tools/Suite"},
        {R"(DRAVON_BINDIR\jre64)", R"(C:/tools/suite/bin64\jre64)", R"(/tools/Suite/bin64\jre64)"},
        {"NATIVE_WRAP_DRAVON_ROOTDIR_JRE_OFFSET", "NATIVE_WRAP_C:/tools/suite_JRE_OFFSET",
         "NATIVE_WRAP_/tools/Suite_JRE_OFFSET"},
        {"DRAVON_ROOTDIRNATIVE_WRAP_DRAVON_ROOTDIR_JRE_OFFSET", "C:/tools/suite/bin64/jre64/bin/java.exe",
         "/tools/Suite/bin64/jre64/bin/java"},
        {"DRAVON_BINDIR DRAVON_ROOTDIR", "C:/tools/suite/bin64 C:/tools/suite", "/tools/Suite/bin64 /tools/Suite"},
        {"DRAVON_ROOTDIR DRAVON_ROOTDIR", "C:/tools/suite DRAVON_ROOTDIR", "/tools/Suite DRAVON_ROOTDIR"},  // the first only
        {R"(-Dk=TILDR_KIT_VORNI2\Lib)", R"(-Dk=D:/kit/vorni\Lib)", R"(-Dk=/kit/Vorni\Lib)"},
    };
    ScopedEnvs env(wrapper_env({{root, on_windows ? R"(C:\Tools\Suite)" : "/tools/Suite"},
                         {kit, on_windows ? R"(D:\Kit\Vorni)" : "/kit/Vorni"}}));
    for (const Case& c : cases) {
        FreshTable fresh;
        EXPECT_EQ(on_windows ? c.on_windows : c.on_linux, fresh.expand(c.text)) << c.text;
    }
}

TEST(ExpandWrapperVars, KeepsTheValueFirstResolvedInATable)
{
    ScopedEnvs env(wrapper_env({{root, "/first/dir"}}));
    FreshTable fresh;
    EXPECT_EQ("/first/dir/x", fresh.expand("DRAVON_ROOTDIR/x"));
    {
        ScopedEnv changed(root, "/second/dir");
        EXPECT_EQ("/first/dir/y", fresh.expand("DRAVON_ROOTDIR/y"));
        FreshTable other;
        EXPECT_EQ("/second/dir/y", other.expand("DRAVON_ROOTDIR/y"));
    }

    const std::string before = fresh.expand("NATIVE_WRAP_CURRENT_DIR");
    EXPECT_EQ(normalised(get_current_dir()), before);
    TempDir elsewhere;
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.path());
    const std::string now = get_wrapper_var("NATIVE_WRAP_CURRENT_DIR", true);
    const std::string expanded_again = fresh.expand("NATIVE_WRAP_CURRENT_DIR");
    std::filesystem::current_path(home);
    EXPECT_EQ(elsewhere.path(), now);
    EXPECT_EQ(before, expanded_again);
}

}  // namespace
