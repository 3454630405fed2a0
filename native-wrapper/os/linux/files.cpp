// The launcher's files on Linux.
#include "os/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "os/linux/directoryRecords.h"

namespace os {

const FileHandle invalid_file = -1;

namespace {

// The user's temporary directory: TMPDIR, or /tmp when that is unset or empty.
std::string temp_dir()
{
    const char* tmpdir = std::getenv("TMPDIR");
    return (tmpdir != nullptr && tmpdir[0] != '\0') ? tmpdir : "/tmp";
}

}  // namespace

bool create_temp_file(std::string& name, FileHandle& handle, Failure& failure)
{
    std::string path = temp_dir() + "/tmpXXXXXX";
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    // Close-on-exec keeps the file out of other children; the child that
    // gets it as standard output receives a dup2 copy.
    int fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) {
        failure = {"mkstemp", errno};
        return false;
    }
    name = buffer.data();
    handle = fd;
    return true;
}

bool create_argument_file(std::string& name, FileHandle& handle, Failure& failure)
{
    return create_temp_file(name, handle, failure);
}

bool create_inherited_file(std::string& name, FileHandle& handle, Failure& failure)
{
    // Not close-on-exec: the replacing program reads the file through its
    // descriptor. A memfd never has a name in a directory; without memfd
    // (before Linux 3.17, or where seccomp refuses it) an O_TMPFILE file in
    // the temporary directory has none either. The system call itself:
    // glibc has a wrapper only since 2.27.
    int fd = static_cast<int>(syscall(SYS_memfd_create, "brumlet-arguments", 0));
    if (fd < 0) {
        fd = open(temp_dir().c_str(), O_TMPFILE | O_RDWR, 0600);
        if (fd < 0) {
            failure = {"open", errno};
            return false;
        }
    }
    name = "/dev/fd/" + std::to_string(fd);
    handle = fd;
    return true;
}

void close_file(FileHandle handle)
{
    close(static_cast<int>(handle));
}

bool read_file_start(const std::string& path, std::size_t max_bytes, std::string& out, Failure& failure)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failure = {"open", errno};
        return false;
    }
    out.assign(max_bytes, '\0');
    ssize_t count = read(fd, &out[0], max_bytes);
    out.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    close(fd);
    return true;
}

void delete_file(const std::string& path)
{
    unlink(path.c_str());
}

bool write_file(FileHandle handle, const std::string& data, Failure& failure)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t count = write(static_cast<int>(handle), data.data() + done, data.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            failure = {"write", errno};
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

struct BrokenPipesFail::Saved {
    struct sigaction action;
};

BrokenPipesFail::BrokenPipesFail() : saved_(new Saved)
{
    struct sigaction ignore = {};
    sigemptyset(&ignore.sa_mask);
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved_->action);
}

BrokenPipesFail::~BrokenPipesFail()
{
    sigaction(SIGPIPE, &saved_->action, nullptr);
}

bool get_executable_path(std::string& path, Failure& failure)
{
    std::vector<char> buffer(260);
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            failure = {"readlink", errno};
            return false;
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            path.assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);  // possibly cut: try again with more room
    }
}

bool get_current_directory(std::string& dir, Failure& failure)
{
    std::vector<char> buffer(260);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            failure = {"getcwd", errno};
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
    dir = buffer.data();
    return true;
}

bool full_path(const std::string& path, std::string& full, Failure& failure)
{
    if (is_absolute_path(path)) {
        full = path;
        return true;
    }
    std::string dir;
    if (!get_current_directory(dir, failure))
        return false;
    // As exec and dlopen take a relative path: below the current directory,
    // its "." and ".." left to the system.
    full = dir + (dir == "/" ? "" : "/") + path;
    return true;
}

bool is_directory(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool list_directory(const std::string& dir, std::vector<std::string>& names, Failure& failure)
{
    // The directory's records read straight into a buffer on the stack:
    // opendir would add an fstat and an allocation to every start.
    const int listing = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) {
        failure = {"open", errno};
        return false;
    }
    alignas(struct dirent64) char records[32768];
    long size;
    while ((size = detail::read_directory(listing, records, sizeof records)) > 0) {
        for (long at = 0; at < size;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(records + at);
            names.emplace_back(entry->d_name);
            at += entry->d_reclen;
        }
    }
    close(listing);
    return true;
}

bool is_absolute_path(const std::string& path)
{
    return !path.empty() && path[0] == '/';
}

}  // namespace os
