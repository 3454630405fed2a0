// Files of the launcher: its temporary, argument and inherited files, reads
// and writes by handle and path, its own path and directories. Paths of any
// length pass whole through these calls; where the OS cannot give one
// whole, they fail rather than cut it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "os/error.h"

namespace os {

// An open file of the OS (a HANDLE on Windows, a descriptor on POSIX), as an
// opaque number.
using FileHandle = std::intptr_t;
extern const FileHandle invalid_file;

// Creates a new, empty file with a system-chosen name starting with "tmp" in
// the user's temporary directory, opened for reading and writing, without
// sharing, so that a child can be given it as its standard output.
// Returns false and fills `failure` when any step fails (Windows: finding
// the directory, "GetTempPath"; making the name and the file,
// "GetTempFileName"; opening it, "CreateFile").
bool create_temp_file(std::string& name, FileHandle& handle, Failure& failure);

// Creates a new, empty file for a Java argument file in the user's
// temporary directory, opened for reading and writing, that only this user
// may read; the handle is not inherited. Windows: named "brumlet-args-X.tmp"
// (X one to four hex digits) and, while `handle` is open, readable by others
// (java) but not deletable: before making it, the call deletes the files
// named so, letter for letter, that no live launcher holds, left by
// launchers that were killed; `name` is the final path of the file made,
// links above it resolved, by which java opens what was written. POSIX: as
// create_temp_file (mode 0600). Returns false and fills `failure` when it
// cannot be made.
bool create_argument_file(std::string& name, FileHandle& handle, Failure& failure);

// Creates a new, empty file that has no name in any directory, so that
// nothing is left of it whatever way the process ends, opened for reading
// and writing and kept open across replace_process. `name` is the path by
// which the replacing program opens it ("/dev/fd/N"). Returns false and
// fills `failure` when it cannot be made; always on Windows.
bool create_inherited_file(std::string& name, FileHandle& handle, Failure& failure);

void close_file(FileHandle handle);

// Opens `path` for reading and reads once, at most `max_bytes`, into `out`.
// Returns false and fills `failure` when the file cannot be opened.
bool read_file_start(const std::string& path, std::size_t max_bytes, std::string& out, Failure& failure);

void delete_file(const std::string& path);

// Writes all of `data` to the open file. Returns false and fills `failure`
// when a write fails.
bool write_file(FileHandle handle, const std::string& data, Failure& failure);

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

// The full path of the running executable; false, with `failure` filled,
// if the OS cannot tell.
bool get_executable_path(std::string& path, Failure& failure);

// The current directory as the OS reports it; false, with `failure`
// filled, when it cannot.
bool get_current_directory(std::string& dir, Failure& failure);

// `path` made full in `full`: an absolute one as it is, any other taken
// relative to the current directory (on Windows as GetFullPathNameW takes
// it, "\x" and "C:x" on the current drive too, "." and ".." resolved).
// False, with `failure` filled, when the current directory cannot be read.
bool full_path(const std::string& path, std::string& full, Failure& failure);

bool is_directory(const char* path);

// The names of the entries of `dir`, in the order the file system lists
// them ("." and ".." included where the OS lists them), added to `names`.
// False, with `failure` filled, when the directory cannot be listed.
bool list_directory(const std::string& dir, std::vector<std::string>& names, Failure& failure);

// Whether `path` names a file without regard to the current directory
// ("/x"; "C:\x", "\\server\share").
bool is_absolute_path(const std::string& path);

}  // namespace os
