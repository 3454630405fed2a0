// The OS layer on Windows. Every call uses the narrow ("A") variant.
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "osLayer.h"

namespace os {

const PlatformFacts facts = {
    "brumlet.exe",
    '\\',
    ';',
    "bin\\java.exe",
    "bin\\server\\jvm.dll",
    "bin\\splashscreen.dll",
    "DRAVON_BINDIR\\jre64",
    "\\bin64",
    "\\bin64\\jre64\\bin\\java.exe",
    "\\tolvex.exe",
    true,
    "bin",
    false,
    false,
    32766,  // CreateProcessA: 32,767 characters with the terminating NUL
    false,  // no exec: the launcher starts java and waits
};

const FileHandle invalid_file = reinterpret_cast<FileHandle>(INVALID_HANDLE_VALUE);

namespace {

HANDLE to_handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

int last_error() { return static_cast<int>(GetLastError()); }

// Closes a handle when it goes out of scope.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle()
    {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE get() const { return handle_; }
    HANDLE release()
    {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    HANDLE handle_;
};

}  // namespace

bool create_temp_file(std::string& name, FileHandle& handle, Failure& failure)
{
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;

    char temp_dir[512];
    DWORD length = GetTempPathA(sizeof(temp_dir), temp_dir);
    if (length == 0 || length > sizeof(temp_dir)) {
        failure = {"GetTempPath", last_error()};
        return false;
    }
    char temp_name[MAX_PATH];
    if (GetTempFileNameA(temp_dir, "tmp", 0, temp_name) == 0) {
        failure = {"GetTempFileName", last_error()};
        return false;
    }
    HANDLE file = CreateFileA(temp_name, GENERIC_READ | GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        failure = {"CreateFile", last_error()};
        DeleteFileA(temp_name);  // the empty file GetTempFileNameA made
        return false;
    }
    name = temp_name;
    handle = reinterpret_cast<FileHandle>(file);
    return true;
}

void close_file(FileHandle handle)
{
    CloseHandle(to_handle(handle));
}

std::string error_text(int error, const std::string& subject)
{
    char* text = nullptr;
    // Some texts have a place for the file they are about ("%1 is not a
    // valid Win32 application."); without a subject it stays as it is.
    const DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(subject.c_str())};
    const DWORD insert_flag = subject.empty() ? FORMAT_MESSAGE_IGNORE_INSERTS : FORMAT_MESSAGE_ARGUMENT_ARRAY;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | insert_flag, nullptr,
                                  static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0,
                                  subject.empty() ? nullptr : reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts)));
    std::string message = text != nullptr ? std::string(text, length) : std::string();
    LocalFree(text);
    // The system's texts end in a line break.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

bool read_file_start(const std::string& path, std::size_t max_bytes, std::string& out, int& error)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = last_error();
        return false;
    }
    ScopedHandle closer(file);
    out.assign(max_bytes, '\0');
    DWORD count = 0;
    if (!ReadFile(file, &out[0], static_cast<DWORD>(max_bytes), &count, nullptr))
        count = 0;
    out.resize(count);
    return true;
}

void delete_file(const std::string& path)
{
    DeleteFileA(path.c_str());
}

bool write_file(FileHandle handle, const std::string& data, int& error)
{
    std::size_t done = 0;
    while (done < data.size()) {
        DWORD count = 0;
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1 << 20));
        if (!WriteFile(to_handle(handle), data.data() + done, chunk, &count, nullptr) || count == 0) {
            error = last_error();
            return false;
        }
        done += count;
    }
    return true;
}

// A write to a pipe without a reader fails with an error here anyway.
struct BrokenPipesFail::Saved {};
BrokenPipesFail::BrokenPipesFail() = default;
BrokenPipesFail::~BrokenPipesFail() = default;

