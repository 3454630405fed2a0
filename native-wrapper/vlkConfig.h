// The suite's Java runtime: where it lies and where its java launcher is.
#pragma once

#include <string>

// The java launcher below the suite's root directory; the value of the
// wrapper variable NATIVE_WRAP_DRAVON_ROOTDIR_JRE_OFFSET.
const char* get_jre_offset();

// The Java runtime directory: NATIVE_WRAP_JRE_DIR_OVERRIDE when it is set and
// not empty, else DRAVON_BINDIR followed by jre64; expanded either way. Ends
// the process when a variable it names is undefined. Nothing is checked on disk.
std::string get_jre_dir();

// The runtime directory joined with the java launcher below it, expanded again.
std::string get_java_exe();
