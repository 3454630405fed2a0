// Shared libraries (DLLs) on Windows.
#include "os/library.h"

#include <windows.h>

#include "os/windows/wide.h"

namespace os {

using namespace detail;

namespace {

// The loader's standard order looks for what a library imports in the
// launcher's own directory first, and in the current one; with these flags
// it looks in the library's own directory, the directories added by
// AddDllDirectory and the system's alone.
const DWORD runtime_search = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                             LOAD_LIBRARY_SEARCH_SYSTEM32;

// The runtime's C runtime, which its java.exe loads from its bin by full
// path before jvm.dll, in the order they import each other (x64 builds of
// newer Visual C++ import vcruntime140_1.dll too).
const char* const runtime_c_libraries[] = {"vcruntime140.dll", "vcruntime140_1.dll", "msvcp140.dll"};

}  // namespace

bool Library::load(const std::string& path, const std::string& dependency_dir)
{
    unload();
    const std::wstring file = long_path(path);
    HMODULE module = nullptr;
    if (dependency_dir.empty()) {
        module = LoadLibraryW(file.c_str());
    } else {
        // A Java runtime keeps the C runtime DLL that its libraries import
        // in its bin, which the standard order does not search: it joins the
        // search of this load only.
        DLL_DIRECTORY_COOKIE added = AddDllDirectory(long_path(dependency_dir).c_str());
        module = LoadLibraryExW(file.c_str(), nullptr, runtime_search);
        if (added != nullptr) {
            const DWORD error = GetLastError();
            RemoveDllDirectory(added);
            SetLastError(error);
        }
    }
    const int error = last_error();
    if (module == nullptr) {
        failure_ = {"LoadLibrary", error};
        // The loader says the same when a DLL that this one imports is
        // missing, which reads as if this one were.
        if (error == ERROR_MOD_NOT_FOUND && GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES)
            failure_.text = error_text(error) + " The file is there: a library it needs is missing.";
        return false;
    }
    handle_ = module;
    failure_ = Failure();
    return true;
}

void load_runtime_c_libraries(const std::string& dir)
{
    // Loaded once by full path, they are the ones every later import of
    // their names binds to, whoever imports them. Never freed.
    for (const char* name : runtime_c_libraries)
        LoadLibraryExW(long_path(dir + '\\' + name).c_str(), nullptr, runtime_search);
}

void* Library::find(const char* name) const
{
    if (handle_ == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Library::unload()
{
    if (handle_ != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

}  // namespace os
