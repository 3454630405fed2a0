// The files of the class cache in its own directory: their names (and so
// which files the cache may delete), the trust
// in the directory, and the trim that keeps it within its limit. Internal
// to the cache (see classCache.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "classCache/cacheRecord.h"
#include "os/error.h"
#include "os/files.h"
#include "os/platform.h"
#include "os/process.h"
#include "os/text.h"
#include "os/trustedFiles.h"

namespace class_cache {

// The files of one key, KEY + suffix.
inline constexpr char archive_suffix[] = ".jsa";
inline constexpr char meta_suffix[] = ".sum";    // the record (see cacheRecord.h)
inline constexpr char list_suffix[] = ".list";   // the classes a run loaded; locked while written or used
inline constexpr char failed_suffix[] = ".bad";  // why making the archive failed; tried again after a day
inline constexpr char pending_suffix[] = ".tmp";
inline constexpr char output_suffix[] = ".out";
inline constexpr char arguments_suffix[] = ".args";
inline constexpr char record_pending_suffix[] = ".new";  // a record until it is whole
inline constexpr char whole_lines_suffix[] = ".lines";  // the list without a line cut short
// The classes a young archive was made from, with its state (see
// YoungArchive in classList.h); no such file: the archive has settled.
inline constexpr char young_suffix[] = ".classes";
// The JVM puts "pid" and its process id in place of %p in the list's
// name: KEY.%p.list is KEY.pidN.list (see pid_name).
inline constexpr char jvm_pid_pattern[] = ".%p";
// A key is this many hexadecimal digits (see class_cache_key).
inline constexpr std::size_t key_length = 16;
// A file of a key left this long by a run that did not end as it should;
// a failed attempt is tried again after as long, in case the cause was not
// in its inputs after all (in os::FileStatus::modified ticks).
inline constexpr std::int64_t abandoned_age = 24ll * 3600 * 10000000;

// `dir` joined with `name` by the system's path separator.
std::string joined(const std::string& dir, const std::string& name);

// `path` by a name java can open: every path of the cache's runs can be
// given to it (see open_cache_dir).
std::string openable(std::string path);

// The name of the file `suffix` of `key` of process `pid`: KEY.pidN.list,
// the list as the JVM of process N names it (the tool's JVM writes KEY.list
// through this second name; a JVM the tool starts with the same options
// writes a file of its own, never used), and KEY.pidN.tmp, the archive that
// run N makes.
std::string pid_name(const std::string& key, long pid, const char* suffix);

// Whether `name` is one the cache gives a file of its own, and so may
// delete: a key and one of its suffixes, or a file of one process (see
// pid_name). Sets `key` to the key and `of_process` to which of the two,
// where they are given and the name is one.
bool is_cache_file(const std::string& name, std::string* key = nullptr, bool* of_process = nullptr);

// Deletes `name` in the cache's directory when it is a file of this user's.
void delete_own(const os::OwnFile& dir, const std::string& name);

// Whether anything by `name` is in `dir` (a link too).
bool exists(const os::OwnFile& dir, const std::string& name);

// Whether `file` is open, and a regular file of this user's that no one
// else can write.
bool is_own(const os::OwnFile& file);

// The text of a small file of the cache; empty when it cannot be read.
std::string read_text(const os::OwnFile& file);

// Writes `text` to KEY + `suffix` in `dir` (one there before is replaced)
// under a name of its own first, so that no one reads it before it is
// whole; false when it cannot be written whole.
bool write_whole(const os::OwnFile& dir, const std::string& key, const char* suffix, const std::string& text);

// Writes `text` to a new file `name` in `dir` (one there before is
// replaced); false when it cannot be written whole.
bool write_new(const os::OwnFile& dir, const std::string& name, const std::string& text);

// Deletes the files of single processes of `key` (see pid_name).
void delete_process_files(const os::OwnFile& dir, const std::string& key);

// Whether the file `name` in `dir` is locked by another run.
bool held_elsewhere(const os::OwnFile& dir, const std::string& name);

// The file that every run using the cache marks while it lives (see
// os::mark_in_use) in the cache's own directory, made when missing: the
// making of an archive pauses while any run does. Not valid when it cannot
// be had or is not this user's own.
os::OwnFile open_runs_file(const os::OwnFile& cache);

// The cache's own directory below `dir` (see class_cache_dir), opened and
// trusted, made first when `make`; not valid, with the reason in `note`,
// when it cannot be used, and with `note` empty when it is not there and
// not to be made.
os::OwnFile open_cache_dir(const std::string& dir, bool make, std::string& note);

// Deletes the least recently used archives (with their records, whose last
// change tells the last use, and the classes of a young one) in the
// cache's own directory `dir` while all the cache's files (lists, marks
// and unfinished archives too) take more than `limit`, never that of
// `kept_key`; the files of keys left more than a day before `now` (in
// os::FileStatus::modified ticks) by a run that did not end; the lists of
// single processes that no run holds, and the unfinished archives of
// processes that have ended. Only names the cache makes, only this user's
// files.
void trim_class_cache(const os::OwnFile& dir, const std::string& kept_key, std::uint64_t limit, std::int64_t now);

}  // namespace class_cache
