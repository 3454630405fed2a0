// The facts of the Windows port.
#include "os/platform.h"

namespace os {

const PlatformFacts facts = {
    "brumlet.exe",
    '\\',
    ';',
    "bin\\java.exe",
    "bin\\server\\jvm.dll",
    "bin\\splashscreen.dll",
    "DRAVON_BINDIR\\jre64",
    "\\bin64",
    "\\bin64\\jre64\\bin\\java.exe",
    "\\tolvex.exe",
    true,
    "bin",
    false,
    ProgramToken::quoted,
    32766,  // CreateProcessA: 32,767 characters with the terminating NUL
    false,  // no exec: the launcher starts java and waits
    false,  // jvm_path is the file's path
};

}  // namespace os
