// The class-data cache: with NATIVE_WRAP_CLASS_CACHE naming a directory, the
// launcher hands the JVM a dynamic class-data archive made by an earlier run
// of the same runtime with the same class path and options, so the tool's
// classes are mapped instead of loaded and verified again. A run that finds
// none has its JVM write one under a temporary name at exit, which is moved
// into place only once complete: no JVM ever maps a half-written archive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The variable that names the cache directory; unset or empty: no cache.
extern const char class_cache_variable[];

// What the cache adds to one launch.
struct ClassCacheUse {
    std::vector<std::string> jvm_options;  // after the launch's own options
    std::string pending_archive;           // written by this run's JVM at exit; empty: none
    std::string archive;                   // where the pending archive goes
    std::string note;                      // why the cache is not used; for --wrapper-verbose
};

// The major version in the text of a runtime's `release` file
// (JAVA_VERSION="17.0.2" gives 17, "1.8.0_392" gives 8); 0 when it has none.
int release_major_version(const std::string& release_text);

// The key of an archive: the runtime's identity, every class-path entry's
// path, size and last change, and the JVM options (with those that java
// takes from the environment). Any difference gives another key.
std::string class_cache_key(const std::string& jre_dir, const std::vector<std::string>& classpath,
                            const std::vector<std::string>& jvm_options);

// Decides what a launch with the runtime at `jre_dir`, the class path and
// the JVM options gets from the cache in `dir`: the options that map the
// archive of its key, or, when there is none, those that make this run
// write it. No options (and a note) when the runtime is older than 13 or
// its release file unreadable, when the directory cannot be made or
// another user could change it, when the disk has too little room, or when
// the options (those from java's variables included) choose class-data
// sharing themselves.
ClassCacheUse plan_class_cache(const std::string& dir, const std::string& jre_dir,
                               const std::vector<std::string>& classpath, const std::vector<std::string>& jvm_options);

// After the JVM of a launch that wrote an archive has ended: moves the
// archive into place when the JVM finished writing it, deletes it
// otherwise, and keeps only the most recently used archives.
void finish_class_cache(const ClassCacheUse& use);

// The number of archives kept in a cache directory.
constexpr int kept_class_archives = 4;
// A run writes an archive only with this much room left on the disk: a
// JVM that cannot write it whole fails the tool's exit (status 1).
constexpr std::uint64_t class_archive_room = 256ull << 20;
