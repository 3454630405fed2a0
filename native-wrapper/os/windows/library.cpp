// Shared libraries (DLLs) on Windows.
#include "os/library.h"

#include <windows.h>

#include "os/windows/wide.h"

namespace os {

using namespace detail;

namespace {

std::wstring current_dll_directory()
{
    std::wstring dir;
    if (!read_whole([](wchar_t* buffer, DWORD size) { return GetDllDirectoryW(size, buffer); }, dir))
        dir.clear();  // none set
    return dir;
}

}  // namespace

bool Library::load(const std::string& path, const std::string& dependency_dir)
{
    unload();
    // LoadLibraryA resolves the DLLs that this one imports by the standard
    // search order, which does not include the directory where a Java
    // runtime keeps its C runtime DLL: that directory joins the search for
    // this load only.
    std::wstring previous;
    if (!dependency_dir.empty()) {
        previous = current_dll_directory();
        SetDllDirectoryW(long_path(dependency_dir).c_str());
    }
    HMODULE module = LoadLibraryW(long_path(path).c_str());
    const int error = last_error();
    if (!dependency_dir.empty())
        SetDllDirectoryW(previous.empty() ? nullptr : previous.c_str());
    if (module == nullptr) {
        failure_ = {"LoadLibrary", error};
        // The loader says the same when a DLL that this one imports is
        // missing, which reads as if this one were.
        if (error == ERROR_MOD_NOT_FOUND && GetFileAttributesW(long_path(path).c_str()) != INVALID_FILE_ATTRIBUTES)
            failure_.text = error_text(error) + " The file is there: a library it needs is missing.";
        return false;
    }
    handle_ = module;
    failure_ = Failure();
    return true;
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
