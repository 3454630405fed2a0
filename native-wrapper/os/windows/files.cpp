// The launcher's files on Windows.
#include "os/files.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "os/windows/security.h"
#include "os/windows/wide.h"

namespace os {

using namespace detail;

const FileHandle invalid_file = reinterpret_cast<FileHandle>(INVALID_HANDLE_VALUE);

namespace {

std::wstring hex_digits(DWORD value)
{
    std::wstring digits;
    do {
        digits.insert(digits.begin(), L"0123456789ABCDEF"[value & 15]);
        value >>= 4;
    } while (value != 0);
    return digits;
}

// The temporary directory where GetTempPath cannot give it, as it gives at
// most MAX_PATH characters: the first of TMP, TEMP and USERPROFILE that is
// set, made a full path that ends in a backslash, as GetTempPath does.
bool long_temp_dir(std::wstring& dir)
{
    for (const wchar_t* name : {L"TMP", L"TEMP", L"USERPROFILE"}) {
        std::wstring value;
        if (!read_whole([&](wchar_t* buffer, DWORD size) { return GetEnvironmentVariableW(name, buffer, size); },
                        value))
            continue;
        if (!read_whole([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(value.c_str(), size, buffer, nullptr); },
                        dir))
            return false;
        if (dir.back() != L'\\')
            dir += L'\\';
        return true;
    }
    return false;
}

// What the names of the launcher's argument files start with.
const wchar_t argument_file_prefix[] = L"brumlet-args-";
// What the names of the files that create_new_file makes end with.
const wchar_t temp_file_suffix[] = L".tmp";

// The user's temporary directory, ending in a backslash, also where it is
// longer than GetTempPath can give.
bool temp_dir(std::wstring& dir)
{
    return read_whole([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); }, dir) ||
           (GetLastError() == ERROR_FILENAME_EXCED_RANGE && long_temp_dir(dir));
}

// Makes a new file in `dir` for reading and writing, named as
// GetTempFileName names it, which takes a directory of at most MAX_PATH - 14
// characters: `prefix`, four hex digits from a counter that starts at the
// tick count, ".tmp", and the file only made when the name is new.
// INVALID_HANDLE_VALUE when that fails.
HANDLE create_new_file(const std::wstring& dir, const wchar_t* prefix, DWORD share, SECURITY_ATTRIBUTES* attributes,
                       std::string& name)
{
    DWORD unique = GetTickCount();
    for (int attempt = 0; attempt < 0x10000; ++attempt, ++unique) {
        const std::wstring candidate =
            dir + prefix + hex_digits((unique & 0xFFFF) != 0 ? unique & 0xFFFF : 1) + temp_file_suffix;
        HANDLE file = CreateFileW(long_path(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, share, attributes,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            name = narrow(candidate);
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return INVALID_HANDLE_VALUE;
}

// Whether `name` is one that create_new_file gives with `prefix`, letter
// for letter: the user's own files that merely start alike are not ours.
bool is_made_name(const std::wstring& name, const std::wstring& prefix)
{
    const std::size_t suffix_size = std::wcslen(temp_file_suffix);
    if (name.size() <= prefix.size() + suffix_size || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix_size, suffix_size, temp_file_suffix) != 0)
        return false;
    const std::wstring digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix_size);
    const unsigned long value = std::wcstoul(digits.c_str(), nullptr, 16);
    return value >= 1 && value <= 0xFFFF && hex_digits(value) == digits;
}

}  // namespace

bool create_temp_file(std::string& name, FileHandle& handle, Failure& failure)
{
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;

    std::wstring dir;
    if (!temp_dir(dir)) {
        failure = {"GetTempPath", last_error()};
        return false;
    }
    // The name and the empty file first, as GetTempFileName makes them (its
    // failures keep its name in the message), then the file opened as the
    // child gets it: a failure there is CreateFile's.
    HANDLE made = create_new_file(dir, L"tmp", 0, nullptr, name);
    if (made == INVALID_HANDLE_VALUE) {
        failure = {"GetTempFileName", last_error()};
        return false;
    }
    CloseHandle(made);
    HANDLE file = CreateFileW(long_path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failure = {"CreateFile", last_error()};
        DeleteFileW(long_path(name).c_str());  // nothing of it is left
        return false;
    }
    handle = reinterpret_cast<FileHandle>(file);
    return true;
}

bool create_argument_file(std::string& name, FileHandle& handle, Failure& failure)
{
    std::wstring dir;
    if (!temp_dir(dir)) {
        failure = {"GetTempPath", last_error()};
        return false;
    }
    // The files of launchers that are gone, killed before they could delete
    // theirs: a live launcher's file, held open without sharing deletion,
    // stays. The pattern matches without regard to case, and also short
    // names: only the names the launcher makes are deleted.
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(long_path(dir + argument_file_prefix + L"*" + temp_file_suffix).c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            if (is_made_name(entry.cFileName, argument_file_prefix))
                DeleteFileW(long_path(dir + entry.cFileName).c_str());
        } while (FindNextFileW(listing, &entry));
        FindClose(listing);
    }
    // java.exe opens it for reading, sharing reading and writing; where the
    // user-only descriptor cannot be made it gets the directory's.
    UserOnlySecurity user_only;
    HANDLE file = create_new_file(dir, argument_file_prefix, FILE_SHARE_READ, user_only.attributes(), name);
    if (file == INVALID_HANDLE_VALUE) {
        failure = {"GetTempFileName", last_error()};
        return false;
    }
    // java opens it by the final path of what was written, which a link
    // above the temporary directory that is re-pointed meanwhile does not
    // send elsewhere (the file, held without sharing deletion, stays there).
    const std::wstring final_form = final_path(file);
    if (!final_form.empty())
        name = narrow(final_form);
    handle = reinterpret_cast<FileHandle>(file);
    return true;
}

