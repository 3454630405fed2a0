// The class-data cache: with NATIVE_WRAP_CLASS_CACHE naming a directory, the
// launcher hands the JVM a class-data archive of the tool's classes, made
// for the same runtime, class path and options, so that they are mapped
// instead of loaded and verified again.
//
// The tool's own JVM never writes an archive: that can fail in ways that
// would reach the tool (an agent, a full disk, a read-only directory). A run
// that finds none has its JVM write the list of classes it loads, which
// costs nothing measurable and cannot fail the run. A later run that finds
// the list complete starts the launcher once more, detached and at the
// lowest priority, to make the archive from the list with a JVM of its own
// that runs nothing of the tool; the archive is tried and moved
// into place only when whole. Where the cache cannot be made safe it steps
// aside: the tool runs as without it, and --wrapper-verbose says why.
//
// Everything lives in the cache's own directory below the named one (see
// class_cache_dir), a directory the launcher made (or one of this user's
// that no one else may write); it touches no other file, follows no link,
// and trusts only what it has opened.
//
// This header is what the launcher uses; the other headers of this folder
// are the cache's own (and its tests').
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/trustedFiles.h"

// The variable that names the directory the cache lives in; unset or
// empty: no cache.
extern const char class_cache_variable[];
// Set (to the key) only for the detached run of the launcher that makes an
// archive: that run makes it and starts no tool.
extern const char class_cache_job_variable[];
// Set to 1, a run that prepares the cache: the tool runs as a child, then
// this run makes what its key needs in the foreground (see
// make_class_archive) and ends with the tool's status. Taken out of the
// environment the tool sees.
extern const char class_cache_prepare_variable[];
// The longest the archive's JVM is paused in all (five minutes), so that a
// tool that never ends cannot keep the archive from being made; a test's
// launcher may shorten it.
extern int class_archive_longest_pause_ms;

// The cache's own directory below `dir`, the one that class_cache_variable
// names: DIR/brumlet-classes (DIR\brumlet-classes). Only the path; nothing
// is looked at on disk.
std::string class_cache_dir(const std::string& dir);

// Whether `text` has the form of a key (sixteen lower-case hexadecimal
// digits), the only value the launcher gives class_cache_job_variable.
bool is_class_cache_key(const std::string& text);

// What the cache adds to one launch.
struct ClassCacheUse {
    std::vector<std::string> jvm_options;  // after the launch's own options
    // Held open for the run: the files the JVM opens by their os::jvm_path,
    // and the file this run marks as a run of the cache (os::mark_in_use).
    std::vector<os::OwnFile> held;
    std::string job;   // the key whose archive a detached run should make now; empty: none
    std::string note;  // why the cache is not used (or not yet); for --wrapper-verbose
    // A run that lists the classes: the cache's directory and the key of
    // the list, which name_class_list names for the JVM's process.
    os::OwnFile dir;
    std::string listed_key;
};

// Gives the list of a listing run (see ClassCacheUse) the name by which the
// JVM of process `pid` writes it, which must be done before that JVM
// starts; false when there is no list or it cannot be named.
bool name_class_list(const ClassCacheUse& use, long pid);

// Decides what a launch with the runtime at `jre_dir`, the class path and
// the JVM options gets from the cache below `dir`: the options that map the
// archive of its key, those that make its JVM write the list of classes,
// or nothing (with a note). A complete list sets `job`. With `dry_run`
// nothing is made, changed or touched, and the options name the files by
// path.
ClassCacheUse plan_class_cache(const std::string& dir, const std::string& jre_dir,
                               const std::vector<std::string>& classpath, const std::vector<std::string>& jvm_options,
                               bool dry_run);

// The detached run's work: makes the archive of `key` from its complete
// list with `java`, at the lowest priority, when the launch's inputs still
// give that key and no other run is at it; tries it, and moves it into place
// with a record of its own identity there and of every jar the JVM checks
// (manifest Class-Path jars included). Its JVMs are paused while any run
// of the cache lives (five minutes at most). Then the directory keeps only
// the most recently used archives up to class_cache_size_limit. Returns 0
// when an archive was made, 1 otherwise.
//
// A failure leaves KEY.bad, with its reason, only where it would recur with
// the same inputs (see lasting_failure_reason in jvmOutput.h); any change
// of them gives another key, and a day later the key is tried again.
// SIGTERM, SIGINT or SIGHUP ends its JVM (a paused one too) and it, leaving
// nothing behind.
//
// With `foreground` (a preparing run, whose caller waits for it) it and its
// JVMs keep this process's priority; `note` then gets what became of the
// archive, for --wrapper-verbose.
int make_class_archive(const std::string& dir, const std::string& jre_dir, const std::string& java,
                       const std::vector<std::string>& classpath, const std::vector<std::string>& jvm_options,
                       const std::string& key, bool foreground = false, std::string* note = nullptr);

// Whether the user's limits and the cgroups of this process leave room for
// the archive's JVM beside the tools (see os::headroom); the job starts
// none, and ends one it started, where they do not.
bool room_for_class_archive();

// The most space the archives of the cache take together.
constexpr std::uint64_t class_cache_size_limit = 1024ull << 20;
// An archive is made only with this much room left on the disk.
constexpr std::uint64_t class_archive_room = 256ull << 20;
