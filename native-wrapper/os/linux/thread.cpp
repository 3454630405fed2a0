// Threads on Linux.
#include "os/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>

namespace os {

namespace {

struct ThreadCall {
    const std::function<int()>* body;
    int result;
};

void* call_on_thread(void* call)
{
    ThreadCall* thread_call = static_cast<ThreadCall*>(call);
    thread_call->result = (*thread_call->body)();
    return nullptr;
}

}  // namespace

int run_on_new_thread(std::uint64_t stack_size, const std::function<int()>& body)
{
    ThreadCall call{&body, 0};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stack_size > 0 && pthread_attr_setstacksize(&attributes, stack_size) == EINVAL) {
        // Some systems take only whole pages.
        const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
        pthread_attr_setstacksize(&attributes, (stack_size + page - 1) / page * page);
    }
    // The JVM puts its own guard pages on the stacks of its threads.
    pthread_attr_setguardsize(&attributes, 0);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, call_on_thread, &call) == 0)
        pthread_join(thread, nullptr);
    else
        call.result = body();
    pthread_attr_destroy(&attributes);
    return call.result;
}

}  // namespace os
