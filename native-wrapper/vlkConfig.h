// Suite configuration: the version texts of installed components, and the
// suite's Java runtime (where it lies and where its java launcher is).
#pragma once

#include <cstddef>
#include <string>

// ---- Version files ----------------------------------------------------------

// Turns the first line of the version file at `path` into a short version
// text in `out`: "Version: 9.1 Service Pack 2 Build 350" gives "9.1sp2". Only
// the first 255 characters of the line are read. Returns 1 with the text in
// `out` (the empty text for an empty file), or 0 with "unknown" in `out` when
// the file cannot be opened. `out_size` should be at least 256; every copy
// into `out` is cut to fit it.
int read_version_file(const char* path, char* out, std::size_t out_size);

// The version of the suite at `root` (null: the wrapper variable
// DRAVON_ROOTDIR, an undefined one taken as the empty text), read from
// root + "/tildr_builder/version.txt"; "dravon-unknown" when that file cannot
// be opened. CAUTION: the result lives in one static buffer of this function
// that the next call overwrites; not reentrant.
const char* get_suite_version(const char* root);

// As get_suite_version for the kit at `root` (null: TILDR_KIT_VORNI2), read
// from root + "/version.txt", with "vorni2-unknown" as the fallback and a
// static buffer of its own.
const char* get_kit_version(const char* root);

// ---- Java runtime -----------------------------------------------------------

// The java launcher below the suite's root directory; the value of the
// wrapper variable NATIVE_WRAP_DRAVON_ROOTDIR_JRE_OFFSET.
const char* get_jre_offset();

// The Java runtime directory: NATIVE_WRAP_JRE_DIR_OVERRIDE when it is set and
// not empty, else DRAVON_BINDIR followed by jre64; expanded either way. Ends
// the process when a variable it names is undefined. Nothing is checked on disk.
std::string get_jre_dir();

// The runtime directory joined with the java launcher below it, expanded again.
std::string get_java_exe();

// The runtime directory as get_java_exe has it: get_jre_dir() expanded a
// second time and made full, a relative one taken relative to the current
// directory. Every part of a launch that looks below the runtime (java, the
// JVM library, the class cache) takes this one directory. Ends the process
// when the current directory cannot be read for a relative one.
std::string get_java_runtime_dir();

// The Java executable below the runtime directory `jre_dir`.
std::string java_exe_in(const std::string& jre_dir);

// The major version in the text of a runtime's `release` file
// (JAVA_VERSION="17.0.2" gives 17, "1.8.0_392" gives 8); 0 when it has none.
int release_major_version(const std::string& release_text);

// The major version of the runtime at `jre_dir`, from its `release` file;
// 0 when that cannot be read or names none.
int runtime_version(const std::string& jre_dir);
