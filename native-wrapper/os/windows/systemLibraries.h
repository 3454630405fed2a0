// System libraries bound on first use, for the Windows files.
//
// advapi32 (the registry, the security of the class cache) and user32 (the
// broadcast) serve only the machine environment's reader and writer and the
// class cache. Imported, they would be loaded and initialised at every start
// of the launcher, user32 at about the cost of a whole process start under
// Wine; bound on first use, only those calls pay. Both come from the system
// directory, whatever else is on the search path, and stay loaded.
#pragma once

#include <windows.h>

namespace os::detail {

inline HMODULE load_system_library(const char* name)
{
    return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// `module`'s entry `name` as the function type it is called through; null
// when either is missing.
template <typename Function>
void bind_entry(HMODULE module, const char* name, Function& function)
{
    function = module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                                 : nullptr;
}

}  // namespace os::detail
