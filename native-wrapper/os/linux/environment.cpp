// The environment on Linux, which keeps no machine-wide one.
#include "os/environment.h"

#include <cstdlib>

namespace os {

void put_env(const std::string& name, const std::string& value)
{
    if (value.empty())
        unsetenv(name.c_str());
    else
        setenv(name.c_str(), value.c_str(), 1);
}

bool read_machine_env(const std::string&, std::string&)
{
    return false;
}

bool store_machine_env(const std::string&, const std::string&)
{
    return false;
}

void announce_env_change() {}

}  // namespace os
