// The facts of the Linux port.
#include "os/platform.h"

namespace os {

const PlatformFacts facts = {
    "brumlet",
    '/',
    ':',
    "bin/java",
    "lib/server/libjvm.so",
    "lib/libsplashscreen.so",
    "DRAVON_BINDIR/jre64",
    "/bin64",
    "/bin64/jre64/bin/java",
    "/tolvex",
    false,
    "lib",
    true,  // Debian's libsplashscreen.so needs libjvm.so, which no search path of its own finds
    ProgramToken::escaped,
    0,
    true,
    true,
};

}  // namespace os
