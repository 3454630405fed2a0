// Shared libraries on Linux.
#include "os/library.h"

#include <dlfcn.h>

namespace os {

bool Library::load(const std::string& path, const std::string&)
{
    unload();
    // Global symbols, as java's own launcher loads the JVM: libraries loaded
    // later (the splash library) bind to the JVM that is already there.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (handle_ == nullptr) {
        // The loader tells why in words alone.
        const char* reason = dlerror();
        failure_ = {"dlopen", 0, reason != nullptr ? reason : "dlopen failed"};
        return false;
    }
    failure_ = Failure();
    return true;
}

void* Library::find(const char* name) const
{
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void Library::unload()
{
    if (handle_ != nullptr)
        dlclose(handle_);
    handle_ = nullptr;
}

void load_runtime_c_libraries(const std::string&)
{
    // libjvm.so needs system libraries alone, which the dynamic loader finds
    // as it does for java (the launcher has no run path of its own, and the
    // current directory is never searched); the runtime's other libraries
    // find theirs through their own run path ($ORIGIN).
}

}  // namespace os
