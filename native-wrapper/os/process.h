// Processes: the children the launcher starts and waits for, the program
// that may replace it, and what it knows and sets of its own process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "os/error.h"
#include "os/files.h"

namespace os {

// A command to run: the program and its arguments, one word each, as the
// tool profile and the user gave them. The words stay words up to the OS:
// POSIX hands them to execve as they are; Windows, where a child gets one
// command line, renders them into a text at the start.
struct Command {
    std::vector<std::string> words;  // words[0]: the program
    // words[1] .. words[option_words] are JVM option words, which a command
    // text writes bare where they need no quotes; the words after them are
    // always quoted.
    std::size_t option_words = 0;
};

// The command line as the started program reads it, as the launcher's text
// (for the echo and the messages). Windows: each word converted to the
// system's ANSI code page without best fit (a character the page lacks
// becomes '?', never a look-alike), then quoted, and decoded back; exactly
// this text is what Child::start hands over. POSIX: the words quoted the
// same way, for display only.
std::string command_text(const Command& command);

// Everything about how a child is started; Child::start depends on nothing
// else (as Chromium's base::LaunchOptions).
struct ChildLaunch {
    bool hide_window = true;
    bool tie_to_launcher = true;  // false: the child may outlive the launcher
    FileHandle stdout_file = invalid_file;  // invalid_file: inherit the launcher's
    // With a `stdout_file`: standard error into it too, not the launcher's.
    bool stderr_to_stdout = false;
    // Called with the child's pid once it is known: on Windows before the
    // child runs its first instruction; on POSIX, whose launches of java
    // replace this process instead, only after it has started.
    std::function<void(long)> started;
    // POSIX: false leaves this process's own signal handling as it is
    // while the child runs (nothing ignored, nothing passed on). Windows
    // has no such signals and does not look at it.
    bool pass_signals = true;
    // Changes to the child's environment alone, applied in order over this
    // process's: each name set to its value, or removed where the value is
    // empty (as put_env does). This process's own environment stays as it is.
    std::vector<std::pair<std::string, std::string>> environment;
    // The directory the child starts in; empty: this process's current one.
    // One the child cannot start in fails the start (a detached start: see
    // `detached`).
    std::string working_dir;
    // At the lowest priority the OS gives a user, the disk's too, as
    // run_in_background gives it. Windows: also without a console, where a
    // console program would otherwise get a new one (this process has none
    // in the background).
    bool background = false;
    // The files of this process that the child holds besides its standard
    // streams: with `inherit_all`, every one that is inheritable (opened so,
    // as open_in_directory's `inherited`; on POSIX each descriptor without
    // close-on-exec); otherwise only those in `inherited`, which must be
    // inheritable ones (Windows: the start's handle list).
    bool inherit_all = true;
    std::vector<FileHandle> inherited;
    // Detached from this process: in a session (POSIX) or process group of
    // its own, without a console window, with no standard input, output or
    // error and none of this process's files, not tied to this process's
    // end, never waited for (the Child holds nothing of it once started),
    // with every signal at its default and none blocked (POSIX). For a
    // program that reads its command line as this one does (on Windows in
    // UTF-8: the words reach it exactly). Neither `started` is called nor
    // do `hide_window`, `stdout_file`, `inherit_all`, `inherited`,
    // `tie_to_launcher` and `pass_signals` apply. A `working_dir` it cannot start in: on POSIX
    // the program does not run (the start has already succeeded); Windows
    // starts it in this process's current directory instead (one too long
    // to be a current directory).
    bool detached = false;
};

// One child process, started from a command in one step and waited for in
// another. The object owns the OS handle (or pid) of the child and releases
// it on every path; destroying it does not wait for the child. It keeps the
// Failure of its last call that failed.
//
// Unless the launch says otherwise, the child is tied to the launcher: when
// the launcher ends, also when it is killed, the OS ends the child (a job
// object that kills on close on Windows, so a tied child that still runs
// also ends with this object; a parent-death signal on Linux). The
// processes that the child starts are not tied. From the
// start to the end of the wait an interrupt of the console (Ctrl-C,
// Ctrl-Break, SIGINT, SIGQUIT) is left to the child (on Windows from the
// first start on, for good: the launcher may be told of a Ctrl-C only after
// the wait), and on POSIX SIGTERM and SIGHUP sent to the launcher are passed
// on to it. On Windows, closing the console, logoff and shutdown hold the
// launcher until the waited-for child has ended (within about 5 s), so that
// the child's own handling of them runs to its end. None of this holds for
// a detached child.
class Child {
public:
    Child();
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts the command as `launch` says. On Windows the child gets
    // command_text(command) (its program path of any length); on POSIX the
    // words are its argv. Returns false when the child cannot be started;
    // failure() then tells why and too_long() whether the command line or
    // the argument list is longer than the OS accepts.
    bool start(const Command& command, const ChildLaunch& launch);

