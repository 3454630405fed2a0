// The machine-wide environment in the registry: the writer, the reader and
// the steps between them. Under Wine the Windows build meets a real
// registry; Linux has none and answers as documented.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#endif

#include <memory>
#include <type_traits>
#include <string>
#include <vector>

#include "envUtils.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace testing_support;
using unit_helpers::env_value;

const char test_var[] = "BRUMLET_TEST_SYSTEM_VAR";

#ifdef _WIN32
const char env_key[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// The machine environment key, opened by the test's own means.
struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using TestKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;
TestKey open_test_key(REGSAM access)
{
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, env_key, 0, access, &key);
    return TestKey(key);
}

// Removes a value from the machine environment when it dies.
struct MachineValueGuard {
    std::string name;
    ~MachineValueGuard() { RegDeleteValueA(open_test_key(KEY_SET_VALUE).get(), name.c_str()); }
};

// While it lives, the machine environment key grants everyone reading and
// nothing more, as it does to a user without administrator rights; the old
// access list comes back when it dies.
class ReadOnlyMachineEnv {
public:
    ReadOnlyMachineEnv() : key_(open_test_key(READ_CONTROL | WRITE_DAC))
    {
        DWORD size = 0;
        RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
        old_.resize(size);
        PSECURITY_DESCRIPTOR read_only = nullptr;
        applied_ = RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, old_.data(), &size) == ERROR_SUCCESS &&
                   ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                        &read_only, nullptr) &&
                   RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, read_only) == ERROR_SUCCESS;
        LocalFree(read_only);
    }
    ~ReadOnlyMachineEnv()
    {
        if (applied_)
            RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, old_.data());
    }
    ReadOnlyMachineEnv(const ReadOnlyMachineEnv&) = delete;
    ReadOnlyMachineEnv& operator=(const ReadOnlyMachineEnv&) = delete;
    bool applied() const { return applied_; }

private:
    TestKey key_;
    std::vector<char> old_;
    bool applied_ = false;
};
#else
struct MachineValueGuard {
    std::string name;
};
#endif

TEST(SystemEnvVar, WrittenValueReadsBackWhole)
{
    struct Case {
        std::string name;
        std::string value;
    };
    const Case cases[] = {
        {test_var, "C:\\tools;%PATH%"},
        {test_var, std::string(300, 'v')},  // longer than the classic 260-byte buffer
        {"BRUMLET_TEST_" + std::string(987, 'N'), std::string(1000, 'w')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 20) + " = " + c.value.substr(0, 20));
        ScopedEnv process_guard(unset(c.name));
        MachineValueGuard machine_guard{c.name};
        EXPECT_EQ(on_windows ? 0 : -1, set_system_env_var(c.name.c_str(), c.value.c_str()));
        EXPECT_EQ(c.value, env_value(c.name));
        std::unique_ptr<char[]> read = get_system_env_var(c.name.c_str());
        if (!on_windows) {
            EXPECT_EQ(nullptr, read);
            continue;
        }
        ASSERT_NE(nullptr, read);
        EXPECT_EQ(c.value, read.get());
#ifdef _WIN32
        DWORD type = 0, size = 0;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(open_test_key(KEY_QUERY_VALUE).get(), c.name.c_str(), nullptr, &type,
                                                  nullptr, &size));
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);  // %PATH% stays unexpanded
        EXPECT_EQ(c.value.size() + 1, size);          // stored with its NUL
#endif
    }
}

TEST(SystemEnvVar, MissingValueGivesNull)
{
    EXPECT_EQ(nullptr, get_system_env_var("BRUMLET_TEST_NO_SUCH_VAR"));
}

// The registry steps replaced: the process environment is set before the
// store and stays set when the store fails; only a stored value is announced.
TEST(SystemEnvVar, ProcessEnvironmentIsSetWhateverTheRegistryDoes)
{
    for (bool store_succeeds : {true, false}) {
        ScopedEnv guard(unset(test_var));
        std::vector<std::string> steps;
        MachineEnvSteps fake{[&](const std::string& name, const std::string& value) {
                                 steps.push_back("store " + name + "=" + value + ", process has " +
                                                 env_value(name));
                                 return store_succeeds;
                             },
                             [&] { steps.push_back("announce"); }};
        EXPECT_EQ(store_succeeds ? 0 : -1, set_system_env_var_with(test_var, "v 1", fake));
        std::vector<std::string> expected = {std::string("store ") + test_var + "=v 1, process has v 1"};
        if (store_succeeds)
            expected.push_back("announce");
        EXPECT_EQ(expected, steps);
        EXPECT_EQ("v 1", env_value(test_var));
    }
}

#ifdef _WIN32
TEST(SystemEnvVar, ReadingNeedsNoWriteAccess)
{
    ScopedEnv process_guard(unset(test_var));
    MachineValueGuard machine_guard{test_var};
    ASSERT_EQ(0, set_system_env_var(test_var, "readable"));
    ReadOnlyMachineEnv read_only;
    ASSERT_TRUE(read_only.applied());
    std::unique_ptr<char[]> read = get_system_env_var(test_var);
    ASSERT_NE(nullptr, read);
    EXPECT_STREQ("readable", read.get());
    // Writing does need full access: the store fails, the process has the value.
    EXPECT_EQ(-1, set_system_env_var(test_var, "changed"));
    EXPECT_EQ("changed", env_value(test_var));
    EXPECT_STREQ("readable", get_system_env_var(test_var).get());
}

// Data stored by other means: of another type, without a NUL, filling the
// buffer exactly. The reader returns the text up to the first NUL.
TEST(SystemEnvVar, ReaderEndsTheTextItself)
{
    struct Case {
        DWORD type;
        std::string data;
        std::string text;
    };
    const Case cases[] = {
        {REG_BINARY, std::string(300, 'x'), std::string(300, 'x')},
        {REG_BINARY, std::string(MAX_PATH, 'y'), std::string(MAX_PATH, 'y')},
        {REG_BINARY, std::string("ab\0cd", 5), "ab"},
    };
    for (const Case& c : cases) {
        MachineValueGuard guard{test_var};
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(open_test_key(KEY_SET_VALUE).get(), test_var, 0, c.type,
                                                reinterpret_cast<const BYTE*>(c.data.data()),
                                                static_cast<DWORD>(c.data.size())));
        std::unique_ptr<char[]> read = get_system_env_var(test_var);
        ASSERT_NE(nullptr, read);
        EXPECT_EQ(c.text, read.get()) << c.data.size() << " bytes";
    }
}
#endif

}  // namespace
