// What the system still lets this process have (see os/process.h): no
// limit is weighed on Windows.
#include "os/process.h"

#include <windows.h>

namespace os {

bool process_alive(long pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

Headroom headroom()
{
    return Headroom();
}

}  // namespace os
