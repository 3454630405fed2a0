// The OS layer on Linux.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "commandText.h"
#include "osLayer.h"

extern char** environ;

namespace os {

const PlatformFacts facts = {
    "brumlet",
    '/',
    ':',
    "bin/java",
    "lib/server/libjvm.so",
    "lib/libsplashscreen.so",
    "DRAVON_BINDIR/jre64",
    "/bin64",
    "/bin64/jre64/bin/java",
    "/tolvex",
    false,
    "lib",
    true,  // Debian's libsplashscreen.so needs libjvm.so, which no search path of its own finds
    true,
    0,
    true,
};

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

void close_file(FileHandle handle)
{
    close(static_cast<int>(handle));
}

std::string error_text(int error, const std::string&)
{
    const char* text = std::strerror(error);
    return text != nullptr ? text : "error " + std::to_string(error);
}

bool read_file_start(const std::string& path, std::size_t max_bytes, std::string& out, int& error)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
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

bool write_file(FileHandle handle, const std::string& data, int& error)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t count = write(static_cast<int>(handle), data.data() + done, data.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            error = errno;
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

namespace {

// The child that SIGTERM and SIGHUP are passed on to while the launcher
// waits for it; 0 when there is none. Read by the signal handler.
volatile sig_atomic_t forward_target = 0;

void forward_signal(int signal_number)
{
    // Only async-signal-safe calls here; kill may change errno.
    int saved_errno = errno;
    pid_t target = forward_target;
    if (target > 0)
        kill(target, signal_number);
    errno = saved_errno;
}

}  // namespace

// An interrupt from the terminal (SIGINT, SIGQUIT) reaches the whole
// foreground group, so the launcher ignores it and leaves the decision to
// the child; SIGTERM and SIGHUP sent to the launcher alone are passed on.
// The previous dispositions come back when the guard dies.
class Child::InterruptGuard {
public:
    explicit InterruptGuard(pid_t child)
    {
        forward_target = child;
        struct sigaction action = {};
        sigemptyset(&action.sa_mask);
        action.sa_handler = SIG_IGN;
        for (int i = 0; i < 2; ++i)
            sigaction(signals[i], &action, &saved[i]);
        action.sa_handler = forward_signal;
        action.sa_flags = SA_RESTART;
        for (int i = 2; i < 4; ++i)
            sigaction(signals[i], &action, &saved[i]);
    }
    ~InterruptGuard()
    {
        for (int i = 0; i < 4; ++i)
            sigaction(signals[i], &saved[i], nullptr);
        forward_target = 0;
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    static constexpr int signals[4] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
    struct sigaction saved[4];
};

namespace {

// The paths to try for `program`, as execvp would: the program itself when
// it holds a '/', otherwise each PATH entry joined with it.
std::vector<std::string> program_candidates(const std::string& program)
{
    if (program.find('/') != std::string::npos)
        return {program};
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/bin:/usr/bin";
    std::vector<std::string> candidates;
    std::size_t begin = 0;
    for (;;) {
        std::size_t end = dirs.find(':', begin);
        std::string dir = dirs.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        candidates.push_back((dir.empty() ? "." : dir) + "/" + program);
        if (end == std::string::npos)
            return candidates;
        begin = end + 1;
    }
}

// Execs the first candidate that the OS takes, with the environment
// `envp`. Only system calls, so that a vfork child may call it too;
// returns only on failure, with the error that counts.
int exec_first(const std::vector<const char*>& candidates, char* const* argv, char* const* envp)
{
    int error = ENOENT;
    for (const char* candidate : candidates) {
        execve(candidate, argv, envp);
        // As execvp: a missing entry tries the next, a refused one is
        // remembered, anything else (E2BIG among them) ends the search.
        if (errno == EACCES) {
            error = EACCES;
        } else if (errno != ENOENT && errno != ENOTDIR) {
            return errno;
        }
    }
    return error;
}

using EnvironmentChanges = std::vector<std::pair<std::string, std::string>>;

// This process's environment with `changes` applied, as setenv and unsetenv
// would apply them: a variable set takes the place of the first of its
// name, or comes last; one removed goes under every entry of its name.
std::vector<std::string> changed_environment(const EnvironmentChanges& changes)
{
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry)
        variables.emplace_back(*entry);
    for (const auto& change : changes) {
        const std::string prefix = change.first + '=';
        const auto named = [&prefix](const std::string& variable) { return variable.compare(0, prefix.size(), prefix) == 0; };
        if (change.second.empty()) {
            variables.erase(std::remove_if(variables.begin(), variables.end(), named), variables.end());
            continue;
        }
        const auto found = std::find_if(variables.begin(), variables.end(), named);
        if (found != variables.end())
            *found = prefix + change.second;
        else
            variables.push_back(prefix + change.second);
    }
    return variables;
}

// A command made ready for execve: the argv of its words, the paths to try
// for its program and its environment. Built before any fork, after which
// nothing may allocate; it points into the command, which outlives it.
struct ProgramCall {
    ProgramCall(const Command& command, const EnvironmentChanges& changes)
    {
        argv.reserve(command.words.size() + 1);
        for (const std::string& word : command.words)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        paths = program_candidates(command.words[0]);
        for (const std::string& path : paths)
            candidates.push_back(path.c_str());
        if (changes.empty())
            return;
        variables = changed_environment(changes);
        for (std::string& variable : variables)
            own_envp.push_back(&variable[0]);
        own_envp.push_back(nullptr);
    }
    ProgramCall(const ProgramCall&) = delete;
    ProgramCall& operator=(const ProgramCall&) = delete;

    // This process's environment when nothing changes in it.
    char* const* envp() const { return own_envp.empty() ? environ : own_envp.data(); }

    std::vector<char*> argv;
    std::vector<std::string> paths;
    std::vector<const char*> candidates;
    std::vector<std::string> variables;
    std::vector<char*> own_envp;
};

// The child up to exec. It runs in the launcher's memory (vfork) while the
// launcher waits, so it may only make system calls: everything it needs is
// prepared beforehand, and it never returns. On failure it stores its errno
// in `report`, which is the launcher's own memory, and ends with 127.
[[noreturn]] void exec_child(const ProgramCall& call, int stdout_fd, bool tie_to_launcher, pid_t launcher,
                             volatile int* report)
{
    int error = 0;
    // dup2 leaves out close-on-exec, but does nothing when the file already
    // is descriptor 1 (a launcher started with standard output closed).
    if (stdout_fd == STDOUT_FILENO ? fcntl(stdout_fd, F_SETFD, 0) < 0
                                   : stdout_fd >= 0 && dup2(stdout_fd, STDOUT_FILENO) < 0)
        error = errno;
    if (error == 0 && tie_to_launcher) {
        // Killed with the launcher; a launcher that died before this line
        // would never send the signal, so then give up at once.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
            error = errno;
        else if (getppid() != launcher)
            _exit(127);
    }
    if (error == 0) {
        // The child keeps the dispositions the launcher was started with
        // (the launcher ignores interrupts only once the child runs): an
        // interrupt that the launcher's own starter ignores, as for a
        // background job of a script or under nohup, stays ignored, as it
        // would for java started directly.
        error = exec_first(call.candidates, call.argv.data(), call.envp());
    }
    *report = error;
    _exit(127);
}

}  // namespace

Child::Child() : process_(0), job_(0), error_(0), too_long_(false) {}

// A pid needs no closing; a child started without a wait is reaped by
// whoever inherits it when the launcher ends.
Child::~Child() = default;

bool Child::start(const Command& command, const ChildLaunch& launch)
{
    error_ = 0;
    too_long_ = false;
    ProgramCall call(command, launch.environment);

    const pid_t launcher = getpid();
    // vfork, as posix_spawn does: no copy of the launcher's address space,
    // so a start costs little more than the exec itself. The launcher is
    // suspended until the child has called exec or ended, and they share
    // memory until then, so a failed exec's errno simply lands in
    // child_error, where posix_spawn keeps it too: no pipe is needed.
    volatile int child_error = 0;
    const pid_t pid = vfork();
    if (pid < 0) {
        error_ = errno;
        return false;
    }
    if (pid == 0) {
        exec_child(call, static_cast<int>(launch.stdout_file), launch.tie_to_launcher, launcher, &child_error);
    }
    if (child_error == 0 && launch.started)
        launch.started(static_cast<long>(pid));
    if (child_error != 0) {
        int ignored = 0;
        while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
        error_ = child_error;
        too_long_ = child_error == E2BIG;
        return false;
    }
    // From here on an interrupt may reach the child.
    if (launch.pass_signals)
        interrupts_.reset(new InterruptGuard(pid));
    process_ = pid;
    return true;
}

bool Child::wait(int& exit_code)
{
    return wait_for(-1, exit_code) == State::ended;
}

Child::State Child::wait_for(int milliseconds, int& exit_code)
{
    if (process_ == 0) {
        error_ = ECHILD;
        return State::failed;
    }
    const pid_t pid = static_cast<pid_t>(process_);
    // A time-out is waited out in short steps: waitpid itself has none.
    const int step_ms = 5;
    int status = 0;
    pid_t waited;
    for (int slept_ms = 0;; slept_ms += step_ms) {
        waited = waitpid(pid, &status, milliseconds < 0 ? 0 : WNOHANG);
        if (waited < 0 && errno == EINTR)
            continue;
        if (waited != 0 || slept_ms >= milliseconds)
            break;
        usleep(step_ms * 1000);
    }
    if (waited == 0)
        return State::running;
    interrupts_.reset();
    if (waited < 0) {
        error_ = errno;
        return State::failed;
    }
    process_ = 0;
    if (WIFEXITED(status))
        exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        exit_code = 128 + WTERMSIG(status);
    else
        exit_code = -1;
    return State::ended;
}

bool Child::pause(bool paused)
{
    return process_ != 0 && kill(static_cast<pid_t>(process_), paused ? SIGSTOP : SIGCONT) == 0;
}

bool Child::end()
{
    return process_ != 0 && kill(static_cast<pid_t>(process_), SIGKILL) == 0;
}

void replace_process(const Command& command, int& error, bool& too_long)
{
    // No interrupt guard, no forwarding, no parent-death tie: from here on
    // this process is the program, so signals, pid and exit status are its
    // own. It inherits the signal dispositions as they were at this
    // launcher's start, which changes none of them.
    ProgramCall call(command, {});
    error = exec_first(call.candidates, call.argv.data(), call.envp());
    too_long = error == E2BIG;
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

bool is_directory(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// Reads the next records of an open directory. The system call itself:
// glibc has a wrapper only since 2.30, and the release runs on older ones.
long read_directory(int fd, char* buffer, std::size_t size)
{
    return syscall(SYS_getdents64, fd, buffer, size);
}

// Closes every descriptor from `first` on, between fork and exec, so without
// allocating: what closefrom does, which glibc has only since 2.34. The
// numbers come from /proc/self/fd, listed again until a pass closes none
// (closing while listing may skip records); without /proc, every number up
// to the limit is closed.
void close_descriptors_from(int first)
{
    const int listing = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) {
        struct rlimit limit = {};
        const rlim_t end = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 1048576 ? limit.rlim_cur : 1048576;
        for (rlim_t fd = static_cast<rlim_t>(first); fd < end; ++fd)
            close(static_cast<int>(fd));
        return;
    }
    alignas(struct dirent64) char records[4096];
    for (bool closed = true; closed;) {
        closed = false;
        lseek(listing, 0, SEEK_SET);
        long size;
        while ((size = read_directory(listing, records, sizeof records)) > 0) {
            for (long at = 0; at < size;) {
                const auto* entry = reinterpret_cast<const struct dirent64*>(records + at);
                at += entry->d_reclen;
                int fd = 0;
                const char* digit = entry->d_name;
                for (; *digit >= '0' && *digit <= '9'; ++digit)
                    fd = fd * 10 + (*digit - '0');
                if (*digit == '\0' && digit != entry->d_name && fd >= first && fd != listing) {
                    close(fd);
                    closed = true;
                }
            }
        }
    }
    close(listing);
}

}  // namespace

bool list_directory(const std::string& dir, std::vector<std::string>& names, int* error)
{
    // The directory's records read straight into a buffer on the stack:
    // opendir would add an fstat and an allocation to every start.
    const int listing = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) {
        if (error != nullptr)
            *error = errno;
        return false;
    }
    alignas(struct dirent64) char records[32768];
    long size;
    while ((size = read_directory(listing, records, sizeof records)) > 0) {
        for (long at = 0; at < size;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(records + at);
            names.emplace_back(entry->d_name);
            at += entry->d_reclen;
        }
    }
    close(listing);
    return true;
}

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
    OwnFile dir(open_directory(path), path);
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
    OwnFile file(openat(fd_of(dir), name.c_str(), flags, S_IRUSR | S_IWUSR), dir.path() + '/' + name);
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
    if (fstat(fd_of(file), &opened) != 0 || stat(shared.c_str(), &named) != 0 || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino)
        return own;
    return shared;
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
    return list_directory("/dev/fd/" + std::to_string(fd_of(dir)), names);
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

bool program_can_take_path(const std::string&)
{
    return true;
}

bool start_detached(const Command& command, const std::string& variable, const std::string& value,
                    const std::string& working_dir)
{
    ProgramCall call(command, {{variable, value}});
    const pid_t first = fork();
    if (first < 0)
        return false;
    if (first == 0) {
        // A session of its own: no terminal, no signal of the caller's
        // group. The second fork leaves it to init, so that it is neither
        // this process's child nor that of the program that replaces it.
        if (setsid() < 0)
            _exit(127);
        const pid_t second = fork();
        if (second != 0)
            _exit(second < 0 ? 127 : 0);
        const int null = open("/dev/null", O_RDWR);
        if (null < 0)
            _exit(127);
        for (int fd = 0; fd < 3; ++fd)
            dup2(null, fd);
        // No file or pipe of the caller's stays open in it.
        close_descriptors_from(3);
        if (!working_dir.empty() && chdir(working_dir.c_str()) != 0)
            _exit(127);
        // Nothing of the caller's signal handling either: a caller that
        // ignores SIGCHLD would leave it no child to wait for, one that
        // ignores or blocks SIGTERM a run that cannot be stopped.
        struct sigaction defaults = {};
        defaults.sa_handler = SIG_DFL;
        sigemptyset(&defaults.sa_mask);
        for (int signal_number = 1; signal_number < NSIG; ++signal_number)
            sigaction(signal_number, &defaults, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        exec_first(call.candidates, call.argv.data(), call.envp());
        _exit(127);
    }
    int status = 0;
    while (waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

volatile sig_atomic_t stop_signal = 0;

void note_stop(int signal_number)
{
    if (stop_signal == 0)
        stop_signal = signal_number;
}

}  // namespace

void catch_stop_requests()
{
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = note_stop;
    action.sa_flags = SA_RESTART;
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal_number, &action, nullptr);
}

int stop_request()
{
    return stop_signal;
}

bool is_absolute_path(const std::string& path)
{
    return !path.empty() && path[0] == '/';
}

std::int64_t current_time()
{
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

void run_in_background()
{
    struct sched_param idle = {};
    if (sched_setscheduler(0, SCHED_IDLE, &idle) != 0)
        setpriority(PRIO_PROCESS, 0, 19);
    // The disk too: the idle I/O class (3), which children inherit.
    const int who_process = 1, idle_class = 3;
    syscall(SYS_ioprio_set, who_process, 0, idle_class << 13);
}

long process_id()
{
    return static_cast<long>(getpid());
}

int last_error()
{
    return errno;
}

bool standard_streams_open()
{
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(fd, F_GETFD) < 0)
            return false;
    }
    return true;
}

bool running_as_superuser()
{
    return geteuid() == 0;
}

std::uint64_t open_file_limit()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max == RLIM_INFINITY)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(limit.rlim_max);
}