bool create_inherited_file(std::string&, FileHandle&, Failure& failure)
{
    failure = {"create_inherited_file", ERROR_CALL_NOT_IMPLEMENTED};
    return false;
}

void close_file(FileHandle handle)
{
    CloseHandle(to_handle(handle));
}

bool read_file_start(const std::string& path, std::size_t max_bytes, std::string& out, Failure& failure)
{
    HANDLE file = CreateFileW(long_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failure = {"CreateFile", last_error()};
        return false;
    }
    ScopedHandle closer(file);
    out.assign(max_bytes, '\0');
    DWORD count = 0;
    if (!ReadFile(file, &out[0], static_cast<DWORD>(max_bytes), &count, nullptr))
        count = 0;
    out.resize(count);
    return true;
}

void delete_file(const std::string& path)
{
    DeleteFileW(long_path(path).c_str());
}

bool write_file(FileHandle handle, const std::string& data, Failure& failure)
{
    std::size_t done = 0;
    while (done < data.size()) {
        DWORD count = 0;
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1 << 20));
        if (!WriteFile(to_handle(handle), data.data() + done, chunk, &count, nullptr) || count == 0) {
            failure = {"WriteFile", last_error()};
            return false;
        }
        done += count;
    }
    return true;
}

// A write to a pipe without a reader fails with an error here anyway.
struct BrokenPipesFail::Saved {};
BrokenPipesFail::BrokenPipesFail() = default;
BrokenPipesFail::~BrokenPipesFail() = default;

bool get_executable_path(std::string& path, Failure& failure)
{
    std::wstring wide;
    if (!read_whole([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); }, wide)) {
        failure = {"GetModuleFileName", last_error()};
        return false;
    }
    path = narrow(without_long_prefix(wide));
    return true;
}

bool get_current_directory(std::string& dir, Failure& failure)
{
    std::wstring wide;
    if (!read_whole([](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); }, wide)) {
        failure = {"GetCurrentDirectory", last_error()};
        return false;
    }
    dir = narrow(without_long_prefix(wide));
    return true;
}

bool full_path(const std::string& path, std::string& full, Failure& failure)
{
    if (is_absolute_path(path)) {
        full = path;
        return true;
    }
    const std::wstring relative = widen(path);
    std::wstring wide;
    const auto get = [&](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(relative.c_str(), size, buffer, nullptr);
    };
    if (!read_whole(get, wide)) {
        failure = {"GetFullPathName", last_error()};
        return false;
    }
    full = narrow(without_long_prefix(wide));
    return true;
}

bool is_directory(const char* path)
{
    DWORD attributes = GetFileAttributesW(long_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool list_directory(const std::string& dir, std::vector<std::string>& names, Failure& failure)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(long_path(dir + "\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        failure = {"FindFirstFile", last_error()};
        return false;
    }
    do {
        names.push_back(narrow(entry.cFileName));
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return true;
}

bool is_absolute_path(const std::string& path)
{
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    return (path.size() >= 2 && separator(path[0]) && separator(path[1])) ||
           (path.size() >= 3 && path[1] == ':' && separator(path[2]));
}

}  // namespace os