namespace {

// A Ctrl-C or Ctrl-Break in the console reaches every process attached to
// it; while the child runs, the child decides what it means. Other events
// (closing the console, logoff) keep their default handling.
BOOL WINAPI leave_interrupt_to_child(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// A job object whose processes end when its last handle closes, also when
// the launcher is killed; null when it cannot be made.
HANDLE create_kill_on_close_job()
{
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr)
        return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

}  // namespace

// A handler of the launcher's own, which a child does not inherit (unlike
// SetConsoleCtrlHandler(NULL, TRUE)). Once a child has started it stays for
// the rest of the launcher's life: the console runs each attached process's
// handlers on a thread of its own, and the launcher's may run only after the
// child has ended on the same Ctrl-C and the wait has returned. Removed by
// then, the default handler would end the launcher with STATUS_CONTROL_C_EXIT
// in place of the tool's status.
class Child::InterruptGuard {
public:
    InterruptGuard()
    {
        static const bool installed = SetConsoleCtrlHandler(leave_interrupt_to_child, TRUE) != 0;
        (void)installed;
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
};

Child::Child() : process_(0), job_(0), error_(0), too_long_(false) {}

Child::~Child()
{
    if (process_ != 0)
        CloseHandle(reinterpret_cast<HANDLE>(process_));
    // Closing the last handle of the job ends a child still in it.
    if (job_ != 0)
        CloseHandle(reinterpret_cast<HANDLE>(job_));
}

bool Child::start(std::string& command_text, const ChildLaunch& launch)
{
    error_ = 0;
    too_long_ = false;
    // Longer texts are refused by Windows, or cut by Wine without a word.
    if (command_text.size() > facts.max_command_text) {
        error_ = ERROR_FILENAME_EXCED_RANGE;
        too_long_ = true;
        return false;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};

    if (launch.hide_window) {
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    if (launch.stdout_file != invalid_file) {
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = to_handle(launch.stdout_file);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        startup.dwFlags |= STARTF_USESTDHANDLES;
    }
    // The child starts suspended until it is in the job, so that nothing
    // it starts itself escapes the job.
    ScopedHandle job(launch.tie_to_launcher ? create_kill_on_close_job() : nullptr);
    const DWORD flags = job.get() != nullptr ? CREATE_SUSPENDED : 0;

    // From its first instruction an interrupt may reach the child.
    interrupts_.reset(new InterruptGuard);
    // CreateProcessA may write into the command text, so it gets the
    // string's own writable buffer.
    if (!CreateProcessA(nullptr, &command_text[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup,
                        &process)) {
        error_ = last_error();
        interrupts_.reset();
        return false;
    }
    ScopedHandle thread(process.hThread);
    process_ = reinterpret_cast<std::intptr_t>(process.hProcess);
    // Inside a job that forbids nested jobs the assignment fails: the child
    // then runs untied rather than not at all.
    if (job.get() != nullptr && AssignProcessToJobObject(job.get(), process.hProcess))
        job_ = reinterpret_cast<std::intptr_t>(job.release());
    if (flags & CREATE_SUSPENDED)
        ResumeThread(process.hThread);
    return true;
}

bool Child::wait(int& exit_code)
{
    if (process_ == 0) {
        error_ = ERROR_INVALID_HANDLE;
        return false;
    }
    HANDLE process = reinterpret_cast<HANDLE>(process_);
    DWORD waited = WaitForSingleObject(process, INFINITE);
    if (waited == WAIT_FAILED)
        error_ = last_error();
    interrupts_.reset();
    if (waited == WAIT_FAILED)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    // Exception codes such as 0xC0000005 come out negative.
    exit_code = static_cast<int>(code);
    return true;
}

// Windows cannot run another program in this process: the launcher starts
// java as a child and waits (facts.replaces_process is false).
void replace_process(const std::string&, int& error, bool& too_long)
{
    error = ERROR_CALL_NOT_IMPLEMENTED;
    too_long = false;
}

bool create_inherited_file(std::string&, FileHandle&, Failure& failure)
{
    failure = {"create_inherited_file", ERROR_CALL_NOT_IMPLEMENTED};
    return false;
}

bool get_executable_path(std::string& path, Failure& failure)
{
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            failure = {"GetModuleFileName", last_error()};
            return false;
        }
        if (length < buffer.size()) {
            path.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(buffer.size() * 2);  // the path was cut: try again with more room
    }
}

bool get_current_directory(std::string& dir, Failure& failure)
{
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) {
            failure = {"GetCurrentDirectory", last_error()};
            return false;
        }
        if (length < buffer.size()) {
            dir.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(length);  // the answer is the size needed, terminator included
    }
}

bool is_directory(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool list_directory(const std::string& dir, std::vector<std::string>& names)
{
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((dir + "\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return false;
    do {
        names.push_back(entry.cFileName);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    return true;
}

namespace {

std::int64_t ticks(const FILETIME& time)
{
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// The SID of the user this process runs as, in a buffer of its own;
// empty when the token cannot be read.
std::vector<char> user_sid()
{
    std::vector<char> sid;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return sid;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        sid.assign(static_cast<char*>(user), static_cast<char*>(user) + GetLengthSid(user));
    }
    CloseHandle(token);
    return sid;
}

// Whether the object's access-control list lets only this user, SYSTEM and
// the Administrators write, delete or re-permit it: Windows has no single
// owner who alone decides, so a grant to anyone else counts as "another
// user can write". Deny entries are not weighed against grants.
bool only_user_writes(const std::string& path)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    std::vector<char> user = user_sid();
    const DWORD writing = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD | DELETE |
                          WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    // A missing list grants everyone everything.
    bool only_user = dacl != nullptr && !user.empty();
    for (DWORD i = 0; only_user && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)))
            only_user = false;
        else if (header->AceType == ACCESS_ALLOWED_ACE_TYPE && (header->AceFlags & INHERIT_ONLY_ACE) == 0) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            PSID sid = &ace->SidStart;
            if ((ace->Mask & writing) != 0 && !EqualSid(sid, user.data()) && !IsWellKnownSid(sid, WinLocalSystemSid) &&
                !IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
                only_user = false;
        }
    }
    LocalFree(descriptor);
    return only_user;
}

}  // namespace

bool file_status(const std::string& path, FileStatus& status)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    status.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.modified = ticks(data.ftLastWriteTime);
    status.private_to_user = only_user_writes(path);
    return true;
}

bool make_private_directory(const std::string& dir)
{
    // One entry, inherited by everything below: full access for this user.
    std::vector<char> user = user_sid();
    if (user.empty())
        return false;
    std::vector<char> acl_buffer(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + user.size());
    PACL acl = reinterpret_cast<PACL>(acl_buffer.data());
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeAcl(acl, static_cast<DWORD>(acl_buffer.size()), ACL_REVISION) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                               user.data()) ||
        !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    if (CreateDirectoryA(dir.c_str(), &attributes))
        return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && is_directory(dir.c_str());
}

