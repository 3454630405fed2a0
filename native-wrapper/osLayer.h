// The operating system behind one small interface. The core files call only
// these functions and read only these constants; osWindows.cpp and
// osPosix.cpp implement them, one file per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
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
    std::size_t max_command_text;       // longest child command text: 32,766 / 0 for no fixed limit
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

void close_file(FileHandle handle);

// Opens `path` for reading and reads once, at most `max_bytes`, into `out`.
// Returns false with the OS error in `error` when the file cannot be opened.
bool read_file_start(const std::string& path, std::size_t max_bytes, std::string& out, int& error);

void delete_file(const std::string& path);

// Writes all of `data` to the open file. Returns false with the OS error in
// `error` when a write fails.
bool write_file(FileHandle handle, const std::string& data, int& error);

// How a child is started.
struct ChildLaunch {
    bool hide_window = true;
    bool tie_to_launcher = true;  // false: the child may outlive the launcher
    FileHandle stdout_file = invalid_file;  // invalid_file: inherit the launcher's
};

// One child process, started from a command text in one step and waited for
// in another. The object owns the OS handle (or pid) of the child and
// releases it on every path; destroying it does not wait for the child.
//
// Unless the launch says otherwise, the child is tied to the launcher: when
// the launcher ends, also when it is killed, the OS ends the child (a job
// object that kills on close on Windows, so a tied child that still runs
// also ends with this object; a parent-death signal on Linux). From the
// start to the end of the wait an interrupt of the console (Ctrl-C,
// Ctrl-Break, SIGINT, SIGQUIT) is left to the child, and on POSIX SIGTERM
// and SIGHUP sent to the launcher are passed on to it.
class Child {
public:
    Child();
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts the command text. On Windows the text goes to CreateProcessA
    // as it is; on POSIX it is split by the Windows C runtime rules and the
    // words become the child's argv, so both ports hand the child the same
    // arguments. Returns false when the child cannot be started; error()
    // then tells the OS error and too_long() whether the command text or its
    // argument list is longer than the OS accepts.
    bool start(std::string& command_text, const ChildLaunch& launch);

    // Waits without a time-out for the started child to end and gives its
    // exit code: the 32-bit code as int on Windows; on POSIX the exit
    // status, or 128+N for a child killed by signal N. Returns false when
    // waiting fails (error() tells why) or nothing was started.
    bool wait(int& exit_code);

    int error() const { return error_; }
    bool too_long() const { return too_long_; }

private:
    // Leaves console interrupts to the child while it lives; platform code.
    class InterruptGuard;

    std::unique_ptr<InterruptGuard> interrupts_;
    std::intptr_t process_;  // process handle on Windows, pid on POSIX; 0: none
    std::intptr_t job_;      // Windows job object; 0: none
    int error_;
    bool too_long_;
};

// The full path of the running executable; false if the OS cannot tell.
bool get_executable_path(std::string& path, Failure& failure);

// The current directory as the OS reports it; false on failure.
bool get_current_directory(std::string& dir, Failure& failure);

bool is_directory(const char* path);

// The names of the entries of `dir`, in the order the file system lists
// them ("." and ".." included where the OS lists them). False when the
// directory cannot be listed.
bool list_directory(const std::string& dir, std::vector<std::string>& names);

// Writes a variable into the process environment, for this process and its
// children; an empty value removes the variable.
void put_env(const std::string& name, const std::string& value);

}  // namespace os
