// The environment: this process's, and the machine-wide one that Windows
// keeps in the registry.
#pragma once

#include <string>

namespace os {

// Writes a variable into the process environment, for this process and its
// children; an empty value removes the variable. (For a child alone:
// ChildLaunch::environment.)
void put_env(const std::string& name, const std::string& value);

// The machine-wide environment: on Windows the values of the registry key
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment.
// Linux has none: reading and storing always fail there, announcing does nothing.

// Reads value `name` whole (up to its first NUL byte, whatever its type),
// with the key opened for querying only. False when the value is missing
// and on every other failure.
bool read_machine_env(const std::string& name, std::string& value);

// Stores `value` (with its terminating NUL) as REG_SZ under `name`, the key
// opened with all access rights and closed again before returning. False on
// failure.
bool store_machine_env(const std::string& name, const std::string& value);

// Tells running programs that the environment changed: WM_SETTINGCHANGE with
// "Environment" to every top-level window, giving up on hung ones after 5 s.
void announce_env_change();

}  // namespace os
