// Reading a directory's records by the system call itself, for the Linux
// files that list directories: glibc has a wrapper only since 2.30, and
// the release runs on older ones. Only a system call, so that a child
// between vfork and exec may use it too.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>

namespace os::detail {

// Reads the next records (struct dirent64) of the open directory `fd` into
// `buffer`: the bytes read, 0 at the end, negative on an error.
inline long read_directory(int fd, char* buffer, std::size_t size)
{
    return syscall(SYS_getdents64, fd, buffer, size);
}

}  // namespace os::detail
