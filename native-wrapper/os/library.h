// Shared libraries loaded into the process, for the in-process JVM launch.
#pragma once

#include <string>
#include <utility>

#include "os/error.h"

namespace os {

// A shared library loaded into the process, released when the object dies.
// A failed load keeps the OS's reason (failure(); its text where the loader
// gives words), for messages and tests.
class Library {
public:
    Library() = default;
    ~Library()
    {
        if (!kept_)
            unload();
    }
    Library(Library&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)), kept_(other.kept_), failure_(std::move(other.failure_))
    {
    }
    Library& operator=(Library&& other) noexcept
    {
        if (this != &other) {
            if (!kept_)
                unload();
            handle_ = std::exchange(other.handle_, nullptr);
            kept_ = other.kept_;
            failure_ = std::move(other.failure_);
        }
        return *this;
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Loads the library at `path`, used as given. When `dependency_dir` is
    // not empty it is searched for the libraries that this one imports
    // (Windows: those are looked for in the library's own directory, then
    // `dependency_dir`, then the system's, never in the launcher's or the
    // current directory, and the process's search path is as before
    // afterwards; POSIX: no effect, the library's own run path decides).
    // Unloads what was loaded before. Returns false and keeps the loader's
    // reason for the failure.
    bool load(const std::string& path, const std::string& dependency_dir = "");
    bool loaded() const { return handle_ != nullptr; }
    // The entry `name`, or null when the library lacks it (or is not loaded).
    void* find(const char* name) const;
    // Gives up this object's reference on the library; the OS unloads it
    // once no other reference holds it.
    void unload();
    // Keeps the library loaded for the rest of the process: the object's
    // end no longer unloads it, and it still answers for it.
    void keep_loaded() { kept_ = true; }
    // Why the last load failed (error_text(failure()) for messages); an
    // empty Failure after a load that worked.
    const Failure& failure() const { return failure_; }

private:
    void* handle_ = nullptr;
    bool kept_ = false;
    Failure failure_;
};

// Loads the C runtime that a Java runtime's libraries import, from that
// runtime's library directory `dir` by full path, as the runtime's own java
// does before it loads its JVM, and keeps it for the rest of the process: a
// library of the same name elsewhere (beside the launcher) then never
// stands in for it, for the JVM or for any library loaded later. A file
// that is missing or does not load is passed over, as java passes over a
// missing one; the JVM library's own load then says what it lacks.
// Linux: nothing to do, libjvm.so needs the system's libraries alone and
// the runtime's others find theirs by their own run path.
void load_runtime_c_libraries(const std::string& dir);

}  // namespace os
