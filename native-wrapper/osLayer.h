// The operating system behind one small interface. The core files call only
// these functions and read only these constants; osWindows.cpp and
// osPosix.cpp implement them, one file per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace os {

// The facts in which the two ports differ, in one place.
struct PlatformFacts {
    const char* launcher_file;          // "brumlet.exe" / "brumlet"
    char path_separator;                // joined by the launcher: '\\' / '/'
    char list_separator;                // class path and PATH-like lists: ';' / ':'
    const char* java_exe_below_jre;     // "bin\\java.exe" / "bin/java"
    const char* jvm_lib_below_jre;      // "bin\\server\\jvm.dll" / "lib/server/libjvm.so"
    const char* splash_lib_below_jre;   // "bin\\splashscreen.dll" / "lib/libsplashscreen.so"
    const char* default_jre_dir;        // "DRAVON_BINDIR\\jre64", a text with a wrapper variable
    const char* bin_dir_below_root;     // "\\bin64" / "/bin64"
    const char* jre_offset;             // the java launcher below the suite root
    const char* sibling_tool_file;      // "\\tolvex.exe" / "/tolvex"
    bool folds_path_case;               // path normalisation lowers case and turns '\\' into '/'
    const char* runtime_libs_below_jre; // "bin" / "lib": where the runtime keeps the libraries its JVM imports
    bool splash_lib_needs_jvm_lib;      // the splash library resolves its JVM dependency only once that is loaded
    // The program token of a command text is escaped like an argument and
    // read back by the argument rules: POSIX paths may hold '"'. Windows
    // paths cannot, and CreateProcessA reads the token up to the next '"'.
    bool program_token_escaped;
    std::size_t max_command_text;       // longest command line handed over, in UTF-16 units: 32,766 / 0 for no fixed limit
    bool replaces_process;              // a launch may become its program (execve): false / true
};

extern const PlatformFacts facts;

// An open file of the OS (a HANDLE on Windows, a descriptor on POSIX), as an
// opaque number.
using FileHandle = std::intptr_t;
extern const FileHandle invalid_file;

// What an OS call that failed was and why; `call` is the name users see in
// messages such as "GetTempFileName failed with error 5.".
struct Failure {
    const char* call = nullptr;
    int error = 0;
};

// Creates a new, empty file with a system-chosen name starting with "tmp" in
// the user's temporary directory, opened for reading and writing, without
// sharing, so that a child can be given it as its standard output.
// Returns false and fills `failure` when any step fails.
bool create_temp_file(std::string& name, FileHandle& handle, Failure& failure);

// Creates a new, empty file for a Java argument file in the user's
// temporary directory, opened for reading and writing, that only this user
// may read; the handle is not inherited. Windows: named "brumlet-args-X.tmp"
// (X one to four hex digits) and, while `handle` is open, readable by others
// (java) but not deletable: before making it, the call deletes the files
// named so, letter for letter, that no live launcher holds, left by
// launchers that were killed. POSIX: as
// create_temp_file (mode 0600). Returns false and fills `failure` when it
// cannot be made.
bool create_argument_file(std::string& name, FileHandle& handle, Failure& failure);

void close_file(FileHandle handle);

// The OS's own text for error number `error` (strerror on POSIX,
// FormatMessage on Windows), without a trailing line break; "error N" when
// the OS has none. `subject`, when given, fills the text's place for the
// file it is about (Windows: "%1").
std::string error_text(int error, const std::string& subject = "");

// Opens `path` for reading and reads once, at most `max_bytes`, into `out`.
// Returns false with the OS error in `error` when the file cannot be opened.
bool read_file_start(const std::string& path, std::size_t max_bytes, std::string& out, int& error);

void delete_file(const std::string& path);

// Writes all of `data` to the open file. Returns false with the OS error in
// `error` when a write fails.
bool write_file(FileHandle handle, const std::string& data, int& error);

