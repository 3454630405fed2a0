// Console interrupts left to a child on Windows (os/windows/interrupts.cpp):
// the private part of os::Child that its start and wait share.
#pragma once

#include <windows.h>

#include "os/process.h"

namespace os {

// A handler of the launcher's own, which a child does not inherit (unlike
// SetConsoleCtrlHandler(NULL, TRUE)). Once a child has started it stays for
// the rest of the launcher's life: the console runs each attached process's
// handlers on a thread of its own, and the launcher's may run only after the
// child has ended on the same Ctrl-C and the wait has returned. Removed by
// then, the default handler would end the launcher with STATUS_CONTROL_C_EXIT
// in place of the tool's status. While the guard lives, its child is the
// one the handler waits for on a close.
class Child::InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // Makes `process` the child that a close of the console waits for.
    void watch(HANDLE process);

private:
    HANDLE process_ = nullptr;
};

}  // namespace os
