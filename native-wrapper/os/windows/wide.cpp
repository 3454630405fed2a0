// UTF-16 texts and long paths for the Windows files (os/windows/wide.h).
#include "os/windows/wide.h"

#include <cwchar>

namespace os::detail {

std::wstring widen(const std::string& text, UINT code_page)
{
    if (text.empty())
        return std::wstring();
    const int size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0)),
                      L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), size, &wide[0], static_cast<int>(wide.size()));
    return wide;
}

std::string narrow(const std::wstring& wide, UINT code_page)
{
    if (wide.empty())
        return std::string();
    const int size = static_cast<int>(wide.size());
    std::string text(
        static_cast<std::size_t>(WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr)),
        '\0');
    WideCharToMultiByte(code_page, 0, wide.data(), size, &text[0], static_cast<int>(text.size()), nullptr, nullptr);
    return text;
}

namespace {

const wchar_t long_prefix[] = L"\\\\?\\";
const wchar_t long_unc_prefix[] = L"\\\\?\\UNC\\";

bool starts_with(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

}  // namespace

std::wstring long_path(const std::wstring& path)
{
    if (path.size() < MAX_PATH - 12 || starts_with(path, long_prefix))
        return path;
    std::wstring full;
    if (!read_whole([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); },
                    full))
        return path;
    if (full.compare(0, 2, L"\\\\") == 0)
        return long_unc_prefix + full.substr(2);
    return long_prefix + full;
}

std::wstring long_path(const std::string& path)
{
    return long_path(widen(path));
}

std::wstring without_long_prefix(const std::wstring& path)
{
    if (starts_with(path, long_unc_prefix))
        return L"\\\\" + path.substr(std::wcslen(long_unc_prefix));
    if (starts_with(path, long_prefix))
        return path.substr(std::wcslen(long_prefix));
    return path;
}

std::wstring short_path(const std::string& path)
{
    const std::wstring long_form = long_path(path);
    std::wstring short_form;
    if (!read_whole([&](wchar_t* buffer, DWORD size) { return GetShortPathNameW(long_form.c_str(), buffer, size); },
                    short_form))
        return long_form;
    return without_long_prefix(short_form);
}

std::wstring final_path(HANDLE handle)
{
    std::wstring path;
    if (!read_whole([&](wchar_t* buffer, DWORD size) {
            return GetFinalPathNameByHandleW(handle, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        }, path))
        return std::wstring();
    const std::wstring plain = without_long_prefix(path);
    for (std::size_t end = plain.find(L'\\', 1); ; end = plain.find(L'\\', end + 1)) {
        const wchar_t last = plain[(end == std::wstring::npos ? plain.size() : end) - 1];
        if (last == L'.' || last == L' ')
            return path;
        if (end == std::wstring::npos)
            return plain;
    }
}

}  // namespace os::detail
