// The class-data cache's files on Linux: every call relative to a directory
// descriptor, none through a link.
#include "os/trustedFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <string>
#include <vector>

namespace os {

void OwnFile::close()
{
    if (handle_ != invalid_file)
        ::close(static_cast<int>(handle_));
    handle_ = invalid_file;
}

namespace {

int fd_of(const OwnFile& file)
{
    return static_cast<int>(file.handle());
}

// An OwnFile of the descriptor `fd` that `call` answered, with the failure
// of that call (its errno `error`) when it answered none.
OwnFile own_file(int fd, int error, const std::string& path, const char* call)
{
    return OwnFile(fd, path, fd >= 0 ? Failure() : Failure(call, error));
}

void fill_status(const struct stat& info, FileStatus& status)
{
    status.is_directory = S_ISDIR(info.st_mode);
    status.is_regular = S_ISREG(info.st_mode);
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 10000000 + info.st_mtim.tv_nsec / 100;
    // The change time moves with every write, rename into place and change
    // of the inode, and no program can set it back: a file replaced by
    // another of the same size and times still differs here.
    status.identity = std::to_string(info.st_dev) + ':' + std::to_string(info.st_ino) + ':' +
                      std::to_string(info.st_ctim.tv_sec) + '.' + std::to_string(info.st_ctim.tv_nsec) + ':' +
                      std::to_string(info.st_size) + ':' + std::to_string(info.st_mtim.tv_sec) + '.' +
                      std::to_string(info.st_mtim.tv_nsec);
    status.owned = info.st_uid == geteuid();
    status.private_to_user = status.owned && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Opens the directory `path` for the cache, never through a link.
int open_directory(const std::string& path)
{
    return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

bool file_status(const std::string& path, FileStatus& status)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    fill_status(info, status);
    return true;
}

bool file_status(const OwnFile& file, FileStatus& status)
{
    struct stat info;
    if (fstat(fd_of(file), &info) != 0)
        return false;
    fill_status(info, status);
    return true;
}

OwnFile open_own_directory(const std::string& parent, const std::string& name, bool make)
{
    const std::string path = parent + '/' + name;
    // Made for this user alone, whatever the umask takes away; an existing
    // one keeps its mode, which the caller judges on what is opened.
    const bool made = make && mkdir(path.c_str(), S_IRWXU) == 0;
    const int make_error = errno;
    const int fd = open_directory(path);
    // Nothing there after a failed mkdir: mkdir's reason is the one to give.
    const bool unmade = fd < 0 && errno == ENOENT && make && !made;
    const int error = unmade ? make_error : errno;
    // Named from then on by its real path, links above it resolved: java
    // writes files in it by name, and a link that another user re-points
    // later would send them elsewhere (the directories of that path are
    // judged by parent_others_may_change).
    std::string real(PATH_MAX, '\0');
    const ssize_t length =
        fd >= 0 ? readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), &real[0], real.size()) : -1;
    real.resize(length > 0 && length < static_cast<ssize_t>(real.size()) && real[0] == '/' ? length : 0);
    OwnFile dir = own_file(fd, error, real.empty() ? path : real, unmade ? "mkdir" : "open");
    if (made && dir.valid())
        fchmod(fd_of(dir), S_IRWXU);
    return dir;
}

bool make_private_directories(const std::string& path)
{
    if (is_directory(path.c_str()))
        return true;
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !make_private_directories(path.substr(0, slash)))
        return false;
    if (mkdir(path.c_str(), S_IRWXU) == 0) {
        const int dir = open_directory(path);
        if (dir >= 0) {
            fchmod(dir, S_IRWXU);
            close(dir);
        }
    }
    return is_directory(path.c_str());
}

OwnFile open_in_directory(const OwnFile& dir, const std::string& name, bool create, bool inherited)
{
    int flags = O_NOFOLLOW | (inherited ? 0 : O_CLOEXEC);
    flags |= create ? O_RDWR | O_CREAT | O_EXCL : O_RDONLY | O_NONBLOCK;
    const std::string path = dir.path() + '/' + name;
    const int fd = openat(fd_of(dir), name.c_str(), flags, S_IRUSR | S_IWUSR);
    OwnFile file = own_file(fd, errno, path, "openat");
    // The umask may have taken the owner's write: the JVM opens the file anew.
    if (create && file.valid())
        fchmod(fd_of(file), S_IRUSR | S_IWUSR);
    return file;
}