// While it lives, a write to a pipe whose reader has gone fails with an
// error instead of ending the process (POSIX: SIGPIPE ignored; Windows has
// no such signal). The disposition the launcher was started with comes back
// when it dies, so that java starts with that one.
class BrokenPipesFail {
public:
    BrokenPipesFail();
    ~BrokenPipesFail();
    BrokenPipesFail(const BrokenPipesFail&) = delete;
    BrokenPipesFail& operator=(const BrokenPipesFail&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

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

// `text` (the launcher's own) in the encoding in which a started program
// reads its command line and java its argument files: on Windows the
// system's ANSI code page, each character that page lacks as '?'; on POSIX
// `text` unchanged.
std::string to_child_encoding(const std::string& text);

// Makes `path` one that a started program can open by its narrow text.
// Windows: a path with characters outside the ANSI code page becomes its
// short (8.3) form, which is ASCII (for a path that does not exist yet, the
// short form of its directory and its own name). False, with `path`
// unchanged, where no such form exists (a volume without short names).
// POSIX: always true, `path` unchanged.
bool path_for_child(std::string& path);

// Writes a message of the launcher to `stream` and flushes it. Windows: to
// a console as UTF-16 (WriteConsoleW), so that any text reads right;
// elsewhere in the ANSI code page, the encoding of java's own output there,
// so that one file holds one encoding. POSIX: the bytes as they are.
void write_text(std::FILE* stream, const std::string& text);

// How a child is started.
struct ChildLaunch {
    bool hide_window = true;
    bool tie_to_launcher = true;  // false: the child may outlive the launcher
    FileHandle stdout_file = invalid_file;  // invalid_file: inherit the launcher's
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
};

// One child process, started from a command text in one step and waited for
// in another. The object owns the OS handle (or pid) of the child and
// releases it on every path; destroying it does not wait for the child.
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
// the child's own handling of them runs to its end.
class Child {
public:
    Child();
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts the command. On Windows the child gets command_text(command)
    // (its program path of any length); on POSIX the words are its argv.
    // Returns false when the child cannot be started; error() then tells
    // the OS error and too_long() whether the command line or the argument
    // list is longer than the OS accepts.
    bool start(const Command& command, const ChildLaunch& launch);

    // Waits without a time-out for the started child to end and gives its
    // exit code: the 32-bit code as int on Windows; on POSIX the exit
    // status, or 128+N for a child killed by signal N. Returns false when
    // waiting fails (error() tells why) or nothing was started.
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

    int error() const { return error_; }
    bool too_long() const { return too_long_; }

private:
    // Leaves console interrupts to the child; platform code.
    class InterruptGuard;

    std::unique_ptr<InterruptGuard> interrupts_;
    std::intptr_t process_;  // process handle on Windows, pid on POSIX; 0: none
    std::intptr_t job_;      // Windows job object; 0: none
    std::vector<std::intptr_t> paused_threads_;  // Windows: handles of the threads the pause stopped
    int error_;
    bool too_long_;
};

// Replaces this process with the program of `command`, looked up as
// Child::start does, with this process's environment. Returns
// only when that fails: `error` then tells the OS error and `too_long`
// whether the argument list is longer than the OS accepts. Windows has no
// such call: there it always fails.
void replace_process(const Command& command, int& error, bool& too_long);

// Creates a new, empty file that has no name in any directory, so that
// nothing is left of it whatever way the process ends, opened for reading
// and writing and kept open across replace_process. `name` is the path by
// which the replacing program opens it ("/dev/fd/N"). Returns false and
// fills `failure` when it cannot be made; always on Windows.
bool create_inherited_file(std::string& name, FileHandle& handle, Failure& failure);

// Paths of any length pass whole through these calls; where the OS cannot
// give one whole, they fail rather than cut it.

// The full path of the running executable; false if the OS cannot tell.
bool get_executable_path(std::string& path, Failure& failure);

// The current directory as the OS reports it; false on failure.
bool get_current_directory(std::string& dir, Failure& failure);

bool is_directory(const char* path);

// The names of the entries of `dir`, in the order the file system lists
// them ("." and ".." included where the OS lists them). False when the
// directory cannot be listed, with the OS error in `*error` when given.
bool list_directory(const std::string& dir, std::vector<std::string>& names, int* error = nullptr);

// ---- Files of the class-data cache ----

// An open file or directory of the class-data cache, closed when the object
// dies. `path` is the name it was opened by.
class OwnFile {
public:
    OwnFile() = default;
    OwnFile(FileHandle handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    ~OwnFile() { close(); }
    OwnFile(OwnFile&& other) noexcept : handle_(std::exchange(other.handle_, invalid_file)), path_(std::move(other.path_)) {}
    OwnFile& operator=(OwnFile&& other) noexcept
    {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, invalid_file);
            path_ = std::move(other.path_);
        }
        return *this;
    }
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;

    bool valid() const { return handle_ != invalid_file; }
    FileHandle handle() const { return handle_; }
    const std::string& path() const { return path_; }
    void close();

private:
    FileHandle handle_ = invalid_file;
    std::string path_;
};

// What the class-data cache asks of a file or directory.
struct FileStatus {
    bool is_directory = false;
    bool is_regular = false;
    std::uint64_t size = 0;
    // Last write, in 100-nanosecond ticks from an epoch of the port's own.
    std::int64_t modified = 0;
    // What tells this file from every other and from itself before a
    // change: device, inode and change time (POSIX); volume serial, file
    // index and change time (Windows); size and last write on both. A file
    // replaced by another, even with the same size and times, has another.
    std::string identity;
    // No other user can change it: this user owns it and neither group nor
    // others may write it (POSIX); on Windows this user owns it and no
    // access-control entry for anyone but this user, SYSTEM or the
    // Administrators grants writing.
    bool private_to_user = false;
    // This user owns it (Windows: as private_to_user judges the owner).
    bool owned = false;
};

// The status of the file at `path`, links followed (as the JVM opens a
// class-path entry); false when it cannot be had.
bool file_status(const std::string& path, FileStatus& status);

// The status of what `file` holds open; false when it cannot be had.
bool file_status(const OwnFile& file, FileStatus& status);

// Opens the directory `name` in `parent`, making it (for this user alone)
// when it is missing, never through a link. Held open so that it stays the
// directory that was checked (Windows: it cannot be renamed meanwhile).
// Not valid when it cannot be made or opened or is a link.
// With `make` false nothing is made: a missing directory is not valid.
// One it makes gets exactly the mode it means, whatever the umask.
OwnFile open_own_directory(const std::string& parent, const std::string& name, bool make = true);

// Makes the directory `path` and its missing parents, each for this user
// alone whatever the umask; changes none that is there. False when `path`
// is not a directory afterwards.
bool make_private_directories(const std::string& path);

// Opens the file `name` in the directory `dir`, never through a link:
// for reading (`create` false) or as a new file for reading and writing,
// for this user alone (whatever the umask), that must not exist yet. With `inherited` the handle
// passes to a program that replaces this process and to children (and the
// JVM in this process may open it by jvm_path). Not valid on failure.
OwnFile open_in_directory(const OwnFile& dir, const std::string& name, bool create, bool inherited = false);

// The name of `file` (opened by open_in_directory with `inherited`) by which
// a JVM started from this process, or in it, opens the very file that was
// opened, and so can a program that JVM starts while this process lives:
// "/proc/PID/fd/N" on Linux ("/dev/fd/N" where /proc does not show this
// process so); on Windows its path, which the open directory keeps from
// being changed.
std::string jvm_path(const OwnFile& file);

// Gives the file `from` in `dir` the second name `to` there (a hard link);
// false on failure, also when `to` exists.
bool link_in_directory(const OwnFile& dir, const std::string& from, const std::string& to);

// Reads from `file` at `offset` at most chunk.size() bytes into `chunk`,
// which then holds what was read (nothing at the end of the file); false on
// a read error.
bool read_at(const OwnFile& file, std::uint64_t offset, std::string& chunk);

// Takes an exclusive lock on `file`, with `wait` until it is free, else
// only when it is free now; true when it is had. The lock ends with the
// last handle on the open file (on POSIX, also a copy inherited by the
// program that replaced this process; on Windows with this process). It
// never stops another program from reading or writing the file.
bool lock_file(const OwnFile& file, bool wait);

// Marks the open `file` (opened with `inherited`) as in use by this
// process, for as long as the process and a program that replaces it live:
// a shared mark, which many processes may hold at once. Never waits more
// than a few milliseconds; false when the mark cannot be had.
bool mark_in_use(const OwnFile& file);

// Whether another process holds a mark_in_use on `file` now.
bool in_use_elsewhere(const OwnFile& file);

// The names in `dir` as list_directory gives them.
bool list_directory(const OwnFile& dir, std::vector<std::string>& names);

// The status of `name` in `dir`, not following a link; false when it
// cannot be had.
bool entry_status(const OwnFile& dir, const std::string& name, FileStatus& status);

// Deletes the file `name` in `dir` (never what a link points to).
void delete_in_directory(const OwnFile& dir, const std::string& name);

// Moves `from` to `to` within `dir`, replacing a file there in one step;
// false on failure.
bool rename_in_directory(const OwnFile& dir, const std::string& from, const std::string& to);

// Sets the last write of the open `file` to now; false on failure.
bool touch_file(const OwnFile& file);

// The bytes this user may still write on the disk of `dir`; 0 when unknown.
std::uint64_t free_disk_space(const OwnFile& dir);

// Whether a program started from this one can be given `path` by some
// name (see path_for_child): on Windows java.exe reads its command line in
// the ANSI code page, and a path that the code page cannot hold and that
// has no short name reaches it as another name. Always true on POSIX.
bool program_can_take_path(const std::string& path);

// Starts `command`, a program that reads its command line as this one does
// (on Windows in UTF-8: the words reach it exactly), with
// `variable` set to `value` in its environment alone, detached from this
// process: in a session (POSIX) or process group of its own, without a
// console window, with no standard input, output or error, holding none of
// this process's files or pipes, not tied to this process's end, never
// waited for, with every signal at its default and none blocked (POSIX).
// It starts in `working_dir` when that is not empty (so that it holds no
// directory of the caller's), else in this process's current directory.
// False when it cannot be started.
bool start_detached(const Command& command, const std::string& variable, const std::string& value,
                    const std::string& working_dir = "");

// From now on SIGTERM, SIGINT and SIGHUP no longer end this process at
// once: the first is noted, for stop_request() to tell. Windows sends a
// process without a console no such request: there it does nothing.
void catch_stop_requests();

// The signal that asked this process to stop since catch_stop_requests;
// 0 when none did (always on Windows).
int stop_request();

// Whether `path` names a file without regard to the current directory
// ("/x"; "C:\x", "\\server\share").
bool is_absolute_path(const std::string& path);

// The time now, in FileStatus::modified ticks.
std::int64_t current_time();

// Lowers this process (and what it starts) to the lowest priority the OS
// gives a user: SCHED_IDLE, else nice 19 (Linux); the idle class in
// background mode, which lowers its disk and memory priority too (Windows).
void run_in_background();

// This process's id.
long process_id();

// The OS error of the last call of this layer that failed (errno,
// GetLastError), for error_text.
int last_error();

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

// Writes a variable into the process environment, for this process and its
// children; an empty value removes the variable.
void put_env(const std::string& name, const std::string& value);

// ---- Shared libraries and argument text, for the in-process JVM launch ----

// A shared library loaded into the process, released when the object dies.
// A failed load keeps the OS's reason, for messages and tests.
class Library {
public:
    Library() = default;
    ~Library()
    {
        if (!kept_)
            unload();
    }
    Library(Library&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)), kept_(other.kept_), error_(std::move(other.error_))
    {
    }
    Library& operator=(Library&& other) noexcept
    {
        if (this != &other) {
            if (!kept_)
                unload();
            handle_ = std::exchange(other.handle_, nullptr);
            kept_ = other.kept_;
            error_ = std::move(other.error_);
        }
        return *this;
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Loads the library at `path`, used as given. When `dependency_dir` is
    // not empty it is searched for the libraries that this one imports
    // (Windows: it is on the DLL search path during the load, and the
    // previous DLL directory is restored afterwards; POSIX: no effect, the
    // library's own run path decides). Unloads what was loaded before.
    // Returns false and keeps the loader's text for the failure.
    bool load(const std::string& path, const std::string& dependency_dir = "");
    bool loaded() const { return handle_ != nullptr; }
    // The entry `name`, or null when the library lacks it (or is not loaded).
    void* find(const char* name) const;
    // Gives up this object's reference on the library; the OS unloads it
    // once no other reference holds it.
    void unload();
    // Keeps the library loaded for the rest of the process: the object's
    // end no longer unloads it, and it still answers for it.
    void keep_loaded() { kept_ = true; }
    // The loader's text for the last failed load; empty when none.
    const std::string& error() const { return error_; }

private:
    void* handle_ = nullptr;
    bool kept_ = false;
    std::string error_;
};

// An argument as the platform's narrow text decoded to UTF-16, the form Java
// strings take, into `text16`: on Windows from the launcher's code page.
// Returns false where the platform's java leaves that to the JVM, which
// decodes by the character set of the user's locale (POSIX): the launcher
// then asks the JVM as java does.
bool decode_arg(const std::string& text, std::u16string& text16);

// Runs `body` on a new thread whose stack is `stack_size` bytes (0: the
// platform's default for a new thread), waits for it to end and returns
// what `body` returned; java runs the JVM and main so. When no thread can
// be made, runs `body` on the calling thread, as java then does.
int run_on_new_thread(std::uint64_t stack_size, const std::function<int()>& body);

// The machine-wide environment: on Windows the values of the registry key
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment.
// Linux has none: reading and storing always fail there, announcing does nothing.

// Reads value `name` whole (up to its first NUL byte, whatever its type),
// with the key opened for querying only. False when the value is missing
// and on every other failure.
bool read_machine_env(const std::string& name, std::string& value);

// Stores `value` (with its terminating NUL) as REG_SZ under `name`, the key
// opened with all access rights and closed again before returning. False on
// failure.
bool store_machine_env(const std::string& name, const std::string& value);

// Tells running programs that the environment changed: WM_SETTINGCHANGE with
// "Environment" to every top-level window, giving up on hung ones after 5 s.
void announce_env_change();

}  // namespace os
