// Files of the class-data cache, which it trusts only as far as it checked
// them: opened relative to a directory it holds open, never through a link,
// with the status that tells who may change them; locks and marks of use.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "os/error.h"
#include "os/files.h"

namespace os {

// An open file or directory of the class-data cache, closed when the object
// dies. `path` is the name it was opened by. One that is not valid keeps the
// failure of the open that made it.
class OwnFile {
public:
    OwnFile() = default;
    OwnFile(FileHandle handle, std::string path, Failure failure = Failure())
        : handle_(handle), path_(std::move(path)), failure_(std::move(failure))
    {
    }
    ~OwnFile() { close(); }
    OwnFile(OwnFile&& other) noexcept
        : handle_(std::exchange(other.handle_, invalid_file)), path_(std::move(other.path_)),
          failure_(std::move(other.failure_))
    {
    }
    OwnFile& operator=(OwnFile&& other) noexcept
    {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, invalid_file);
            path_ = std::move(other.path_);
            failure_ = std::move(other.failure_);
        }
        return *this;
    }
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;

    bool valid() const { return handle_ != invalid_file; }
    FileHandle handle() const { return handle_; }
    const std::string& path() const { return path_; }
    const Failure& failure() const { return failure_; }
    void close();

private:
    FileHandle handle_ = invalid_file;
    std::string path_;
    Failure failure_;
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
    // This user owns it, or the system does (root; Windows: SYSTEM, the
    // Administrators, TrustedInstaller).
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
// Its path is from then on its real path, links above it resolved (Linux
// where /proc shows it; Windows its final path, by which every later call
// in it goes). Not valid when it cannot be made or opened or is a link.
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
// JVM in this process may open it by jvm_path); on Windows, where java
// opens it by its path, no handle of the cache is ever inherited. Not
// valid on failure.
OwnFile open_in_directory(const OwnFile& dir, const std::string& name, bool create, bool inherited = false);

// The name of `file` (opened by open_in_directory with `inherited`) by which
// a JVM started from this process, or in it, opens the very file that was
// opened, and so can a program that JVM starts while this process lives:
// "/proc/PID/fd/N" on Linux ("/dev/fd/N" where /proc does not show this
// process so: see facts.jvm_paths_need_inheritance); on Windows the final
// path of the open file, links above it resolved (see
// parent_others_may_change for why that keeps naming it).
std::string jvm_path(const OwnFile& file);

// The nearest directory above the open directory `dir`, up to the root,
// that another user may change, as ssh's strict modes judge it: one owned
// by neither this user nor the system (root; Windows: SYSTEM, the
// Administrators, TrustedInstaller), or one in which another user may
// rename or delete what is not theirs (POSIX: writable by group or others
// and not sticky; Windows: an access entry that grants someone else
// deleting, deleting entries, or changing its access list or owner). The
// directories are those of `dir`'s real path, links resolved. Empty when
// there is none; the unreadable one when one cannot be judged.
std::string parent_others_may_change(const OwnFile& dir);

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

// The names in `dir` as list_directory gives them; false when it cannot be
// listed.
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

// The time now, in FileStatus::modified ticks.
std::int64_t current_time();

// Whether this user may make entries in the directory at `path` (POSIX:
// write and search permission, on a writable file system; Windows: the
// right to add a subdirectory), judged without making anything; false,
// with `failure` filled, when not.
bool may_add_entries(const std::string& path, Failure& failure);

}  // namespace os
