// The class-data cache's files on Windows: opened without following a
// reparse point, held so that what was checked stays as it is.
#include "os/trustedFiles.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "os/windows/security.h"
#include "os/windows/wide.h"

namespace os {

using namespace detail;

namespace {

std::int64_t ticks(const FILETIME& time)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

HANDLE handle_of(const OwnFile& file)
{
    return to_handle(file.handle());
}

// An OwnFile of the handle `file` that CreateFile answered, with its
// failure when it answered none.
OwnFile own_file(HANDLE file, const std::string& path)
{
    const int error = last_error();
    return OwnFile(reinterpret_cast<FileHandle>(file), path,
                   file != INVALID_HANDLE_VALUE ? Failure() : Failure("CreateFile", error));
}

bool fill_status(HANDLE file, FileStatus& status)
{
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(file, &info) ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return false;
    const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    status.is_directory = !link && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.is_regular = !link && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    status.modified = ticks(info.ftLastWriteTime);
    // The change time moves with every write and rename, and no ordinary
    // program sets it back.
    status.identity = std::to_string(info.dwVolumeSerialNumber) + ':' + std::to_string(info.nFileIndexHigh) + ':' +
                      std::to_string(info.nFileIndexLow) + ':' + std::to_string(basic.ChangeTime.QuadPart) + ':' +
                      std::to_string(status.size) + ':' + std::to_string(status.modified);
    status.private_to_user = only_user_writes(file);
    status.owned = owned_by_trusted(file);
    return true;
}

// Opens `path` for its status; with `follow` false a link itself.
HANDLE open_for_status(const std::string& path, bool follow)
{
    return CreateFileW(long_path(path).c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

std::string in_directory(const OwnFile& dir, const std::string& name)
{
    return dir.path() + '\\' + name;
}

}  // namespace

void OwnFile::close()
{
    if (handle_ != invalid_file)
        CloseHandle(to_handle(handle_));
    handle_ = invalid_file;
}

bool file_status(const std::string& path, FileStatus& status)
{
    ScopedHandle file(open_for_status(path, true));
    return file.get() != INVALID_HANDLE_VALUE && fill_status(file.get(), status);
}

bool file_status(const OwnFile& file, FileStatus& status)
{
    return fill_status(handle_of(file), status);
}

OwnFile open_own_directory(const std::string& parent, const std::string& name, bool make)
{
    const std::string path = parent + '\\' + name;
    if (make) {
        // One entry, inherited by everything below: full access for this user.
        UserOnlySecurity user_only(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        if (user_only.attributes() != nullptr)
            CreateDirectoryW(long_path(path).c_str(), user_only.attributes());
    }
    // Without sharing deletion: nothing renames or replaces it while it is
    // held. Named from then on by its final path, which no link above it
    // that is re-pointed later changes: every later create, rename and
    // delete in it goes by that path, and so does java, so that all of them
    // reach this directory, as long as no other user may change a directory
    // above it either (see parent_others_may_change, which the cache asks).
    HANDLE dir = CreateFileW(long_path(path).c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (dir == INVALID_HANDLE_VALUE)
        return own_file(dir, path);
    const std::wstring final_form = final_path(dir);
    if (final_form.empty()) {
        const int error = last_error();
        CloseHandle(dir);
        return OwnFile(invalid_file, path, Failure("GetFinalPathNameByHandle", error));
    }
    return OwnFile(reinterpret_cast<FileHandle>(dir), narrow(final_form));
}

bool make_private_directories(const std::string& path)
{
    if (is_directory(path.c_str()))
        return true;
    const std::size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos && slash > 0 && !make_private_directories(path.substr(0, slash)))
        return false;
    UserOnlySecurity user_only(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    if (user_only.attributes() != nullptr)
        CreateDirectoryW(long_path(path).c_str(), user_only.attributes());
    return is_directory(path.c_str());
}

OwnFile open_in_directory(const OwnFile& dir, const std::string& name, bool create, bool inherited)
{
    const std::string path = in_directory(dir, name);
    // Never inheritable, whatever `inherited` asks: java opens the file by
    // its jvm_path, and neither it nor what it starts holds the cache's
    // handles (a child that needs one gets it by its start's handle list).
    (void)inherited;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    // A file being read may not be written meanwhile; the JVM writes a new
    // one (the list, the archive) by its path while it is held.
    const DWORD access = create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ | FILE_WRITE_ATTRIBUTES;
    const DWORD sharing = create ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                                 : FILE_SHARE_READ | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(long_path(path).c_str(), access, sharing, &attributes, create ? CREATE_NEW : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return own_file(file, path);
}

std::string jvm_path(const OwnFile& file)
{
    // Its path in the directory's final path names it as well, but an open
    // file's own final path needs no reasoning about the directory.
    const std::wstring final_form = final_path(handle_of(file));
    return final_form.empty() ? file.path() : narrow(final_form);
}

std::string parent_others_may_change(const OwnFile& dir)
{
    // The final path has no link in it: each directory above is what its
    // name there names, up to the volume's root (or a share's).
    std::string path = dir.path();
    for (std::size_t slash = path.find_last_of('\\'); slash != std::string::npos && slash > 0;
         slash = path.find_last_of('\\')) {
        path.erase(slash);
        const bool root = path.size() >= 2 && path.back() == ':';
        if (root)
            path += '\\';
        else if (path.compare(0, 2, "\\\\") == 0 && std::count(path.begin(), path.end(), '\\') < 3)
            break;  // \\server: the share was its root
        ScopedHandle parent(open_for_status(path, false));
        if (parent.get() == INVALID_HANDLE_VALUE || !only_trusted_replace(parent.get()))
            return path;
        if (root)
            break;
    }
    return std::string();
}

bool link_in_directory(const OwnFile& dir, const std::string& from, const std::string& to)
{
    return CreateHardLinkW(long_path(in_directory(dir, to)).c_str(), long_path(in_directory(dir, from)).c_str(),
                           nullptr) != 0;
}

bool read_at(const OwnFile& file, std::uint64_t offset, std::string& chunk)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD count = 0;
    const BOOL read = ReadFile(handle_of(file), &chunk[0], static_cast<DWORD>(chunk.size()), &count, &at);
    chunk.resize(read ? count : 0);
    return read || GetLastError() == ERROR_HANDLE_EOF;
}

namespace {

// A byte far past any end, so that a lock on it, which Windows enforces,
// never stands in the way of a read or write: the last for lock_file, the
// one before it for the marks, so that a file may carry both.
OVERLAPPED far_byte(bool for_mark)
{
    OVERLAPPED at = {};
    at.Offset = for_mark ? 0xfffffffe : 0xffffffff;
    at.OffsetHigh = 0x7fffffff;
    return at;
}

}  // namespace

bool lock_file(const OwnFile& file, bool wait)
{
    OVERLAPPED at = far_byte(false);
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    return LockFileEx(handle_of(file), flags, 0, 1, 0, &at) != 0;
}

bool mark_in_use(const OwnFile& file)
{
    // in_use_elsewhere holds its exclusive lock for an instant: a few tries.
    for (int attempt = 0; attempt < 10; ++attempt) {
        OVERLAPPED at = far_byte(true);
        if (LockFileEx(handle_of(file), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return true;
        Sleep(1);
    }
    return false;
}

bool in_use_elsewhere(const OwnFile& file)
{
    // Windows cannot test for a lock without taking one.
    OVERLAPPED at = far_byte(true);
    if (!LockFileEx(handle_of(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return true;
    at = far_byte(true);
    UnlockFileEx(handle_of(file), 0, 1, 0, &at);
    return false;
}

bool list_directory(const OwnFile& dir, std::vector<std::string>& names)
{
    Failure unreported;
    return list_directory(dir.path(), names, unreported);
}

bool entry_status(const OwnFile& dir, const std::string& name, FileStatus& status)
{
    ScopedHandle file(open_for_status(in_directory(dir, name), false));
    return file.get() != INVALID_HANDLE_VALUE && fill_status(file.get(), status);
}

void delete_in_directory(const OwnFile& dir, const std::string& name)
{
    // The JVM makes its archive read-only, which DeleteFile refuses.
    const std::wstring path = long_path(in_directory(dir, name));
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    DeleteFileW(path.c_str());
}

bool rename_in_directory(const OwnFile& dir, const std::string& from, const std::string& to)
{
    return MoveFileExW(long_path(in_directory(dir, from)).c_str(), long_path(in_directory(dir, to)).c_str(),
                       MOVEFILE_REPLACE_EXISTING) != 0;
}

bool touch_file(const OwnFile& file)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return SetFileTime(handle_of(file), nullptr, nullptr, &now) != 0;
}

std::uint64_t free_disk_space(const OwnFile& dir)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(long_path(dir.path()).c_str(), &available, nullptr, nullptr))
        return 0;
    return available.QuadPart;
}

std::int64_t current_time()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ticks(now);
}

bool may_add_entries(const std::string& path, Failure& failure)
{
    // The open checks the right against the directory's access entries.
    const HANDLE dir = CreateFileW(long_path(path).c_str(), FILE_ADD_SUBDIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE) {
        failure = {"CreateFile", last_error()};
        return false;
    }
    CloseHandle(dir);
    return true;
}

}  // namespace os
