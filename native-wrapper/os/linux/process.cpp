// Processes on Linux: children by vfork and execve, the detached start by a
// double fork, signals passed on to a waited-for child.
#include "os/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "launch/commandText.h"
#include "os/linux/directoryRecords.h"
#include "os/platform.h"

extern char** environ;

namespace os {

std::string command_text(const Command& command)
{
    return render_command_text(command.words, command.option_words, facts.program_token);
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
// for its program and its environment. Built
// before any fork, after which nothing may allocate; it points into the
// command, which outlives it.
struct ProgramCall {
    ProgramCall(const Command& command, const ChildLaunch& launch)
    {
        argv.reserve(command.words.size() + 1);
        for (const std::string& word : command.words)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        paths = program_candidates(command.words[0]);
        for (const std::string& path : paths)
            candidates.push_back(path.c_str());
        if (launch.environment.empty())
            return;
        variables = changed_environment(launch.environment);
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

// Closes every descriptor from `first` on but those in `kept`, between
// fork and exec, so without allocating: what closefrom does, which glibc
// has only since 2.34. The numbers come from /proc/self/fd, listed again
// until a pass closes none (closing while listing may skip records);
// without /proc, every number up to the limit is closed.
void close_descriptors_from(int first, const std::vector<FileHandle>& kept)
{
    const auto closes = [&](int fd) { return fd >= first && std::find(kept.begin(), kept.end(), fd) == kept.end(); };
    const int listing = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) {
        struct rlimit limit = {};
        const rlim_t end = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 1048576 ? limit.rlim_cur : 1048576;
        for (rlim_t fd = static_cast<rlim_t>(first); fd < end; ++fd) {
            if (closes(static_cast<int>(fd)))
                close(static_cast<int>(fd));
        }
        return;
    }
    alignas(struct dirent64) char records[4096];
    for (bool closed = true; closed;) {
        closed = false;
        lseek(listing, 0, SEEK_SET);
        long size;
        while ((size = detail::read_directory(listing, records, sizeof records)) > 0) {
            for (long at = 0; at < size;) {
                const auto* entry = reinterpret_cast<const struct dirent64*>(records + at);
                at += entry->d_reclen;
                int fd = 0;
                const char* digit = entry->d_name;
                for (; *digit >= '0' && *digit <= '9'; ++digit)
                    fd = fd * 10 + (*digit - '0');
                if (*digit == '\0' && digit != entry->d_name && closes(fd) && fd != listing) {
                    close(fd);
                    closed = true;
                }
            }
        }
    }
    close(listing);
}

// Lowers the calling process to the lowest priority a user may set, the
// disk's too. Only system calls, for a child between vfork and exec.
void lower_priority()
{
    struct sched_param idle = {};
    if (sched_setscheduler(0, SCHED_IDLE, &idle) != 0)
        setpriority(PRIO_PROCESS, 0, 19);
    // The disk too: the idle I/O class (3), which children inherit.
    const int who_process = 1, idle_class = 3;
    syscall(SYS_ioprio_set, who_process, 0, idle_class << 13);
    // The first the kernel ends when memory runs out, before any tool: a
    // process may always raise its own score, and its children inherit it.
    const int oom_score = open("/proc/self/oom_score_adj", O_WRONLY | O_CLOEXEC);
    if (oom_score >= 0) {
        const ssize_t written = write(oom_score, "1000", 4);
        static_cast<void>(written);
        close(oom_score);
    }
}

// The child up to exec. It runs in the launcher's memory (vfork) while the
// launcher waits, so it may only make system calls: everything it needs is
// prepared beforehand, and it never returns. On failure it stores the call
// and its errno in `failed_call` and `failed_error`, which are the
// launcher's own memory, and ends with 127.
[[noreturn]] void exec_child(const ProgramCall& call, const ChildLaunch& launch, pid_t launcher,
                             const char* volatile* failed_call, volatile int* failed_error)
{
    const int stdout_fd = static_cast<int>(launch.stdout_file);
    const char* failed = nullptr;
    // dup2 leaves out close-on-exec, but does nothing when the file already
    // is descriptor 1 (a launcher started with standard output closed).
    if (stdout_fd == STDOUT_FILENO ? fcntl(stdout_fd, F_SETFD, 0) < 0
                                   : stdout_fd >= 0 && dup2(stdout_fd, STDOUT_FILENO) < 0)
        failed = "dup2";
    if (failed == nullptr && stdout_fd >= 0 && launch.stderr_to_stdout && dup2(STDOUT_FILENO, STDERR_FILENO) < 0)
        failed = "dup2";
    if (failed == nullptr && launch.tie_to_launcher) {
        // Killed with the launcher; a launcher that died before this line
        // would never send the signal, so then give up at once.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
            failed = "prctl";
        else if (getppid() != launcher)
            _exit(127);
    }
    if (failed == nullptr && !launch.working_dir.empty() && chdir(launch.working_dir.c_str()) != 0)
        failed = "chdir";
    if (failed == nullptr) {
        if (launch.background)
            lower_priority();
        if (!launch.inherit_all)
            close_descriptors_from(3, launch.inherited);
        // The child keeps the dispositions the launcher was started with
        // (the launcher ignores interrupts only once the child runs): an
        // interrupt that the launcher's own starter ignores, as for a
        // background job of a script or under nohup, stays ignored, as it
        // would for java started directly.
        *failed_error = exec_first(call.candidates, call.argv.data(), call.envp());
        *failed_call = "execve";
    } else {
        *failed_error = errno;
        *failed_call = failed;
    }
    _exit(127);
}

// Starts the program of `call` detached (see ChildLaunch::detached).
bool spawn_detached(const ProgramCall& call, const ChildLaunch& launch, Failure& failure)
{
    const pid_t first = fork();
    if (first < 0) {
        failure = {"fork", errno};
        return false;
    }
    if (first == 0) {
        // A session of its own: no terminal, no signal of the caller's
        // group. The second fork leaves it to init, so that it is neither
        // this process's child nor that of the program that replaces it.
        // This child's exit status is the errno of what failed in it.
        if (setsid() < 0)
            _exit(errno);
        const pid_t second = fork();
        if (second != 0)
            _exit(second < 0 ? errno : 0);
        const int null = open("/dev/null", O_RDWR);
        if (null < 0)
            _exit(127);
        for (int fd = 0; fd < 3; ++fd)
            dup2(null, fd);
        // No file or pipe of the caller's stays open in it.
        close_descriptors_from(3, {});
        if (!launch.working_dir.empty() && chdir(launch.working_dir.c_str()) != 0)
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
        if (launch.background)
            lower_priority();
        exec_first(call.candidates, call.argv.data(), call.envp());
        _exit(127);
    }
    int status = 0;
    while (waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    failure = {"fork", WIFEXITED(status) ? WEXITSTATUS(status) : ECHILD};
    return false;
}

}  // namespace

Child::Child() : process_(0), job_(0), too_long_(false) {}

// A pid needs no closing; a child started without a wait is reaped by
// whoever inherits it when the launcher ends.
Child::~Child() = default;

bool Child::fail(Failure failure)
{
    failure_ = std::move(failure);
    return false;
}

bool Child::start(const Command& command, const ChildLaunch& launch)
{
    failure_ = Failure();
    too_long_ = false;
    ProgramCall call(command, launch);
    if (launch.detached)
        return spawn_detached(call, launch, failure_);

    const pid_t launcher = getpid();
    // vfork, as posix_spawn does: no copy of the launcher's address space,
    // so a start costs little more than the exec itself. The launcher is
    // suspended until the child has called exec or ended, and they share
    // memory until then, so a failed exec's errno simply lands in
    // child_error, where posix_spawn keeps it too: no pipe is needed.
    const char* volatile child_call = nullptr;
    volatile int child_error = 0;
    const pid_t pid = vfork();
    if (pid < 0)
        return fail({"vfork", errno});
    if (pid == 0)
        exec_child(call, launch, launcher, &child_call, &child_error);
    if (child_call == nullptr && launch.started)
        launch.started(static_cast<long>(pid));
    if (child_call != nullptr) {
        int ignored = 0;
        while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
        too_long_ = child_error == E2BIG;
        return fail({child_call, child_error});
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
        fail({"waitpid", ECHILD});
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
    const int error = errno;
    interrupts_.reset();
    if (waited < 0) {
        fail({"waitpid", error});
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
    if (process_ == 0)
        return fail({"kill", ESRCH});
    return kill(static_cast<pid_t>(process_), paused ? SIGSTOP : SIGCONT) == 0 || fail({"kill", errno});
}

bool Child::end()
{
    if (process_ == 0)
        return fail({"kill", ESRCH});
    return kill(static_cast<pid_t>(process_), SIGKILL) == 0 || fail({"kill", errno});
}

bool start_detached(const Command& command, const std::string& variable, const std::string& value,
                    const std::string& working_dir, Failure& failure)
{
    ChildLaunch launch;
    launch.detached = true;
    launch.environment = {{variable, value}};
    launch.working_dir = working_dir;
    Child child;
    if (child.start(command, launch))
        return true;
    failure = child.failure();
    return false;
}

bool replace_process(const Command& command, Failure& failure, bool& too_long)
{
    // No interrupt guard, no forwarding, no parent-death tie: from here on
    // this process is the program, so signals, pid and exit status are its
    // own. It inherits the signal dispositions as they were at this
    // launcher's start, which changes none of them.
    ProgramCall call(command, ChildLaunch());
    const int error = exec_first(call.candidates, call.argv.data(), call.envp());
    failure = {"execve", error};
    too_long = error == E2BIG;
    return false;
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

void run_in_background()
{
    lower_priority();
}

long process_id()
{
    return static_cast<long>(getpid());
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

}  // namespace os
