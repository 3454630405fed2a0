// What the tests need of the operating system, on both ports: running a
// program with its output captured, scratch directories, files and the
// environment. Kept apart from the launcher's own OS layer so that the
// launcher is tested by independent means.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

extern const bool on_windows;
extern const char path_separator;  // '\\' or '/'
extern const char list_separator;  // ';' or ':'
extern const char* const exe_suffix;  // ".exe" or ""

// The exit status that a process ending with exit(-1) shows its parent.
int failure_exit_status();

struct RunResult {
    int exit_code = -1;  // POSIX: 128+N when signal N ended it
    int signal = 0;      // POSIX: the signal that ended it; 0 when it exited
    std::string out;
    std::string err;
};

// One change of the environment: set `name` to `value` (also to the empty
// text), or remove it.
struct EnvVar {
    std::string name;
    std::string value;
    bool set = true;
};
inline EnvVar unset(const std::string& name) { return {name, "", false}; }

// Runs `argv` (argv[0] a path) with the environment changed as given, in
// `cwd` when it is not empty, and returns its exit code with everything it
// wrote.
RunResult run_program(const std::vector<std::string>& argv, const std::vector<EnvVar>& env = {},
                      const std::string& cwd = "");

// Runs `argv` like run_program, with standard output a pipe: one whose
// reader has already gone (`reader_gone`), else one read to its end, which
// comes only once no process holds its writing end, as for a shell's
// $(...). Returns the exit code (on POSIX 128+N for a death by signal N),
// the standard error and what the pipe gave.
RunResult run_with_output_to_pipe(const std::vector<std::string>& argv, const std::vector<EnvVar>& env,
                                  bool reader_gone, const std::string& cwd = "");
inline RunResult run_with_output_reader_gone(const std::vector<std::string>& argv, const std::vector<EnvVar>& env = {})
{
    return run_with_output_to_pipe(argv, env, true);
}

// The directory of the running test program; the launcher and the fixtures
// are built beside it.
std::string own_dir();
std::string join(const std::string& dir, const std::string& name);

// A fresh directory, removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    // Exactly this directory, which must not exist yet (throws otherwise).
    explicit TempDir(const std::string& exact_path);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return join(path_, name); }

private:
    std::string path_;
};

// A program started in the background (on POSIX in a process group of its
// own) with the environment changed as given and its output going to files.
// Killed and reaped if it still runs when the object dies.
class BackgroundProgram {
public:
    explicit BackgroundProgram(const std::vector<std::string>& argv, const std::vector<EnvVar>& env = {},
                               const std::string& cwd = "");
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    // What Ctrl-C in its console does: on POSIX SIGINT to its process group;
    // on Windows the console's control routine run in it, then in `other_pid`.
    void interrupt(unsigned long other_pid);
    // What closing its console does: on Windows the console's control
    // routine for CTRL_CLOSE_EVENT started in it and in `other_pid` at once.
    // False where there is no such event (POSIX).
    bool close_console(unsigned long other_pid);
    // Ends it at once: SIGKILL, TerminateProcess.
    void kill();
    // Sends it SIGTERM; false where there are no signals.
    bool terminate();
    // Sends it `signal_number`; false where there are no signals.
    bool send_signal(int signal_number);
    unsigned long pid() const;
    // What it has written to standard output so far.
    std::string out_so_far() const;
    // Waits for it to end; its exit code with everything it wrote.
    RunResult wait();

private:
    TempDir outputs_;
    std::intptr_t process_ = 0;  // pid or process handle; 0 once reaped
};

// What a Ctrl-C in the console does to this very process: its console
// control routine runs on a thread of its own, and returns when the
// handlers have. Windows only; throws elsewhere.
void interrupt_this_process();

// True once the process `pid` has ended (a zombie counts), within `ms`.
bool process_ends_within(unsigned long pid, int ms);

// The content of `path` once it exists and is not empty; empty after a
// minute without.
std::string wait_for_file(const std::string& path);

void make_dir(const std::string& path);
void remove_tree(const std::string& path);
// Makes nested directories of 100-character names below `base` until the
// path is longer than `length` (by default past the classic 260-character
// limit); returns the deepest.
std::string make_deep_dir(const std::string& base, std::size_t length = 300);
void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
void copy_file(const std::string& from, const std::string& to);  // keeps it executable
std::vector<std::string> list_dir(const std::string& dir);  // without "." and ".."
// A symbolic link at `link` to `target`; false where it cannot be made.
bool make_symlink(const std::string& target, const std::string& link);
// Lets every user write `path` (POSIX: the group and others write bits;
// Windows: an access entry that grants Everyone writing); false on failure.
bool let_everyone_write(const std::string& path);
// Whether anyone but this user may read `path` (POSIX: the group and others
// read bits; Windows: an access entry that grants reading to anyone but
// this user, SYSTEM and the Administrators);
// true when it cannot be told.
bool others_may_read(const std::string& path);

// Changes a variable and restores the old state when the object dies.
class ScopedEnv {
public:
    explicit ScopedEnv(const EnvVar& change);
    ScopedEnv(const std::string& name, const std::string& value) : ScopedEnv(EnvVar{name, value}) {}
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool had_value_;
    std::string old_value_;
};

// Sets a variable (an empty value where the OS allows it) for this process
// and its children.
// Several changes at once, all restored when the object dies.
class ScopedEnvs {
public:
    explicit ScopedEnvs(const std::vector<EnvVar>& changes);
    // Undoes the changes last to first, so that two changes of one variable
    // leave it as it was before the first.
    ~ScopedEnvs();
    ScopedEnvs(const ScopedEnvs&) = delete;
    ScopedEnvs& operator=(const ScopedEnvs&) = delete;

private:
    std::vector<std::unique_ptr<ScopedEnv>> envs_;
};

void set_env(const std::string& name, const std::string& value);
void unset_env(const std::string& name);
bool get_env(const std::string& name, std::string& value);

std::string to_hex(const std::string& bytes);
std::string from_hex(const std::string& hex);

// The report that the test child (and the Java test tool) writes to the file
// named by TEST_CHILD_REPORT: its arguments and, on Windows, its raw command
// line.
struct ChildReport {
    bool found = false;
    std::string command_line;
    std::vector<std::string> args;  // argv[1] .. argv[argc-1]
    std::vector<std::string> argument_files;  // content of each "@file" argument
    std::vector<std::string> environment;     // "NAME=VALUE" of each NATIVE_WRAP_ variable
};
ChildReport read_child_report(const std::string& path);

}  // namespace testing_support
