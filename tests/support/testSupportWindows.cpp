#include <windows.h>
#include <aclapi.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "commandText.h"
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

// Starts `argv` with the given standard output and error, which it closes
// here; the process handle, or an exception.
HANDLE start_with_outputs(const std::vector<std::string>& argv, HANDLE out, HANDLE err, const std::string& cwd)
{
    std::string command_line;
    append_quoted_program(command_line, argv[0]);
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
    BOOL started = CreateProcessA(nullptr, &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  cwd.empty() ? nullptr : cwd.c_str(), &startup, &process);
    const DWORD error = GetLastError();
    CloseHandle(out);
    CloseHandle(err);
    if (!started)
        throw std::runtime_error("cannot start " + argv[0] + " (error " + std::to_string(error) + ")");
    CloseHandle(process.hThread);
    return process.hProcess;
}

}  // namespace

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

// The console delivers Ctrl-C by running kernelbase's CtrlRoutine in a new
// thread of each attached process; this does the same for one process and
// waits until the process's handlers have run.
void deliver_ctrl_c(HANDLE process)
{
    auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernelbase.dll"), "CtrlRoutine")));
    if (routine == nullptr)
        throw std::runtime_error("no CtrlRoutine in kernelbase.dll");
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, routine, reinterpret_cast<void*>(CTRL_C_EVENT), 0,
                                       nullptr);
    if (thread == nullptr)
        throw std::runtime_error("CreateRemoteThread failed: " + std::to_string(GetLastError()));
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

RunResult run_with_output_reader_gone(const std::vector<std::string>& argv, const std::vector<EnvVar>& env)
{
    ScopedEnvs changes(env);
    TempDir outputs;
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    HANDLE reader = nullptr, writer = nullptr;
    if (!CreatePipe(&reader, &writer, &inheritable, 0))
        throw std::runtime_error("CreatePipe failed");
    CloseHandle(reader);
    HANDLE process = start_with_outputs(argv, writer, create_output_file(outputs / "err"), "");
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    RunResult result;
    result.exit_code = static_cast<int>(code);
    result.err = read_file(outputs / "err");
    return result;
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
