// The environment on Windows: this process's through the C runtime, the
// machine-wide one in the registry.
#include "os/environment.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "os/windows/systemLibraries.h"

namespace os {

using namespace detail;

void put_env(const std::string& name, const std::string& value)
{
    // The C runtime's update also reaches SetEnvironmentVariableA, so
    // children inherit the change; "NAME=" removes the variable.
    _putenv((name + "=" + value).c_str());
}

namespace {

const char machine_env_key[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

struct RegistryFunctions {
    decltype(&RegOpenKeyExA) open_key;
    decltype(&RegQueryValueExA) query_value;
    decltype(&RegSetValueExA) set_value;
    decltype(&RegCloseKey) close_key;
    bool bound() const { return open_key && query_value && set_value && close_key; }
};

const RegistryFunctions& registry()
{
    static const RegistryFunctions functions = [] {
        const HMODULE advapi32 = load_system_library("advapi32.dll");
        RegistryFunctions bound;
        bind_entry(advapi32, "RegOpenKeyExA", bound.open_key);
        bind_entry(advapi32, "RegQueryValueExA", bound.query_value);
        bind_entry(advapi32, "RegSetValueExA", bound.set_value);
        bind_entry(advapi32, "RegCloseKey", bound.close_key);
        return bound;
    }();
    return functions;
}

// Closes a registry key when it goes out of scope.
class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey()
    {
        if (key_ != nullptr)
            registry().close_key(key_);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    bool open(REGSAM access)
    {
        return registry().bound() &&
               registry().open_key(HKEY_LOCAL_MACHINE, machine_env_key, 0, access, &key_) == ERROR_SUCCESS;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

bool read_machine_env(const std::string& name, std::string& value)
{
    // Reading needs no more than querying, so users without administrator
    // rights can read the machine environment too.
    ScopedKey key;
    if (!key.open(KEY_QUERY_VALUE))
        return false;
    std::vector<char> data(MAX_PATH);
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        LONG status = registry().query_value(key.get(), name.c_str(), nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
        if (status == ERROR_MORE_DATA) {
            // The answer is the size the value needs; it may grow again
            // before the next call, so ask until it fits.
            data.resize(size > data.size() ? size : data.size() * 2);
            continue;
        }
        if (status != ERROR_SUCCESS)
            return false;
        // The stored data need not end in a NUL; the text ends at the first.
        const void* nul = std::memchr(data.data(), '\0', size);
        value.assign(data.data(), nul != nullptr ? static_cast<const char*>(nul) - data.data() : size);
        return true;
    }
}

bool store_machine_env(const std::string& name, const std::string& value)
{
    ScopedKey key;
    if (!key.open(KEY_ALL_ACCESS))
        return false;
    // REG_SZ, not REG_EXPAND_SZ: the system must not expand references to
    // other variables in the value later.
    return registry().set_value(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

void announce_env_change()
{
    static const auto send_message = [] {
        decltype(&SendMessageTimeoutA) bound;
        bind_entry(load_system_library("user32.dll"), "SendMessageTimeoutA", bound);
        return bound;
    }();
    if (send_message == nullptr)
        return;
    DWORD_PTR result = 0;
    send_message(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"), SMTO_ABORTIFHUNG,
                 5000, &result);
}

}  // namespace os
