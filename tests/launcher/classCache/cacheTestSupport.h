// What the class cache's launcher tests share: the cache's options in a
// command text, the files in its own directory, and waiting for the run
// that makes an archive.
#pragma once

#include <string>
#include <vector>

namespace cache_testing {

extern const char cache_variable[];  // NATIVE_WRAP_CLASS_CACHE
extern const char list_option[];     // -XX:DumpLoadedClassList=
extern const char use_option[];      // -XX:SharedArchiveFile=

// The value of the option `prefix` in a command text, or "(none)".
std::string option_in(const std::string& text, const std::string& prefix);

// The cache's own directory below the directory `cache` the variable names.
std::string own_dir_of(const std::string& cache);

// The names in the cache's own directory that end in `suffix`, those of
// single processes (KEY.pidN.list) only when `of_processes`.
std::vector<std::string> cache_files(const std::string& cache, const std::string& suffix, bool of_processes = false);

// Waits (up to two minutes) until no class list waits in the cache, or one
// waits for a later run (no attempt at it for ten seconds): the detached
// run has made the archive or given up.
void wait_for_archive_run(const std::string& cache);

}  // namespace cache_testing