std::string jvm_path(const OwnFile& file)
{
    // /dev/fd/N names a descriptor of whoever opens it; a JVM that the
    // tool's JVM starts with the same options has none such.
    const std::string own = "/dev/fd/" + std::to_string(fd_of(file));
    const std::string shared = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_of(file));
    struct stat opened, named;
    if (fstat(fd_of(file), &opened) != 0 || stat(shared.c_str(), &named) != 0 ||
        opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
        return own;
    return shared;
}

std::string parent_others_may_change(const OwnFile& dir)
{
    // Judged by descriptors, each directory opened as ".." of the one below
    // (no name is looked up twice); named by the directory's real path.
    std::string named = dir.path();
    struct stat below;
    if (fstat(fd_of(dir), &below) != 0)
        return named;
    int at = fd_of(dir);
    for (;;) {
        const int up = openat(at, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (at != fd_of(dir))
            ::close(at);
        const std::size_t slash = named.find_last_of('/');
        named.erase(slash == 0 || slash == std::string::npos ? 1 : slash);
        struct stat info;
        if (up < 0 || fstat(up, &info) != 0) {
            if (up >= 0)
                ::close(up);
            return named;
        }
        // The root is its own parent.
        if (info.st_dev == below.st_dev && info.st_ino == below.st_ino) {
            ::close(up);
            return std::string();
        }
        // In a sticky directory others cannot rename or delete what is ours.
        const bool others_write = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0;
        if ((info.st_uid != geteuid() && info.st_uid != 0) || others_write) {
            ::close(up);
            return named;
        }
        below = info;
        at = up;
    }
}

bool link_in_directory(const OwnFile& dir, const std::string& from, const std::string& to)
{
    return linkat(fd_of(dir), from.c_str(), fd_of(dir), to.c_str(), 0) == 0;
}

bool read_at(const OwnFile& file, std::uint64_t offset, std::string& chunk)
{
    ssize_t count;
    do {
        count = pread(fd_of(file), &chunk[0], chunk.size(), static_cast<off_t>(offset));
    } while (count < 0 && errno == EINTR);
    chunk.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return count >= 0;
}

bool lock_file(const OwnFile& file, bool wait)
{
    int result;
    do {
        result = flock(fd_of(file), LOCK_EX | (wait ? 0 : LOCK_NB));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// The marks are record locks: unlike flock's, they belong to the process
// and stay across exec, and another process can test for them without
// taking one (so a run never waits on the test).
bool mark_in_use(const OwnFile& file)
{
    struct flock mark = {};
    mark.l_type = F_RDLCK;
    mark.l_whence = SEEK_SET;
    return fcntl(fd_of(file), F_SETLK, &mark) == 0;
}

bool in_use_elsewhere(const OwnFile& file)
{
    struct flock test = {};
    test.l_type = F_WRLCK;
    test.l_whence = SEEK_SET;
    return fcntl(fd_of(file), F_GETLK, &test) == 0 && test.l_type != F_UNLCK;
}

bool list_directory(const OwnFile& dir, std::vector<std::string>& names)
{
    Failure unreported;
    return list_directory("/dev/fd/" + std::to_string(fd_of(dir)), names, unreported);
}

bool entry_status(const OwnFile& dir, const std::string& name, FileStatus& status)
{
    struct stat info;
    if (fstatat(fd_of(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    fill_status(info, status);
    return true;
}

void delete_in_directory(const OwnFile& dir, const std::string& name)
{
    unlinkat(fd_of(dir), name.c_str(), 0);
}

bool rename_in_directory(const OwnFile& dir, const std::string& from, const std::string& to)
{
    return renameat(fd_of(dir), from.c_str(), fd_of(dir), to.c_str()) == 0;
}

bool touch_file(const OwnFile& file)
{
    return futimens(fd_of(file), nullptr) == 0;
}

std::uint64_t free_disk_space(const OwnFile& dir)
{
    struct statvfs info;
    if (fstatvfs(fd_of(dir), &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

std::int64_t current_time()
{
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

bool may_add_entries(const std::string& path, Failure& failure)
{
    // By the effective ids, as mkdir judges; a read-only mount says EROFS.
    if (faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0)
        return true;
    failure = {"access", errno};
    return false;
}

}  // namespace os
