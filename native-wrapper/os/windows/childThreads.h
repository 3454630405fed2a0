// The threads of a started child on Windows, which the pause holds by
// handle (os/windows/process.cpp implements it).
#pragma once

#include <windows.h>

namespace os::detail {

// The thread `thread_id` opened with `rights` (which must hold
// THREAD_QUERY_LIMITED_INFORMATION), when it is a thread of the process
// `process_id`; null otherwise, the handle closed again untouched. A
// snapshot's id may have been given meanwhile to a thread of another
// process: only the handle, checked once opened, keeps naming the thread
// that was checked. The caller owns the handle.
HANDLE open_thread_of(DWORD thread_id, DWORD process_id, DWORD rights);

}  // namespace os::detail
