// The facts in which the two ports differ, in one table per port
// (os/linux/platform.cpp, os/windows/platform.cpp).
#pragma once

#include <cstddef>

#include "launch/commandText.h"

namespace os {

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
    // How a command text writes the program: escaped like an argument on
    // POSIX, whose paths may hold '"'; quoted as it is on Windows, whose
    // paths cannot, and where CreateProcessA reads the token up to the next '"'.
    ProgramToken program_token;
    std::size_t max_command_text;       // longest command line handed over, in UTF-16 units: 32,766 / 0 for no fixed limit
    bool replaces_process;              // a launch may become its program (execve): false / true
    // jvm_path may name the opener's own descriptor ("/dev/fd/N"), which a
    // child opens only when it inherits the file: false / true.
    bool jvm_paths_need_inheritance;
};

extern const PlatformFacts facts;

}  // namespace os
