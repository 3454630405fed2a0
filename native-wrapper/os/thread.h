// Threads of the launcher, for the in-process JVM launch.
#pragma once

#include <cstdint>
#include <functional>

namespace os {

// Runs `body` on a new thread whose stack is `stack_size` bytes (0: the
// platform's default for a new thread), waits for it to end and returns
// what `body` returned; java runs the JVM and main so. When no thread can
// be made, runs `body` on the calling thread, as java then does.
int run_on_new_thread(std::uint64_t stack_size, const std::function<int()>& body);

}  // namespace os