bool rename_file(const std::string& from, const std::string& to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool touch_file(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const bool set = SetFileTime(file, nullptr, nullptr, &now) != 0;
    CloseHandle(file);
    return set;
}

std::uint64_t free_disk_space(const std::string& dir)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(dir.c_str(), &available, nullptr, nullptr))
        return 0;
    return available.QuadPart;
}

long process_id()
{
    return static_cast<long>(GetCurrentProcessId());
}

void put_env(const std::string& name, const std::string& value)
{
    // The C runtime's update also reaches SetEnvironmentVariableA, so
    // children inherit the change; "NAME=" removes the variable.
    _putenv((name + "=" + value).c_str());
}

// ---- Shared libraries and argument text, for the in-process JVM launch ----

namespace {

std::string current_dll_directory()
{
    std::vector<char> buffer(MAX_PATH);
    DWORD length = GetDllDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetDllDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    return length < buffer.size() ? std::string(buffer.data(), length) : std::string();
}

}  // namespace

bool Library::load(const std::string& path, const std::string& dependency_dir)
{
    unload();
    // LoadLibraryA resolves the DLLs that this one imports by the standard
    // search order, which does not include the directory where a Java
    // runtime keeps its C runtime DLL: that directory joins the search for
    // this load only.
    std::string previous;
    if (!dependency_dir.empty()) {
        previous = current_dll_directory();
        SetDllDirectoryA(dependency_dir.c_str());
    }
    HMODULE module = LoadLibraryA(path.c_str());
    DWORD error = GetLastError();
    if (!dependency_dir.empty())
        SetDllDirectoryA(previous.empty() ? nullptr : previous.c_str());
    if (module == nullptr) {
        error_ = error_text(static_cast<int>(error));
        return false;
    }
    handle_ = module;
    error_.clear();
    return true;
}

