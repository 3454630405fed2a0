// Processes on Windows: children started suspended into a job that ends
// them with the launcher, the detached start, and this process's own facts.
#include "os/process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "launch/commandText.h"
#include "os/platform.h"
#include "os/windows/childText.h"
#include "os/windows/childThreads.h"
#include "os/windows/interruptGuard.h"
#include "os/windows/security.h"
#include "os/windows/wide.h"

namespace os {

using namespace detail;

std::string command_text(const Command& command)
{
    // Each word as java.exe reads it, quoted there: the quotes and
    // backslashes that the quoting counts are the ones java.exe sees. The
    // quoting works on characters, as java.exe splits its command line by
    // characters of its code page (a trail byte 0x5C of code page 932 is
    // no backslash).
    std::vector<std::string> readable = command.words;
    for (std::string& word : readable)
        word = as_child_reads(word);
    return render_command_text(readable, command.option_words, facts.program_token);
}

namespace {

// The attributes of a start that inherits only `handles` (inheritable
// ones), for a STARTUPINFOEXW; none where the list cannot be made.
class InheritedHandles {
public:
    explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles))
    {
        if (handles_.empty())
            return;
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                          handles_.size() * sizeof(HANDLE), nullptr, nullptr))
                list_ = list;
            else
                DeleteProcThreadAttributeList(list);
        }
    }
    ~InheritedHandles()
    {
        if (list_ != nullptr)
            DeleteProcThreadAttributeList(list_);
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

private:
    std::vector<HANDLE> handles_;  // read by CreateProcess, through the list
    std::vector<char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// A job object whose processes end when its last handle closes, also when
// the launcher is killed; null when it cannot be made. Only the child
// itself is tied: the processes it starts leave the job silently and may
// outlive the launcher, as they outlive java run by hand (and as on Linux,
// where the parent-death signal reaches the child alone).
HANDLE create_kill_on_close_job()
{
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr)
        return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// The entries of `block` (each ending in a NUL, the block in one more) with
// `name` set to `own` ("NAME=VALUE") in it, or with `own` null removed.
// Names compare without regard to case, and the block stays in their
// order; "=C:=C:\dir" is no variable's and comes first.
std::wstring with_change(const wchar_t* block, const std::wstring& name, const std::wstring* own)
{
    std::wstring changed;
    bool placed = own == nullptr;
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        const wchar_t* equals = std::wcschr(entry + 1, L'=');
        const std::size_t length = equals != nullptr ? equals - entry : std::wcslen(entry);
        const int order = entry[0] == L'=' ? CSTR_LESS_THAN
                                           : CompareStringOrdinal(entry, static_cast<int>(length), name.c_str(),
                                                                  static_cast<int>(name.size()), TRUE);
        if (order != CSTR_LESS_THAN && !placed) {
            changed.append(*own).push_back(L'\0');
            placed = true;
        }
        if (order != CSTR_EQUAL)
            changed.append(entry).push_back(L'\0');
    }
    if (!placed)
        changed.append(*own).push_back(L'\0');
    return changed;
}

// This process's environment as a block for CreateProcessW, with `changes`
// made in it alone: so they never enter this process's own environment,
// nor what else it starts. The string's own NUL ends the block.
std::wstring environment_block(const std::vector<std::pair<std::string, std::string>>& changes)
{
    std::wstring block;
    if (wchar_t* strings = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1)
            block.append(entry).push_back(L'\0');
        FreeEnvironmentStringsW(strings);
    }
    for (const auto& change : changes) {
        const std::wstring name = widen(change.first);
        const std::wstring own = name + L'=' + widen(change.second);
        block = with_change(block.c_str(), name, change.second.empty() ? nullptr : &own);
    }
    if (block.empty())
        block.push_back(L'\0');  // no variable at all: the block is its two NULs
    return block;
}

