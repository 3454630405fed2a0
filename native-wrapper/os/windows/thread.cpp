// Threads on Windows.
#include "os/thread.h"

#include <windows.h>
#include <process.h>

namespace os {

namespace {

struct ThreadCall {
    const std::function<int()>* body;
    int result;
};

unsigned __stdcall call_on_thread(void* call)
{
    ThreadCall* thread_call = static_cast<ThreadCall*>(call);
    thread_call->result = (*thread_call->body)();
    return 0;
}

}  // namespace

int run_on_new_thread(std::uint64_t stack_size, const std::function<int()>& body)
{
    ThreadCall call{&body, 0};
    // The size is what the thread reserves, as java asks; systems that do
    // not know the flag take the call without it.
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, static_cast<unsigned>(stack_size), call_on_thread,
                                                            &call, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (thread == nullptr)
        thread = reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, static_cast<unsigned>(stack_size), call_on_thread, &call, 0, nullptr));
    if (thread == nullptr)
        return body();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return call.result;
}

}  // namespace os
