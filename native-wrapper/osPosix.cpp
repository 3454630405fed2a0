// The OS layer on Linux.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "commandText.h"
#include "osLayer.h"

extern char** environ;

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
    true,
};

const FileHandle invalid_file = -1;

bool create_temp_file(std::string& name, FileHandle& handle, Failure& failure)
{
    const char* tmpdir = std::getenv("TMPDIR");
    std::string path = (tmpdir != nullptr && tmpdir[0] != '\0') ? tmpdir : "/tmp";
    path += "/tmpXXXXXX";
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    // Close-on-exec keeps the file out of other children; the child that
    // gets it as standard output receives a dup2 copy.
    int fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) {
        failure = {"mkstemp", errno};
        return false;
    }
    name = buffer.data();
    handle = fd;
    return true;
}

void close_file(FileHandle handle)
{
    close(static_cast<int>(handle));
}

bool read_file_start(const std::string& path, std::size_t max_bytes, std::string& out, int& error)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    out.assign(max_bytes, '\0');
    ssize_t count = read(fd, &out[0], max_bytes);
    out.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    close(fd);
    return true;
}

void delete_file(const std::string& path)
{
    unlink(path.c_str());
}

namespace {

// posix_spawn's attribute and file-action objects, released on every path.
class SpawnSetup {
public:
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

}  // namespace

ChildResult run_child(std::string& command_text, const ChildLaunch& launch)
{
    ChildResult result;
    std::vector<std::string> words = split_command_text(command_text);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);

    SpawnSetup setup;
    if (launch.stdout_file != invalid_file)
        posix_spawn_file_actions_adddup2(&setup.actions, static_cast<int>(launch.stdout_file), STDOUT_FILENO);

    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &setup.actions, &setup.attributes, argv.data(), environ) != 0)
        return result;
    if (!launch.wait_for_exit) {
        result.status = ChildStatus::not_waited;
        return result;
    }

    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        result.status = ChildStatus::wait_failed;
        return result;
    }
    result.status = ChildStatus::exited;
    if (WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exit_code = 128 + WTERMSIG(status);
    return result;
}

bool get_executable_path(std::string& path, Failure& failure)
{
    std::vector<char> buffer(260);
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            failure = {"readlink", errno};
            return false;
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            path.assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);  // possibly cut: try again with more room
    }
}

bool get_current_directory(std::string& dir, Failure& failure)
{
    std::vector<char> buffer(260);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            failure = {"getcwd", errno};
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
    dir = buffer.data();
    return true;
}

bool is_directory(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool list_directory(const std::string& dir, std::vector<std::string>& names)
{
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr)
        return false;
    while (struct dirent* entry = readdir(listing))
        names.push_back(entry->d_name);
    closedir(listing);
    return true;
}

void put_env(const std::string& name, const std::string& value)
{
    if (value.empty())
        unsetenv(name.c_str());
    else
        setenv(name.c_str(), value.c_str(), 1);
}

// ---- Shared libraries and argument text, for the in-process JVM launch ----

bool Library::load(const std::string& path, const std::string&)
{
    release();
    // Global symbols, as java's own launcher loads the JVM: libraries loaded
    // later (the splash library) bind to the JVM that is already there.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        error_ = reason != nullptr ? reason : "dlopen failed";
        return false;
    }
    error_.clear();
    return true;
}

void* Library::find(const char* name) const
{
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void Library::release()
{
    if (handle_ != nullptr)
        dlclose(handle_);
    handle_ = nullptr;
}

namespace {

void append_utf16(std::u16string& out, char32_t code_point)
{
    if (code_point < 0x10000) {
        out += static_cast<char16_t>(code_point);
    } else {
        code_point -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (code_point >> 10));
        out += static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
    }
}

}  // namespace

std::u16string decode_arg(const std::string& text)
{
    // UTF-8 as java decodes its arguments under a UTF-8 locale: the longest
    // start of a valid sequence that breaks off becomes one U+FFFD, and so
    // does each byte that cannot start a sequence. Like java, an encoded
    // surrogate (ED A0..BF xx) becomes one U+FFFD for its three bytes.
    const char16_t replacement = 0xFFFD;
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t more;
        char32_t code_point;
        unsigned char low = 0x80, high = 0xBF;  // the range of the next byte
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            code_point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            code_point = lead & 0x0F;
            if (lead == 0xE0)
                low = 0xA0;  // no overlong forms
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            code_point = lead & 0x07;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F;  // nothing beyond U+10FFFF
        } else {
            out += replacement;
            ++i;
            continue;
        }
        std::size_t next = i + 1;
        std::size_t taken = 0;
        for (; taken < more && next < text.size(); ++taken, ++next) {
            unsigned char byte = static_cast<unsigned char>(text[next]);
            if (byte < low || byte > high)
                break;
            code_point = (code_point << 6) | (byte & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        if (taken < more || (code_point >= 0xD800 && code_point <= 0xDFFF))
            out += replacement;
        else
            append_utf16(out, code_point);
        i = next;
    }
    return out;
}

bool read_machine_env(const std::string&, std::string&)
{
    return false;
}

bool store_machine_env(const std::string&, const std::string&)
{
    return false;
}

void announce_env_change() {}

}  // namespace os
