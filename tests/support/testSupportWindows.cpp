#include <windows.h>
#include <aclapi.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "launch/commandText.h"
#include "testSupport.h"

namespace testing_support {

const bool on_windows = true;
const char path_separator = '\\';
const char list_separator = ';';
const char* const exe_suffix = ".exe";

int failure_exit_status()
{
    return -1;
}

namespace {

HANDLE create_output_file(const std::string& path)
{
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create " + path);
    return file;
}

std::wstring long_form(const std::string& path)
{
    return L"\\\\?\\" + std::filesystem::u8path(path).make_preferred().wstring();
}

// CreateProcess takes no program path of MAX_PATH characters or more: a
// longer one is started by its short (8.3) form, as a user would; empty
// for a path that needs none.
std::string short_program_path(const std::string& path)
{
    if (path.size() < MAX_PATH - 12)
        return std::string();
    const std::wstring long_path = long_form(path);
    std::wstring short_path(long_path.size() + 1, L'\0');
    DWORD length = GetShortPathNameW(long_path.c_str(), &short_path[0], static_cast<DWORD>(short_path.size()));
    if (length == 0 || length >= short_path.size())
        throw std::runtime_error("no short path for " + path);
    return std::filesystem::path(short_path.substr(4, length - 4)).u8string();
}

void remove_long_tree(const std::wstring& path)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_long_tree(path + L"\\" + name);
            else
                DeleteFileW((path + L"\\" + name).c_str());
        } while (FindNextFileW(listing, &entry));
        FindClose(listing);
    }
    if (!RemoveDirectoryW(path.c_str()))
        DeleteFileW(path.c_str());
}

// Starts `argv` with the given standard output and error, which it closes
// here; the process handle, or an exception.
HANDLE start_with_outputs(const std::vector<std::string>& argv, HANDLE out, HANDLE err, const std::string& cwd)
{
    std::string command_line;
    append_quoted_program(command_line, argv[0], ProgramToken::quoted);
    for (std::size_t i = 1; i < argv.size(); ++i) {
        command_line += ' ';
        append_quoted_arg(command_line, argv[i]);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    // CreateProcess takes no program path of MAX_PATH characters or more,
    // and Wine 8 fails on (or crashes at) a short one whose long form is
    // that long: such a program is named relative to its directory's short
    // form, made the current directory for the start, as a user would do.
    const std::string short_path = short_program_path(argv[0]);
    const std::string application = short_path.substr(short_path.rfind('\\') + 1);
    std::string own_cwd(MAX_PATH, '\0');
    own_cwd.resize(GetCurrentDirectoryA(MAX_PATH, &own_cwd[0]));
    if (!short_path.empty())
        SetCurrentDirectoryA(short_path.substr(0, short_path.rfind('\\')).c_str());
    const std::string child_cwd = !cwd.empty() ? cwd : !short_path.empty() ? own_cwd : "";
    BOOL started = CreateProcessA(short_path.empty() ? nullptr : application.c_str(), &command_line[0], nullptr,
                                  nullptr, TRUE, 0, nullptr, child_cwd.empty() ? nullptr : child_cwd.c_str(), &startup,
                                  &process);
    SetCurrentDirectoryA(own_cwd.c_str());
    const DWORD error = GetLastError();
    CloseHandle(out);
    CloseHandle(err);
    if (!started)
        throw std::runtime_error("cannot start " + argv[0] + " (error " + std::to_string(error) + ")");
    CloseHandle(process.hThread);
    return process.hProcess;
}

}  // namespace

// The C++ library's remove_all never returns on a tree past MAX_PATH under
// Wine; the wide calls with the "\\?\" prefix take any depth.
void remove_tree(const std::string& path)
{
    remove_long_tree(long_form(path));
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv, const std::vector<EnvVar>& env,
                                     const std::string& cwd)
{
    ScopedEnvs changes(env);
    HANDLE process = start_with_outputs(argv, create_output_file(outputs_ / "out"),
                                        create_output_file(outputs_ / "err"), cwd);
    process_ = reinterpret_cast<std::intptr_t>(process);
}

BackgroundProgram::~BackgroundProgram()
{
    if (process_ != 0) {
        kill();
        wait();
    }
}

namespace {

// The console delivers a control event by running kernelbase's CtrlRoutine
// in a new thread of each attached process; this starts it in one process.
HANDLE start_control_routine(HANDLE process, DWORD event)
{
    auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernelbase.dll"), "CtrlRoutine")));
    if (routine == nullptr)
        throw std::runtime_error("no CtrlRoutine in kernelbase.dll");
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, routine, reinterpret_cast<void*>(event), 0, nullptr);
    if (thread == nullptr)
        throw std::runtime_error("CreateRemoteThread failed: " + std::to_string(GetLastError()));
    return thread;
}

// Ctrl-C in one process; returns once the process's handlers have run.
void deliver_ctrl_c(HANDLE process)
{
    HANDLE thread = start_control_routine(process, CTRL_C_EVENT);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
}

}  // namespace

void BackgroundProgram::interrupt(unsigned long other_pid)
{
    HANDLE other = OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(other_pid));
    if (other == nullptr)
        throw std::runtime_error("cannot open process " + std::to_string(other_pid));
    deliver_ctrl_c(reinterpret_cast<HANDLE>(process_));
    deliver_ctrl_c(other);
    CloseHandle(other);
}