void* Library::find(const char* name) const
{
    if (handle_ == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Library::unload()
{
    if (handle_ != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

std::u16string decode_arg(const std::string& text)
{
    if (text.empty())
        return std::u16string();
    int size = static_cast<int>(text.size());
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], length);
    return std::u16string(wide.begin(), wide.end());
}

namespace {

const char machine_env_key[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// advapi32 (the registry) and user32 (the broadcast) serve only the machine
// environment's reader and writer. Imported, they would be loaded and
// initialised at every start of the launcher, user32 at about the cost of a
// whole process start under Wine; bound on first use, only those calls pay.
// Both come from the system directory, whatever else is on the search path,
// and stay loaded.
HMODULE load_system_library(const char* name)
{
    return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// `module`'s entry `name` as the function type it is called through; null
// when either is missing.
template <typename Function>
void bind_entry(HMODULE module, const char* name, Function& function)
{
    function = module != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                                 : nullptr;
}

struct RegistryFunctions {
    decltype(&RegOpenKeyExA) open_key;
    decltype(&RegQueryValueExA) query_value;
    decltype(&RegSetValueExA) set_value;
    decltype(&RegCloseKey) close_key;
    bool bound() const { return open_key && query_value && set_value && close_key; }
};

const RegistryFunctions& registry()
{
    static const RegistryFunctions functions = [] {
        const HMODULE advapi32 = load_system_library("advapi32.dll");
        RegistryFunctions bound;
        bind_entry(advapi32, "RegOpenKeyExA", bound.open_key);
        bind_entry(advapi32, "RegQueryValueExA", bound.query_value);
        bind_entry(advapi32, "RegSetValueExA", bound.set_value);
        bind_entry(advapi32, "RegCloseKey", bound.close_key);
        return bound;
    }();
    return functions;
}

// Closes a registry key when it goes out of scope.
class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey()
    {
        if (key_ != nullptr)
            registry().close_key(key_);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    bool open(REGSAM access)
    {
        return registry().bound() &&
               registry().open_key(HKEY_LOCAL_MACHINE, machine_env_key, 0, access, &key_) == ERROR_SUCCESS;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

bool read_machine_env(const std::string& name, std::string& value)
{
    // Reading needs no more than querying, so users without administrator
    // rights can read the machine environment too.
    ScopedKey key;
    if (!key.open(KEY_QUERY_VALUE))
        return false;
    std::vector<char> data(MAX_PATH);
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        LONG status = registry().query_value(key.get(), name.c_str(), nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
        if (status == ERROR_MORE_DATA) {
            // The answer is the size the value needs; it may grow again
            // before the next call, so ask until it fits.
            data.resize(size > data.size() ? size : data.size() * 2);
            continue;
        }
        if (status != ERROR_SUCCESS)
            return false;
        // The stored data need not end in a NUL; the text ends at the first.
        const void* nul = std::memchr(data.data(), '\0', size);
        value.assign(data.data(), nul != nullptr ? static_cast<const char*>(nul) - data.data() : size);
        return true;
    }
}

bool store_machine_env(const std::string& name, const std::string& value)
{
    ScopedKey key;
    if (!key.open(KEY_ALL_ACCESS))
        return false;
    // REG_SZ, not REG_EXPAND_SZ: the system must not expand references to
    // other variables in the value later.
    return registry().set_value(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

void announce_env_change()
{
    static const auto send_message = [] {
        decltype(&SendMessageTimeoutA) bound;
        bind_entry(load_system_library("user32.dll"), "SendMessageTimeoutA", bound);
        return bound;
    }();
    if (send_message == nullptr)
        return;
    DWORD_PTR result = 0;
    send_message(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"), SMTO_ABORTIFHUNG,
                 5000, &result);
}

}  // namespace os