    // Waits without a time-out for the started child to end and gives its
    // exit code: the 32-bit code as int on Windows; on POSIX the exit
    // status, or 128+N for a child killed by signal N. Returns false when
    // waiting fails (failure() tells why) or nothing was started.
    bool wait(int& exit_code);

    enum class State { running, ended, failed };
    // Waits at most `milliseconds` for the started child to end: `ended`
    // with exit_code as wait gives it, `running` while it still runs,
    // `failed` as when wait returns false.
    State wait_for(int milliseconds, int& exit_code);

    // Stops every thread of the running child (`paused`), or lets go on
    // exactly what the pause stopped; false when the OS refuses for a thread
    // that still runs. A paused child uses no processor time. Pausing again
    // stops only what is not stopped yet (Windows: each thread once), so one
    // `pause(false)` always undoes every pause before it.
    bool pause(bool paused);

    // Ends the running child at once, also while it is paused (SIGKILL;
    // TerminateProcess). It still has to be waited for.
    bool end();

    const Failure& failure() const { return failure_; }
    bool too_long() const { return too_long_; }

private:
    // Leaves console interrupts to the child; platform code.
    class InterruptGuard;

    // Records `failure` as this object's last; returns false.
    bool fail(Failure failure);

    std::unique_ptr<InterruptGuard> interrupts_;
    std::intptr_t process_;  // process handle on Windows, pid on POSIX; 0: none
    [[maybe_unused]] std::intptr_t job_;  // Windows job object; 0: none
    std::vector<std::intptr_t> paused_threads_;  // Windows: handles of the threads the pause stopped
    Failure failure_;
    bool too_long_;
};

// Starts `command`, a program that reads its command line as this one does,
// detached (ChildLaunch::detached), with `variable` set to `value` in its
// environment alone, in `working_dir` (empty: this process's current
// directory): the archive's run of the class cache. Windows starts it in
// the idle class; on POSIX it starts at this process's priority and lowers
// itself once under way (run_in_background): SCHED_IDLE from its exec on
// would hold back even its start on a busy machine. False, with `failure`
// filled, when it cannot be started.
bool start_detached(const Command& command, const std::string& variable, const std::string& value,
                    const std::string& working_dir, Failure& failure);

// Replaces this process with the program of `command`, looked up as
// Child::start does, with this process's environment. Returns (false) only
// when that fails: `failure` then tells why and `too_long` whether the
// argument list is longer than the OS accepts. Windows has no such call:
// there it always fails.
bool replace_process(const Command& command, Failure& failure, bool& too_long);

// From now on SIGTERM, SIGINT and SIGHUP no longer end this process at
// once: the first is noted, for stop_request() to tell. Windows sends a
// process without a console no such request: there it does nothing.
void catch_stop_requests();

// The signal that asked this process to stop since catch_stop_requests;
// 0 when none did (always on Windows).
int stop_request();

// Lowers this process to the lowest priority the OS gives a user:
// SCHED_IDLE, else nice 19, and the first the kernel ends when memory runs
// out (oom_score_adj 1000) (Linux); the idle class in background mode,
// which lowers its disk and memory priority too (Windows). Its children get
// what the OS hands down (Wine hands down no priority): a child that must
// run so says so in its ChildLaunch (`background`).
void run_in_background();

// This process's id.
long process_id();

// Whether a process of id `pid` lives now (another user's too). An id may
// be reused: a yes may be another program's.
bool process_alive(long pid);

// How much more the system lets this user and this process have now, the
// least along every limit that holds; unlimited (UINT64_MAX) where none
// does, and always on Windows.
struct Headroom {
    // Linux: RLIMIT_NPROC less the threads of the user (counted only where
    // that limit holds, not for the superuser), and pids.max less
    // pids.current of each cgroup (v2, or v1's pids controller) on the way
    // up from this process's own.
    std::uint64_t threads = UINT64_MAX;
    // Linux: the limit less what each of those cgroups holds but could not
    // give back at once (v2: memory.max, memory.current less its inactive
    // file pages; v1: memory.limit_in_bytes, memory.usage_in_bytes less
    // total_inactive_file).
    std::uint64_t memory_bytes = UINT64_MAX;
};
Headroom headroom();

// Whether this process has its standard input, output and error: a POSIX
// file opened while one is closed takes its number. Always on Windows,
// whose files are not numbered so.
bool standard_streams_open();

// Whether this process runs with the rights of the system's superuser
// (POSIX: root); never on Windows, whose administrators own their files.
bool running_as_superuser();

// The most files a program started from this one may hold open once it
// raises its own limit as far as it may (the hard limit); unlimited on
// Windows.
std::uint64_t open_file_limit();

}  // namespace os
