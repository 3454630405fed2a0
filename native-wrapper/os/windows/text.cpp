// Text on Windows: the launcher's is UTF-8 (its manifest's code page); a
// started java.exe reads the system's ANSI code page.
#include "os/text.h"

#include <windows.h>
#include <io.h>

#include <string>

#include "os/windows/childText.h"
#include "os/windows/wide.h"

namespace os {

using namespace detail;

namespace detail {

UINT child_code_page()
{
    static const UINT code_page = [] {
        DWORD page = CP_ACP;
        GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<wchar_t*>(&page), sizeof(page) / sizeof(wchar_t));
        return static_cast<UINT>(page);
    }();
    return code_page;
}

std::string to_child_bytes(const std::wstring& wide)
{
    const UINT code_page = child_code_page();
    if (wide.empty() || code_page == CP_UTF8)
        return narrow(wide, CP_UTF8);  // the system's code page holds every character
    const int size = static_cast<int>(wide.size());
    BOOL ignored = FALSE;
    std::string bytes(static_cast<std::size_t>(WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), size,
                                                                   nullptr, 0, "?", &ignored)),
                      '\0');
    WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), size, &bytes[0], static_cast<int>(bytes.size()),
                        "?", &ignored);
    return bytes;
}

std::string as_child_reads(const std::string& text)
{
    return narrow(widen(to_child_bytes(widen(text)), child_code_page()), CP_UTF8);
}

}  // namespace detail

std::string to_child_encoding(const std::string& text)
{
    return to_child_bytes(widen(text));
}

bool path_for_child(std::string& path)
{
    if (as_child_reads(path) == path)
        return true;
    // The short form of a path that does not exist yet is its directory's,
    // with its own name, which must then fit the code page itself.
    std::wstring wide = widen(path);
    std::wstring name;
    DWORD attributes = GetFileAttributesW(long_path(wide).c_str());
    const std::size_t slash = wide.find_last_of(L"\\/");
    if (attributes == INVALID_FILE_ATTRIBUTES && slash != std::wstring::npos) {
        name = wide.substr(slash);
        wide.erase(slash);
    }
    const std::string short_form = narrow(short_path(narrow(wide)) + name);
    if (as_child_reads(short_form) != short_form)
        return false;
    path = short_form;
    return true;
}

bool program_can_take_path(const std::string& path)
{
    // Outside the code page, its short name (or its directory's) will do.
    std::string openable = path;
    return path_for_child(openable);
}

bool write_text(std::FILE* stream, const std::string& text, Failure& failure)
{
    std::fflush(stream);
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        const std::wstring wide = widen(text);
        DWORD written = 0;
        if (WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr))
            return true;
        failure = Failure("WriteConsole", static_cast<int>(GetLastError()));
        return false;
    }
    const std::string bytes = to_child_encoding(text);
    SetLastError(0);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    if (std::fflush(stream) == 0 && written)
        return true;
    // The C runtime keeps the system's error of the failed write.
    failure = Failure("WriteFile", static_cast<int>(GetLastError()));
    std::clearerr(stream);
    return false;
}

bool decode_arg(const std::string& text, std::u16string& text16)
{
    const std::wstring wide = widen(text);
    text16.assign(wide.begin(), wide.end());
    return true;
}

}  // namespace os
