// The console's interrupts and its close while a child runs, on Windows
// (os/windows/interruptGuard.h).
#include "os/windows/interruptGuard.h"

#include "os/windows/wide.h"

namespace os {

using namespace detail;

namespace {

// The child being waited for, as a handle of the launcher's own, for the
// console's control handler, which runs on a thread of its own.
SRWLOCK waited_child_lock = SRWLOCK_INIT;
HANDLE waited_child = nullptr;

// How long the launcher outlives a closed console, logoff or shutdown for
// java's sake: about what the system gives a process after a close (5 s).
const DWORD end_of_session_grace_ms = 5000;

// True when the waited-for child has ended within `ms`; false when there
// is none or it still runs.
bool waited_child_ends_within(DWORD ms)
{
    HANDLE process = nullptr;
    AcquireSRWLockExclusive(&waited_child_lock);
    if (waited_child != nullptr)
        DuplicateHandle(GetCurrentProcess(), waited_child, GetCurrentProcess(), &process, SYNCHRONIZE, FALSE, 0);
    ReleaseSRWLockExclusive(&waited_child_lock);
    if (process == nullptr)
        return false;
    ScopedHandle closer(process);
    return WaitForSingleObject(process, ms) == WAIT_OBJECT_0;
}

// A Ctrl-C or Ctrl-Break in the console reaches every process attached to
// it; while the child runs, the child decides what it means.
// Closing the console, logoff and shutdown reach java as well, which then
// runs its shutdown hooks; the launcher's own end would cut them short, as
// the job ends java with it. The system ends the launcher as soon as this
// handler returns, so it waits for java first. Once java has ended, the
// launcher's main thread passes on its status and ends the process, within
// the grace that the handler then sleeps; with no child, or java still
// running at the end of the grace, the default handling ends the launcher.
BOOL WINAPI leave_interrupt_to_child(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    if (!waited_child_ends_within(end_of_session_grace_ms))
        return FALSE;
    Sleep(end_of_session_grace_ms);
    return TRUE;
}

}  // namespace

Child::InterruptGuard::InterruptGuard()
{
    static const bool installed = SetConsoleCtrlHandler(leave_interrupt_to_child, TRUE) != 0;
    (void)installed;
}

Child::InterruptGuard::~InterruptGuard()
{
    AcquireSRWLockExclusive(&waited_child_lock);
    if (waited_child == process_)
        waited_child = nullptr;
    ReleaseSRWLockExclusive(&waited_child_lock);
    if (process_ != nullptr)
        CloseHandle(process_);
}

void Child::InterruptGuard::watch(HANDLE process)
{
    if (!DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &process_, SYNCHRONIZE, FALSE, 0))
        return;
    AcquireSRWLockExclusive(&waited_child_lock);
    waited_child = process_;
    ReleaseSRWLockExclusive(&waited_child_lock);
}

}  // namespace os