bool BackgroundProgram::close_console(unsigned long other_pid)
{
    HANDLE other = OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(other_pid));
    if (other == nullptr)
        throw std::runtime_error("cannot open process " + std::to_string(other_pid));
    // The launcher's handler may wait for the other process to end: both
    // get the event before either is waited for.
    HANDLE threads[] = {start_control_routine(reinterpret_cast<HANDLE>(process_), CTRL_CLOSE_EVENT),
                        start_control_routine(other, CTRL_CLOSE_EVENT)};
    WaitForMultipleObjects(2, threads, TRUE, 10000);
    for (HANDLE thread : threads)
        CloseHandle(thread);
    CloseHandle(other);
    return true;
}

void interrupt_this_process()
{
    deliver_ctrl_c(GetCurrentProcess());
}

void BackgroundProgram::kill()
{
    TerminateProcess(reinterpret_cast<HANDLE>(process_), 1);
}

bool BackgroundProgram::terminate()
{
    return false;
}

bool BackgroundProgram::send_signal(int)
{
    return false;
}

unsigned long BackgroundProgram::pid() const
{
    return GetProcessId(reinterpret_cast<HANDLE>(process_));
}

RunResult BackgroundProgram::wait()
{
    HANDLE process = reinterpret_cast<HANDLE>(process_);
    WaitForSingleObject(process, INFINITE);
    DWORD exit_code = 0;
    GetExitCodeProcess(process, &exit_code);
    CloseHandle(process);
    process_ = 0;

    RunResult result;
    result.exit_code = static_cast<int>(exit_code);
    result.out = read_file(outputs_ / "out");
    result.err = read_file(outputs_ / "err");
    return result;
}

bool process_ends_within(unsigned long pid, int ms)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return true;
    bool ended = WaitForSingleObject(process, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

std::string own_dir()
{
    char buffer[4096];
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    std::string path(buffer, length);
    return path.substr(0, path.rfind('\\'));
}

// Both copies of the environment change: the C runtime's, which the code
// under test reads with getenv, and the system's, which children inherit.
// The C runtime cannot hold an empty value; the system block can.
void set_env(const std::string& name, const std::string& value)
{
    _putenv((name + "=" + value).c_str());
    // After the C runtime's update, which removes the variable for an empty
    // value, the system's block gets the value as given.
    SetEnvironmentVariableA(name.c_str(), value.c_str());
}

void unset_env(const std::string& name)
{
    SetEnvironmentVariableA(name.c_str(), nullptr);
    _putenv((name + "=").c_str());
}

bool get_env(const std::string& name, std::string& value)
{
    char buffer[32768];
    SetLastError(0);
    DWORD length = GetEnvironmentVariableA(name.c_str(), buffer, sizeof buffer);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return false;
    value.assign(buffer, length);
    return true;
}

RunResult run_with_output_to_pipe(const std::vector<std::string>& argv, const std::vector<EnvVar>& env,
                                  bool reader_gone, const std::string& cwd)
{
    ScopedEnvs changes(env);
    TempDir outputs;
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    HANDLE reader = nullptr, writer = nullptr;
    if (!CreatePipe(&reader, &writer, &inheritable, 0))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
    if (reader_gone)
        CloseHandle(reader);
    HANDLE process = start_with_outputs(argv, writer, create_output_file(outputs / "err"), cwd);
    RunResult result;
    char buffer[4096];
    DWORD got = 0;
    while (!reader_gone && ReadFile(reader, buffer, sizeof buffer, &got, nullptr))
        result.out.append(buffer, got);
    if (!reader_gone)
        CloseHandle(reader);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    result.exit_code = static_cast<int>(code);
    result.err = read_file(outputs / "err");
    return result;
}

bool others_may_read(const std::string& path)
{
    // This process's user, who made the file (its owner may be the
    // Administrators group).
    HANDLE token = nullptr;
    char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool known = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                       GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    if (token != nullptr)
        CloseHandle(token);
    PSID owner = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!known || GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return true;
    bool others = dacl == nullptr;  // no list: everyone may do everything
    for (DWORD i = 0; !others && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        others = !GetAce(dacl, i, reinterpret_cast<void**>(&ace)) ||
                 (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                  (ace->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0 && !EqualSid(&ace->SidStart, owner) &&
                  !IsWellKnownSid(&ace->SidStart, WinLocalSystemSid) &&
                  !IsWellKnownSid(&ace->SidStart, WinBuiltinAdministratorsSid));
    }
    LocalFree(descriptor);
    return others;
}

bool let_everyone_write(const std::string& path)
{
    PACL old_dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &old_dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    char everyone[] = "EVERYONE";
    EXPLICIT_ACCESSA access = {};
    access.grfAccessPermissions = GENERIC_WRITE;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = everyone;
    PACL new_dacl = nullptr;
    bool done = SetEntriesInAclA(1, &access, old_dacl, &new_dacl) == ERROR_SUCCESS &&
                SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, new_dacl, nullptr) == ERROR_SUCCESS;
    LocalFree(new_dacl);
    LocalFree(descriptor);
    return done;
}

}  // namespace testing_support
