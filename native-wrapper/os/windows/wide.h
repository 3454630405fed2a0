// What the Windows files share: handles closed by scope, the last error, the launcher's
// narrow text as UTF-16 and back, and paths of any length for the wide
// ("W") calls. Texts are narrow in the process code page (UTF-8 through
// the manifest); paths go to the wide calls, which take them at any length,
// and come back whole.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "os/files.h"

namespace os::detail {

inline HANDLE to_handle(FileHandle file)
{
    return reinterpret_cast<HANDLE>(file);
}

// The calling thread's last error, as a Failure holds it.
inline int last_error()
{
    return static_cast<int>(GetLastError());
}

// Closes a handle when it goes out of scope.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle()
    {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE get() const { return handle_; }
    HANDLE release()
    {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    HANDLE handle_;
};

// The process code page's text (or `code_page`'s) as UTF-16, and back.
std::wstring widen(const std::string& text, UINT code_page = CP_ACP);
std::string narrow(const std::wstring& wide, UINT code_page = CP_ACP);

// The answer of a call that fills a buffer with a text, read with a buffer
// that grows until the answer fits: `call(buffer, size)` answers the
// length written, or, when the buffer is too small, the size it needs
// (GetModuleFileName: the buffer's size, the text cut). False when the call
// fails (answers 0).
template <typename Call>
bool read_whole(Call call, std::wstring& text)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            text.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(std::max<std::size_t>(length + 1, buffer.size() * 2));
    }
}

// `path` as the wide file calls take it at any length. Up to MAX_PATH - 12
// characters (the limit of a directory's path) it stays as it is; a longer
// one becomes the full path with the "\\?\" prefix, under which the system
// applies no limit, nor the normalisation that the prefix turns off: the
// full path has backslashes and no "." or ".." left.
std::wstring long_path(const std::wstring& path);
std::wstring long_path(const std::string& path);

// A path that the system gave with the "\\?\" prefix in the form users
// write, which the launcher's normalisation of paths can take.
std::wstring without_long_prefix(const std::wstring& path);

// The short (8.3) form of `path`, which is of any length; `path` itself in
// its long form where the volume keeps no short names.
std::wstring short_path(const std::string& path);

// The path of what `handle` holds open as the system resolves it now,
// every link above it followed to its end (GetFinalPathNameByHandle), in
// the form the launcher's paths take: without the "\\?\" prefix, unless
// a name in it ends in a dot or a space, which the form without would drop
// and so name another file. Empty when it cannot be had.
std::wstring final_path(HANDLE handle);

}  // namespace os::detail