void put_env(const std::string& name, const std::string& value)
{
    if (value.empty())
        unsetenv(name.c_str());
    else
        setenv(name.c_str(), value.c_str(), 1);
}

// ---- Shared libraries and argument text, for the in-process JVM launch ----

bool Library::load(const std::string& path, const std::string&)
{
    unload();
    // Global symbols, as java's own launcher loads the JVM: libraries loaded
    // later (the splash library) bind to the JVM that is already there.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        error_ = reason != nullptr ? reason : "dlopen failed";
        return false;
    }
    error_.clear();
    return true;
}

void* Library::find(const char* name) const
{
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void Library::unload()
{
    if (handle_ != nullptr)
        dlclose(handle_);
    handle_ = nullptr;
}

std::string command_text(const Command& command)
{
    return render_command_text(command);
}

std::string to_child_encoding(const std::string& text)
{
    return text;
}

bool path_for_child(std::string&)
{
    // java takes any bytes for a path.
    return true;
}

void write_text(std::FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

bool decode_arg(const std::string&, std::u16string&)
{
    return false;
}

namespace {

struct ThreadCall {
    const std::function<int()>* body;
    int result;
};

void* call_on_thread(void* call)
{
    ThreadCall* thread_call = static_cast<ThreadCall*>(call);
    thread_call->result = (*thread_call->body)();
    return nullptr;
}

}  // namespace

int run_on_new_thread(std::uint64_t stack_size, const std::function<int()>& body)
{
    ThreadCall call{&body, 0};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stack_size > 0 && pthread_attr_setstacksize(&attributes, stack_size) == EINVAL) {
        // Some systems take only whole pages.
        const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
        pthread_attr_setstacksize(&attributes, (stack_size + page - 1) / page * page);
    }
    // The JVM puts its own guard pages on the stacks of its threads.
    pthread_attr_setguardsize(&attributes, 0);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, call_on_thread, &call) == 0)
        pthread_join(thread, nullptr);
    else
        call.result = body();
    pthread_attr_destroy(&attributes);
    return call.result;
}

bool read_machine_env(const std::string&, std::string&)
{
    return false;
}

bool store_machine_env(const std::string&, const std::string&)
{
    return false;
}

void announce_env_change() {}

}  // namespace os