// Starts `command` detached (see ChildLaunch::detached).
bool spawn_detached(const Command& command, const ChildLaunch& launch, Failure& failure, bool& too_long)
{
    std::wstring text = widen(render_command_text(command.words, command.option_words, facts.program_token));
    if (text.size() > facts.max_command_text) {
        too_long = true;
        failure = {"CreateProcess", ERROR_FILENAME_EXCED_RANGE};
        return false;
    }
    // No standard handles and none inherited: it holds neither the caller's
    // pipes nor its console. (Wine gives every process it starts the Unix
    // standard error of the one that starts it, for its own messages: there
    // a caller that reads standard error to its end waits for this run.)
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process = {};
    std::wstring environment = launch.environment.empty() ? std::wstring() : environment_block(launch.environment);
    const DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | (launch.background ? IDLE_PRIORITY_CLASS : 0) |
                        (environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT);
    // Its own directory, as a process's current directory cannot be
    // deleted while it runs; the caller's where that one is too long for
    // a current directory.
    const std::wstring dir = launch.working_dir.empty() ? std::wstring() : widen(launch.working_dir);
    const auto create = [&](DWORD more_flags, const std::wstring& in) {
        return CreateProcessW(nullptr, &text[0], nullptr, nullptr, FALSE, flags | more_flags,
                              environment.empty() ? nullptr : &environment[0], in.empty() ? nullptr : in.c_str(),
                              &startup, &process);
    };
    // Out of the launcher's job where it may leave it, so that the job's
    // end does not end it.
    BOOL started = create(CREATE_BREAKAWAY_FROM_JOB, dir) || create(0, dir);
    if (!started && !dir.empty())
        started = create(CREATE_BREAKAWAY_FROM_JOB, std::wstring()) || create(0, std::wstring());
    if (!started) {
        failure = {"CreateProcess", last_error()};
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace

Child::Child() : process_(0), job_(0), too_long_(false) {}

Child::~Child()
{
    // No thread stays stopped by a handle that nobody holds any more.
    pause(false);
    if (process_ != 0)
        CloseHandle(reinterpret_cast<HANDLE>(process_));
    // Closing the last handle of the job ends a child still in it.
    if (job_ != 0)
        CloseHandle(reinterpret_cast<HANDLE>(job_));
}

bool Child::fail(Failure failure)
{
    failure_ = std::move(failure);
    return false;
}

bool Child::start(const Command& command, const ChildLaunch& launch)
{
    failure_ = Failure();
    too_long_ = false;
    if (launch.detached)
        return spawn_detached(command, launch, failure_, too_long_);
    // java.exe's GetCommandLineA is this text in its code page, byte for
    // byte: every character of it is one that the page holds.
    std::wstring text = widen(command_text(command));
    // Longer texts are refused by Windows, or cut by Wine without a word.
    if (text.size() > facts.max_command_text) {
        too_long_ = true;
        return fail({"CreateProcess", ERROR_FILENAME_EXCED_RANGE});
    }
    STARTUPINFOEXW extended = {};
    STARTUPINFOW& startup = extended.StartupInfo;
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};

    if (launch.hide_window) {
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    // Inheritable copies of the handles the child is to get that are not
    // inheritable themselves (the cache's files never are), closed once it
    // has started.
    std::vector<std::unique_ptr<ScopedHandle>> copies;
    const auto inheritable = [&copies](HANDLE handle) {
        DWORD handle_flags = 0;
        HANDLE copy = nullptr;
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetHandleInformation(handle, &handle_flags) ||
            (handle_flags & HANDLE_FLAG_INHERIT) != 0 ||
            !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
            return handle;
        copies.emplace_back(new ScopedHandle(copy));
        return copy;
    };
    if (launch.stdout_file != invalid_file) {
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = inheritable(to_handle(launch.stdout_file));
        startup.hStdError = launch.stderr_to_stdout ? startup.hStdOutput : GetStdHandle(STD_ERROR_HANDLE);
        startup.dwFlags |= STARTF_USESTDHANDLES;
    }
    // The child starts suspended until it is in the job, so that it runs
    // no instruction untied, and in the background until it has its
    // priority. A console program started by a process without a console
    // (the background run has none) would get a new one.
    ScopedHandle job(launch.tie_to_launcher ? create_kill_on_close_job() : nullptr);
    DWORD flags = (job.get() != nullptr || launch.background || launch.started ? CREATE_SUSPENDED : 0) |
                  (launch.background ? DETACHED_PROCESS : 0);
    // A child that inherits only some files gets its standard handles and
    // those through the start's handle list.
    std::vector<HANDLE> listed;
    if (!launch.inherit_all) {
        std::vector<HANDLE> wanted = {startup.hStdInput, startup.hStdOutput, startup.hStdError};
        for (FileHandle file : launch.inherited)
            wanted.push_back(inheritable(to_handle(file)));
        for (HANDLE handle : wanted) {
            if (handle != nullptr && handle != INVALID_HANDLE_VALUE &&
                std::find(listed.begin(), listed.end(), handle) == listed.end())
                listed.push_back(handle);
        }
    }
    const InheritedHandles only_listed(listed);
    if (only_listed.list() != nullptr) {
        startup.cb = sizeof(extended);
        extended.lpAttributeList = only_listed.list();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    const BOOL inherit = launch.inherit_all || !listed.empty();
    std::wstring environment;
    if (!launch.environment.empty()) {
        environment = environment_block(launch.environment);
        flags |= CREATE_UNICODE_ENVIRONMENT;
    }
    // The child's directory as a full path: the start below may change this
    // process's current directory for a moment.
    std::wstring child_dir;
    if (!launch.working_dir.empty() &&
        !read_whole([&](wchar_t* buffer, DWORD size) {
            return GetFullPathNameW(widen(launch.working_dir).c_str(), size, buffer, nullptr);
        }, child_dir))
        child_dir = widen(launch.working_dir);

    // From its first instruction an interrupt may reach the child.
    interrupts_.reset(new InterruptGuard);
    // CreateProcess takes no program path of MAX_PATH characters or more,
    // long paths enabled or not: a longer one is named apart, by its file
    // name in its directory's short (8.3) form, made the current directory
    // for the start. (The whole short path would do on Windows; Wine 8
    // expands it to the long form in a MAX_PATH buffer and fails or
    // crashes.) The child still starts in the launcher's own directory.
    // A short path is not named apart, as a bare name must still be searched.
    const std::string& program = command.words[0];
    std::wstring application, own_dir;
    if (program.size() >= MAX_PATH - 12) {
        const std::wstring short_form = short_path(program);
        const std::size_t slash = short_form.find_last_of(L"\\/");
        if (slash != std::wstring::npos &&
            read_whole([](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); }, own_dir) &&
            SetCurrentDirectoryW(short_form.substr(0, slash + 1).c_str()))
            application = short_form.substr(slash + 1);
        else
            application = short_form;
    }
    const std::wstring& start_dir = !child_dir.empty() ? child_dir : own_dir;
    const BOOL started = CreateProcessW(application.empty() ? nullptr : application.c_str(), &text[0], nullptr,
                                        nullptr, inherit, flags, environment.empty() ? nullptr : &environment[0],
                                        start_dir.empty() ? nullptr : start_dir.c_str(), &startup, &process);
    const int error = last_error();
    if (!own_dir.empty())
        SetCurrentDirectoryW(own_dir.c_str());
    if (!started) {
        interrupts_.reset();
        return fail({"CreateProcess", error});
    }
    ScopedHandle thread(process.hThread);
    process_ = reinterpret_cast<std::intptr_t>(process.hProcess);
    interrupts_->watch(process.hProcess);
    // Inside a job that forbids nested jobs the assignment fails: the child
    // then runs untied rather than not at all.
    if (job.get() != nullptr && AssignProcessToJobObject(job.get(), process.hProcess))
        job_ = reinterpret_cast<std::intptr_t>(job.release());
    // Wine hands no idle priority down: it is set before the child runs.
    if (launch.background)
        SetPriorityClass(process.hProcess, IDLE_PRIORITY_CLASS);
    if (launch.started)
        launch.started(static_cast<long>(process.dwProcessId));
    if (flags & CREATE_SUSPENDED)
        ResumeThread(process.hThread);
    return true;
}

bool Child::wait(int& exit_code)
{
    return wait_for(-1, exit_code) == State::ended;
}

Child::State Child::wait_for(int milliseconds, int& exit_code)
{
    if (process_ == 0) {
        fail({"WaitForSingleObject", ERROR_INVALID_HANDLE});
        return State::failed;
    }
    HANDLE process = reinterpret_cast<HANDLE>(process_);
    DWORD waited = WaitForSingleObject(process, milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds));
    if (waited == WAIT_TIMEOUT)
        return State::running;
    if (waited == WAIT_FAILED)
        fail({"WaitForSingleObject", last_error()});
    interrupts_.reset();
    if (waited == WAIT_FAILED)
        return State::failed;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    // Exception codes such as 0xC0000005 come out negative.
    exit_code = static_cast<int>(code);
    return State::ended;
}

namespace {

// Whether the thread `handle` (opened with SYNCHRONIZE) has ended.
bool thread_ended(HANDLE thread)
{
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

}  // namespace

HANDLE detail::open_thread_of(DWORD thread_id, DWORD process_id, DWORD rights)
{
    HANDLE thread = OpenThread(rights, FALSE, thread_id);
    if (thread != nullptr && GetProcessIdOfThread(thread) != process_id) {
        CloseHandle(thread);
        return nullptr;
    }
    return thread;
}

bool Child::pause(bool paused)
{
    // The first refusal for a thread that still runs, if any.
    Failure refused;
    const auto note = [&refused](bool done, const char* call, int error, HANDLE thread) {
        if (!done && !thread_ended(thread) && refused.call == nullptr)
            refused = {call, error};
    };
    if (!paused) {
        for (std::intptr_t stopped : paused_threads_) {
            HANDLE thread = reinterpret_cast<HANDLE>(stopped);
            const bool resumed = ResumeThread(thread) != static_cast<DWORD>(-1);
            note(resumed, "ResumeThread", last_error(), thread);
            CloseHandle(thread);
        }
        paused_threads_.clear();
        return refused.call == nullptr || fail(refused);
    }
    // Windows stops threads, not processes: each thread of the child, as a
    // snapshot lists them, each once, since one resume undoes one
    // suspension. A thread that still ran may have started others after the
    // snapshot: listed again until a listing shows none that is not stopped.
    const DWORD id = process_ != 0 ? GetProcessId(reinterpret_cast<HANDLE>(process_)) : 0;
    if (id == 0)
        return fail({"GetProcessId", ERROR_INVALID_HANDLE});
    // A thread that ended as it was stopped may leave its id to a new one.
    const auto stopped_already = [this](DWORD thread_id) {
        for (std::intptr_t stopped : paused_threads_) {
            const HANDLE thread = reinterpret_cast<HANDLE>(stopped);
            if (GetThreadId(thread) == thread_id && !thread_ended(thread))
                return true;
        }
        return false;
    };
    for (int listing = 0; listing < 100; ++listing) {
        ScopedHandle threads(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
        if (threads.get() == INVALID_HANDLE_VALUE)
            return fail({"CreateToolhelp32Snapshot", last_error()});
        THREADENTRY32 entry = {};
        entry.dwSize = sizeof(entry);
        bool stopped_more = false;
        for (BOOL more = Thread32First(threads.get(), &entry); more; more = Thread32Next(threads.get(), &entry)) {
            if (entry.th32OwnerProcessID != id || stopped_already(entry.th32ThreadID))
                continue;
            // A thread that ended since the snapshot is no failure, nor is one
            // whose id is now another process's: it is left alone.
            const DWORD rights = THREAD_SUSPEND_RESUME | THREAD_QUERY_LIMITED_INFORMATION | SYNCHRONIZE;
            ScopedHandle thread(open_thread_of(entry.th32ThreadID, id, rights));
            if (thread.get() == nullptr)
                continue;
            const bool suspended = SuspendThread(thread.get()) != static_cast<DWORD>(-1);
            if (!suspended) {
                note(suspended, "SuspendThread", last_error(), thread.get());
                continue;
            }
            paused_threads_.push_back(reinterpret_cast<std::intptr_t>(thread.release()));
            stopped_more = true;
        }
        if (!stopped_more)
            return refused.call == nullptr || fail(refused);
    }
    return fail({"SuspendThread", ERROR_TIMEOUT});
}

bool Child::end()
{
    if (process_ == 0)
        return fail({"TerminateProcess", ERROR_INVALID_HANDLE});
    return TerminateProcess(reinterpret_cast<HANDLE>(process_), 1) != 0 || fail({"TerminateProcess", last_error()});
}

bool start_detached(const Command& command, const std::string& variable, const std::string& value,
                    const std::string& working_dir, Failure& failure)
{
    ChildLaunch launch;
    launch.detached = true;
    launch.background = true;
    launch.environment = {{variable, value}};
    launch.working_dir = working_dir;
    Child child;
    if (child.start(command, launch))
        return true;
    failure = child.failure();
    return false;
}

// Windows cannot run another program in this process: the launcher starts
// java as a child and waits (facts.replaces_process is false).
bool replace_process(const Command&, Failure& failure, bool& too_long)
{
    failure = {"replace_process", ERROR_CALL_NOT_IMPLEMENTED};
    too_long = false;
    return false;
}

void catch_stop_requests() {}

int stop_request()
{
    return 0;
}

void run_in_background()
{
    SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);
    SetPriorityClass(GetCurrentProcess(), PROCESS_MODE_BACKGROUND_BEGIN);
}

long process_id()
{
    return static_cast<long>(GetCurrentProcessId());
}

bool standard_streams_open()
{
    return true;
}

bool running_as_superuser()
{
    // Elevated, or as SYSTEM: it may write where other users own the files.
    return running_privileged();
}

std::uint64_t open_file_limit()
{
    return UINT64_MAX;
}

}  // namespace os
