#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "testSupport.h"

extern char** environ;

namespace testing_support {

const bool on_windows = false;
const char path_separator = '/';
const char list_separator = ':';
const char* const exe_suffix = "";

int failure_exit_status()
{
    return 255;
}

bool BackgroundProgram::close_console(unsigned long)
{
    return false;
}

void remove_tree(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);  // a link is removed, not followed
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv, const std::vector<EnvVar>& env,
                                     const std::string& cwd)
{
    ScopedEnvs changes(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (outputs_ / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (outputs_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    // posix_spawn has no working-directory action in this glibc, so the
    // test process moves there for the start.
    std::string old_cwd;
    if (!cwd.empty()) {
        char buffer[4096];
        old_cwd = getcwd(buffer, sizeof buffer);
        if (chdir(cwd.c_str()) != 0)
            throw std::runtime_error("chdir failed: " + cwd);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int spawn_error = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (!old_cwd.empty() && chdir(old_cwd.c_str()) != 0)
        throw std::runtime_error("chdir back failed");
    if (spawn_error != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    process_ = pid;
}

BackgroundProgram::~BackgroundProgram()
{
    if (process_ != 0) {
        kill();
        wait();
    }
}

void BackgroundProgram::interrupt(unsigned long)
{
    ::kill(-static_cast<pid_t>(process_), SIGINT);
}

void BackgroundProgram::kill()
{
    ::kill(static_cast<pid_t>(process_), SIGKILL);
}

bool BackgroundProgram::terminate()
{
    return send_signal(SIGTERM);
}

bool BackgroundProgram::send_signal(int signal_number)
{
    return ::kill(static_cast<pid_t>(process_), signal_number) == 0;
}

unsigned long BackgroundProgram::pid() const
{
    return static_cast<unsigned long>(process_);
}

RunResult BackgroundProgram::wait()
{
    int status = 0;
    waitpid(static_cast<pid_t>(process_), &status, 0);
    process_ = 0;
    RunResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.out = read_file(outputs_ / "out");
    result.err = read_file(outputs_ / "err");
    return result;
}

void interrupt_this_process()
{
    throw std::logic_error("no console control routine on POSIX");
}

bool process_ends_within(unsigned long pid, int ms)
{
    for (int waited = 0;; waited += 10) {
        std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
        std::size_t name_end = stat.rfind(") ");
        if (stat.empty() || (name_end != std::string::npos && stat.compare(name_end + 2, 1, "Z") == 0))
            return true;
        if (waited >= ms)
            return false;
        usleep(10000);
    }
}

std::string own_dir()
{
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string path(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
    return path.substr(0, path.rfind('/'));
}

void set_env(const std::string& name, const std::string& value)
{
    setenv(name.c_str(), value.c_str(), 1);
}

void unset_env(const std::string& name)
{
    unsetenv(name.c_str());
}

bool get_env(const std::string& name, std::string& value)
{
    const char* found = std::getenv(name.c_str());
    if (found == nullptr)
        return false;
    value = found;
    return true;
}

RunResult run_with_output_to_pipe(const std::vector<std::string>& argv, const std::vector<EnvVar>& env,
                                  bool reader_gone, const std::string& cwd)
{
    ScopedEnvs changes(env);
    TempDir outputs;
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (reader_gone)
        close(pipe_ends[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, (outputs / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    char own_cwd[4096];
    if (!cwd.empty() && (getcwd(own_cwd, sizeof own_cwd) == nullptr || chdir(cwd.c_str()) != 0))
        throw std::runtime_error("chdir failed: " + cwd);
    pid_t pid = 0;
    int spawn_error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    if (!cwd.empty() && chdir(own_cwd) != 0)
        throw std::runtime_error("chdir back failed");
    if (spawn_error != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    RunResult result;
    char buffer[4096];
    for (ssize_t got; !reader_gone && (got = read(pipe_ends[0], buffer, sizeof buffer)) != 0;) {
        if (got > 0)
            result.out.append(buffer, static_cast<std::size_t>(got));
        else if (errno != EINTR)
            break;
    }
    if (!reader_gone)
        close(pipe_ends[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.err = read_file(outputs / "err");
    return result;
}

bool others_may_read(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) != 0 || (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

bool let_everyone_write(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && chmod(path.c_str(), info.st_mode | S_IWGRP | S_IWOTH) == 0;
}

}  // namespace testing_support
