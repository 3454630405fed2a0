// What the system still lets this user and process have (see os/process.h):
// RLIMIT_NPROC against the user's threads, and the cgroup's pids and memory.
#include "os/process.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "os/files.h"

namespace os {

bool process_alive(long pid)
{
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

namespace {

// The text of a small file of /proc or /sys; empty when it cannot be read.
std::string small_file(const std::string& path)
{
    std::string text;
    Failure failure;
    return read_file_start(path, 65536, text, failure) ? text : std::string();
}

// The number after `name` in `text` (as "Threads:\t12" or "inactive_file 4096"),
// at the start of a line; `missing` when there is none ("max" too).
std::uint64_t number_after(const std::string& text, const std::string& name, std::uint64_t missing)
{
    const std::size_t at = text.compare(0, name.size(), name) == 0 ? 0 : text.find('\n' + name);
    if (at == std::string::npos)
        return missing;
    const char* digits = text.c_str() + at + (at == 0 ? 0 : 1) + name.size();
    while (*digits == ' ' || *digits == '\t')
        ++digits;
    if (*digits < '0' || *digits > '9')
        return missing;
    return std::strtoull(digits, nullptr, 10);
}

std::uint64_t less_of(std::uint64_t limit, std::uint64_t used)
{
    return limit == UINT64_MAX ? UINT64_MAX : limit > used ? limit - used : 0;
}

// The threads of the processes whose real user is `user`: what the kernel
// weighs against RLIMIT_NPROC.
std::uint64_t threads_of_user(uid_t user)
{
    std::uint64_t threads = 0;
    std::vector<std::string> names;
    Failure failure;
    list_directory("/proc", names, failure);
    for (const std::string& name : names) {
        if (name[0] < '1' || name[0] > '9')
            continue;
        const std::string status = small_file("/proc/" + name + "/status");
        if (number_after(status, "Uid:", UINT64_MAX) == user)
            threads += number_after(status, "Threads:", 1);
    }
    return threads;
}

// The files of one kind of cgroup: where its tree is mounted, its line in
// /proc/self/cgroup, and its files of what it allows, of what is used, and
// of what it could give back at once (memory.stat's line of that name).
struct GroupFiles {
    const char* mount;
    const char* line;  // "0::" for the unified tree (v2), ":pids:" for a v1 controller
    const char* limit;
    const char* used;
    const char* given_back;  // nullptr: nothing (the kinds that count threads)
};

const GroupFiles group_files[] = {
    {"/sys/fs/cgroup", "0::", "pids.max", "pids.current", nullptr},
    {"/sys/fs/cgroup", "0::", "memory.max", "memory.current", "inactive_file"},
    {"/sys/fs/cgroup/pids", ":pids:", "pids.max", "pids.current", nullptr},
    {"/sys/fs/cgroup/memory", ":memory:", "memory.limit_in_bytes", "memory.usage_in_bytes", "total_inactive_file"},
};

bool is_directory(const std::string& path)
{
    struct stat status = {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The least room that the cgroups of `files` leave, this process's and each
// above it; UINT64_MAX without a limit.
std::uint64_t group_room(const std::string& groups, const GroupFiles& files)
{
    // "0::/PATH" starts its line; a v1 controller's follows its number.
    const std::string line = (files.line[0] == ':' ? "" : "\n") + std::string(files.line);
    const std::size_t at = ('\n' + groups).find(line);
    if (at == std::string::npos)
        return UINT64_MAX;
    const std::size_t begin = at + line.size() - 1;
    std::string group = groups.substr(begin, groups.find('\n', begin) - begin);
    // A container may see its own cgroup as the root of the mount: the
    // path's leading part is not there then.
    while (group.size() > 1 && !is_directory(files.mount + group)) {
        const std::size_t next = group.find('/', 1);
        group = next == std::string::npos ? "/" : group.substr(next);
    }
    std::uint64_t room = UINT64_MAX;
    for (;;) {
        const std::string dir = files.mount + (group == "/" ? std::string() : group) + '/';
        const std::uint64_t used = number_after(small_file(dir + files.used), "", 0);
        const std::uint64_t given_back =
            files.given_back == nullptr ? 0 : number_after(small_file(dir + "memory.stat"), files.given_back, 0);
        room = std::min(room, less_of(number_after(small_file(dir + files.limit), "", UINT64_MAX),
                                      used > given_back ? used - given_back : 0));
        const std::size_t slash = group.find_last_of('/');
        if (group.size() <= 1 || slash == std::string::npos)
            return room;
        group = slash == 0 ? "/" : group.substr(0, slash);
    }
}

}  // namespace

Headroom headroom()
{
    Headroom room;
    struct rlimit processes = {};
    if (getrlimit(RLIMIT_NPROC, &processes) == 0 && processes.rlim_cur != RLIM_INFINITY && geteuid() != 0)
        room.threads = less_of(processes.rlim_cur, threads_of_user(getuid()));
    const std::string groups = small_file("/proc/self/cgroup");
    for (const GroupFiles& files : group_files) {
        std::uint64_t& kept = files.given_back == nullptr ? room.threads : room.memory_bytes;
        kept = std::min(kept, group_room(groups, files));
    }
    return room;
}

}  // namespace os
