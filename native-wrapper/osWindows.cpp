// The OS layer on Windows. Texts are narrow in the process code page (UTF-8
// through the manifest); paths go to the wide ("W") calls, which take them
// at any length, and come back whole.
#include <windows.h>
#include <aclapi.h>
#include <io.h>
#include <process.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "commandText.h"
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

}  // namespace

int last_error()
{
    return static_cast<int>(GetLastError());
}

namespace {

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

// The process code page's text as UTF-16, and back.
std::wstring widen(const std::string& text, UINT code_page = CP_ACP)
{
    if (text.empty())
        return std::wstring();
    const int size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0)),
                      L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), size, &wide[0], static_cast<int>(wide.size()));
    return wide;
}

std::string narrow(const std::wstring& wide, UINT code_page = CP_ACP)
{
    if (wide.empty())
        return std::string();
    const int size = static_cast<int>(wide.size());
    std::string text(
        static_cast<std::size_t>(WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr)),
        '\0');
    WideCharToMultiByte(code_page, 0, wide.data(), size, &text[0], static_cast<int>(text.size()), nullptr, nullptr);
    return text;
}

std::wstring hex_digits(DWORD value)
{
    std::wstring digits;
    do {
        digits.insert(digits.begin(), L"0123456789ABCDEF"[value & 15]);
        value >>= 4;
    } while (value != 0);
    return digits;
}

// The answer of a call that fills a buffer with a text, read with a buffer
// that grows until the answer fits: `call(buffer, size)` answers the
// length written, or, when the buffer is too small, the size it needs
// (GetModuleFileName: the buffer's size, the text cut). False when the call
// fails (answers 0).
template <typename Call>
bool read_whole(Call call, std::wstring& text)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return false;
        if (length < buffer.size()) {
            text.assign(buffer.data(), length);
            return true;
        }
        buffer.resize(std::max<std::size_t>(length + 1, buffer.size() * 2));
    }
}

const wchar_t long_prefix[] = L"\\\\?\\";
const wchar_t long_unc_prefix[] = L"\\\\?\\UNC\\";

bool starts_with(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// `path` as the wide file calls take it at any length. Up to MAX_PATH - 12
// characters (the limit of a directory's path) it stays as it is; a longer
// one becomes the full path with the "\\?\" prefix, under which the system
// applies no limit, nor the normalisation that the prefix turns off: the
// full path has backslashes and no "." or ".." left.
std::wstring long_path(const std::wstring& path)
{
    if (path.size() < MAX_PATH - 12 || starts_with(path, long_prefix))
        return path;
    std::wstring full;
    if (!read_whole([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); },
                    full))
        return path;
    if (full.compare(0, 2, L"\\\\") == 0)
        return long_unc_prefix + full.substr(2);
    return long_prefix + full;
}

std::wstring long_path(const std::string& path)
{
    return long_path(widen(path));
}

// A path that the system gave with the "\\?\" prefix in the form users
// write, which the launcher's normalisation of paths can take.
std::wstring without_long_prefix(const std::wstring& path)
{
    if (starts_with(path, long_unc_prefix))
        return L"\\\\" + path.substr(std::wcslen(long_unc_prefix));
    if (starts_with(path, long_prefix))
        return path.substr(std::wcslen(long_prefix));
    return path;
}

// The short (8.3) form of `path`, which is of any length; `path` itself in
// its long form where the volume keeps no short names.
std::wstring short_path(const std::string& path)
{
    const std::wstring long_form = long_path(path);
    std::wstring short_form;
    if (!read_whole([&](wchar_t* buffer, DWORD size) { return GetShortPathNameW(long_form.c_str(), buffer, size); },
                    short_form))
        return long_form;
    return without_long_prefix(short_form);
}

// The system's ANSI code page, in which a program without a UTF-8 manifest,
// java.exe among them, reads its command line and java its argument files;
// the launcher's own CP_ACP is UTF-8 through its manifest.
UINT child_code_page()
{
    static const UINT code_page = [] {
        DWORD page = CP_ACP;
        GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<wchar_t*>(&page), sizeof(page) / sizeof(wchar_t));
        return static_cast<UINT>(page);
    }();
    return code_page;
}

// `wide` in the child's code page without best fit: a character that the
// page lacks becomes '?', where the default conversion would give a
// look-alike ('l' for U+0142, '"' for U+FF02, a backslash for U+00A5 in
// code page 932) that reads as another text or as quoting.
std::string to_child_bytes(const std::wstring& wide)
{
    const UINT code_page = child_code_page();
    if (wide.empty() || code_page == CP_UTF8)
        return narrow(wide, CP_UTF8);  // the system's code page holds every character
    const int size = static_cast<int>(wide.size());
    BOOL ignored = FALSE;
    std::string bytes(static_cast<std::size_t>(WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), size,
                                                                   nullptr, 0, "?", &ignored)),
                      '\0');
    WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), size, &bytes[0], static_cast<int>(bytes.size()),
                        "?", &ignored);
    return bytes;
}

// `text` as the child reads it, decoded back into the launcher's text: the
// same characters where the child's code page holds them, '?' elsewhere.
std::string as_child_reads(const std::string& text)
{
    return narrow(widen(to_child_bytes(widen(text)), child_code_page()), CP_UTF8);
}

// The temporary directory where GetTempPath cannot give it, as it gives at
// most MAX_PATH characters: the first of TMP, TEMP and USERPROFILE that is
// set, made a full path that ends in a backslash, as GetTempPath does.
bool long_temp_dir(std::wstring& dir)
{
    for (const wchar_t* name : {L"TMP", L"TEMP", L"USERPROFILE"}) {
        std::wstring value;
        if (!read_whole([&](wchar_t* buffer, DWORD size) { return GetEnvironmentVariableW(name, buffer, size); },
                        value))
            continue;
        if (!read_whole([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(value.c_str(), size, buffer, nullptr); },
                        dir))
            return false;
        if (dir.back() != L'\\')
            dir += L'\\';
        return true;
    }
    return false;
}

// What the names of the launcher's argument files start with.
const wchar_t argument_file_prefix[] = L"brumlet-args-";
// What the names of the files that create_new_file makes end with.
const wchar_t temp_file_suffix[] = L".tmp";

// The user's temporary directory, ending in a backslash, also where it is
// longer than GetTempPath can give.
bool temp_dir(std::wstring& dir)
{
    return read_whole([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); }, dir) ||
           (GetLastError() == ERROR_FILENAME_EXCED_RANGE && long_temp_dir(dir));
}

// Makes a new file in `dir` for reading and writing, named as
// GetTempFileName names it, which takes a directory of at most MAX_PATH - 14
// characters: `prefix`, four hex digits from a counter that starts at the
// tick count, ".tmp", and the file only made when the name is new.
// INVALID_HANDLE_VALUE when that fails.
HANDLE create_new_file(const std::wstring& dir, const wchar_t* prefix, DWORD share, SECURITY_ATTRIBUTES* attributes,
                       std::string& name)
{
    DWORD unique = GetTickCount();
    for (int attempt = 0; attempt < 0x10000; ++attempt, ++unique) {
        const std::wstring candidate =
            dir + prefix + hex_digits((unique & 0xFFFF) != 0 ? unique & 0xFFFF : 1) + temp_file_suffix;
        HANDLE file = CreateFileW(long_path(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, share, attributes,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            name = narrow(candidate);
            return file;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return INVALID_HANDLE_VALUE;
}

// Whether `name` is one that create_new_file gives with `prefix`, letter
// for letter: the user's own files that merely start alike are not ours.
bool is_made_name(const std::wstring& name, const std::wstring& prefix)
{
    const std::size_t suffix_size = std::wcslen(temp_file_suffix);
    if (name.size() <= prefix.size() + suffix_size || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix_size, suffix_size, temp_file_suffix) != 0)
        return false;
    const std::wstring digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix_size);
    const unsigned long value = std::wcstoul(digits.c_str(), nullptr, 16);
    return value >= 1 && value <= 0xFFFF && hex_digits(value) == digits;
}

}  // namespace

std::string command_text(const Command& command)
{
    // Each word as java.exe reads it, quoted there: the quotes and
    // backslashes that the quoting counts are the ones java.exe sees. The
    // quoting works on characters, as java.exe splits its command line by
    // characters of its code page (a trail byte 0x5C of code page 932 is
    // no backslash).
    Command readable = command;
    for (std::string& word : readable.words)
        word = as_child_reads(word);
    return render_command_text(readable);
}

std::string to_child_encoding(const std::string& text)
{
    return to_child_bytes(widen(text));
}

bool path_for_child(std::string& path)
{
    if (as_child_reads(path) == path)
        return true;
    // The short form of a path that does not exist yet is its directory's,
    // with its own name, which must then fit the code page itself.
    std::wstring wide = widen(path);
    std::wstring name;
    DWORD attributes = GetFileAttributesW(long_path(wide).c_str());
    const std::size_t slash = wide.find_last_of(L"\\/");
    if (attributes == INVALID_FILE_ATTRIBUTES && slash != std::wstring::npos) {
        name = wide.substr(slash);
        wide.erase(slash);
    }
    const std::string short_form = narrow(short_path(narrow(wide)) + name);
    if (as_child_reads(short_form) != short_form)
        return false;
    path = short_form;
    return true;
}

void write_text(std::FILE* stream, const std::string& text)
{
    std::fflush(stream);
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        const std::wstring wide = widen(text);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const std::string bytes = to_child_encoding(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

bool create_temp_file(std::string& name, FileHandle& handle, Failure& failure)
{
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;

    std::wstring dir;
    if (!temp_dir(dir)) {
        failure = {"GetTempPath", last_error()};
        return false;
    }
    // Its failures keep GetTempFileName's name in the message.
    HANDLE file = create_new_file(dir, L"tmp", 0, &inheritable, name);
    if (file == INVALID_HANDLE_VALUE) {
        failure = {"GetTempFileName", last_error()};
        return false;
    }
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
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = text != nullptr ? std::string(text, length) : std::string();
    LocalFree(text);
    // The system's texts end in a line break.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    // Some name the file they are about by an insert ("%1 is not a valid
    // Win32 application."): it gets the subject, or says only "the file"
    // (the line before names it). Filled here, not by FormatMessage, which
    // would read arguments that a text with more inserts does not have.
    for (std::size_t at = message.find('%'); at != std::string::npos; at = message.find('%', at + 1)) {
        std::size_t end = at + 1;
        while (end < message.size() && message[end] >= '0' && message[end] <= '9')
            ++end;
        if (end == at + 1)
            continue;
        if (end < message.size() && message[end] == '!') {  // a format such as "%1!s!"
            const std::size_t close = message.find('!', end + 1);
            end = close == std::string::npos ? message.size() : close + 1;
        }
        const std::string filler = !subject.empty() ? subject : at == 0 ? "The file" : "the file";
        message.replace(at, end - at, filler);
        at += filler.size() - 1;
    }
    return message.empty() ? "error " + std::to_string(error) : message;
}

bool read_file_start(const std::string& path, std::size_t max_bytes, std::string& out, int& error)
{
    HANDLE file = CreateFileW(long_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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
    DeleteFileW(long_path(path).c_str());
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

// Set once this process runs in the background; then its children do too:
// without a console (Windows makes a new one for a console program started
// by a process that has none) and at the idle priority, which Wine does not
// hand down. They inherit no handle but the standard ones they are given.
bool in_background = false;

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

// The child being waited for, as a handle of the launcher's own, for the
// console's control handler, which runs on a thread of its own.
SRWLOCK waited_child_lock = SRWLOCK_INIT;
HANDLE waited_child = nullptr;

// How long the launcher outlives a closed console, logoff or shutdown for
// java's sake: about what the system gives a process after a close (5 s).
const DWORD end_of_session_grace_ms = 5000;

// True when the waited-for child has ended within `ms`; false when there
// is none or it still runs.
bool waited_child_ends_within(DWORD ms)
{
    HANDLE process = nullptr;
    AcquireSRWLockExclusive(&waited_child_lock);
    if (waited_child != nullptr)
        DuplicateHandle(GetCurrentProcess(), waited_child, GetCurrentProcess(), &process, SYNCHRONIZE, FALSE, 0);
    ReleaseSRWLockExclusive(&waited_child_lock);
    if (process == nullptr)
        return false;
    ScopedHandle closer(process);
    return WaitForSingleObject(process, ms) == WAIT_OBJECT_0;
}

// A Ctrl-C or Ctrl-Break in the console reaches every process attached to
// it; while the child runs, the child decides what it means.
// Closing the console, logoff and shutdown reach java as well, which then
// runs its shutdown hooks; the launcher's own end would cut them short, as
// the job ends java with it. The system ends the launcher as soon as this
// handler returns, so it waits for java first. Once java has ended, the
// launcher's main thread passes on its status and ends the process, within
// the grace that the handler then sleeps; with no child, or java still
// running at the end of the grace, the default handling ends the launcher.
BOOL WINAPI leave_interrupt_to_child(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    if (!waited_child_ends_within(end_of_session_grace_ms))
        return FALSE;
    Sleep(end_of_session_grace_ms);
    return TRUE;
}

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

}  // namespace

// A handler of the launcher's own, which a child does not inherit (unlike
// SetConsoleCtrlHandler(NULL, TRUE)). Once a child has started it stays for
// the rest of the launcher's life: the console runs each attached process's
// handlers on a thread of its own, and the launcher's may run only after the
// child has ended on the same Ctrl-C and the wait has returned. Removed by
// then, the default handler would end the launcher with STATUS_CONTROL_C_EXIT
// in place of the tool's status. While the guard lives, its child is the
// one the handler waits for on a close.
class Child::InterruptGuard {
public:
    InterruptGuard()
    {
        static const bool installed = SetConsoleCtrlHandler(leave_interrupt_to_child, TRUE) != 0;
        (void)installed;
    }
    ~InterruptGuard()
    {
        AcquireSRWLockExclusive(&waited_child_lock);
        if (waited_child == process_)
            waited_child = nullptr;
        ReleaseSRWLockExclusive(&waited_child_lock);
        if (process_ != nullptr)
            CloseHandle(process_);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    void watch(HANDLE process)
    {
        if (!DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &process_, SYNCHRONIZE, FALSE, 0))
            return;
        AcquireSRWLockExclusive(&waited_child_lock);
        waited_child = process_;
        ReleaseSRWLockExclusive(&waited_child_lock);
    }

private:
    HANDLE process_ = nullptr;
};

Child::Child() : process_(0), job_(0), error_(0), too_long_(false) {}

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

bool Child::start(const Command& command, const ChildLaunch& launch)
{
    error_ = 0;
    too_long_ = false;
    // java.exe's GetCommandLineA is this text in its code page, byte for
    // byte: every character of it is one that the page holds.
    std::wstring text = widen(command_text(command));
    // Longer texts are refused by Windows, or cut by Wine without a word.
    if (text.size() > facts.max_command_text) {
        error_ = ERROR_FILENAME_EXCED_RANGE;
        too_long_ = true;
        return false;
    }
    STARTUPINFOEXW extended = {};
    STARTUPINFOW& startup = extended.StartupInfo;
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
    // The child starts suspended until it is in the job, so that it runs
    // no instruction untied.
    ScopedHandle job(launch.tie_to_launcher ? create_kill_on_close_job() : nullptr);
    DWORD flags = (job.get() != nullptr || in_background || launch.started ? CREATE_SUSPENDED : 0) |
                  (in_background ? DETACHED_PROCESS : 0);
    // A child of the background run gets its standard handles alone: none
    // of the cache's files that the run holds, which it needs not and
    // would keep open (from being deleted) for as long as it lives.
    std::vector<HANDLE> standard;
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        if (in_background && handle != nullptr && handle != INVALID_HANDLE_VALUE &&
            std::find(standard.begin(), standard.end(), handle) == standard.end())
            standard.push_back(handle);
    }
    const InheritedHandles only_standard(standard);
    if (only_standard.list() != nullptr) {
        startup.cb = sizeof(extended);
        extended.lpAttributeList = only_standard.list();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    const BOOL inherit = !in_background || !standard.empty();

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
    std::wstring environment;
    if (!launch.environment.empty()) {
        environment = environment_block(launch.environment);
        flags |= CREATE_UNICODE_ENVIRONMENT;
    }
    const BOOL started = CreateProcessW(application.empty() ? nullptr : application.c_str(), &text[0], nullptr,
                                        nullptr, inherit, flags, environment.empty() ? nullptr : &environment[0],
                                        own_dir.empty() ? nullptr : own_dir.c_str(), &startup, &process);
    if (!own_dir.empty())
        SetCurrentDirectoryW(own_dir.c_str());
    if (!started) {
        error_ = last_error();
        interrupts_.reset();
        return false;
    }
    ScopedHandle thread(process.hThread);
    process_ = reinterpret_cast<std::intptr_t>(process.hProcess);
    interrupts_->watch(process.hProcess);
    // Inside a job that forbids nested jobs the assignment fails: the child
    // then runs untied rather than not at all.
    if (job.get() != nullptr && AssignProcessToJobObject(job.get(), process.hProcess))
        job_ = reinterpret_cast<std::intptr_t>(job.release());
    if (in_background)
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
        error_ = ERROR_INVALID_HANDLE;
        return State::failed;
    }
    HANDLE process = reinterpret_cast<HANDLE>(process_);
    DWORD waited = WaitForSingleObject(process, milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds));
    if (waited == WAIT_TIMEOUT)
        return State::running;
    if (waited == WAIT_FAILED)
        error_ = last_error();
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

bool Child::pause(bool paused)
{
    bool all = true;
    if (!paused) {
        for (std::intptr_t stopped : paused_threads_) {
            HANDLE thread = reinterpret_cast<HANDLE>(stopped);
            all = (ResumeThread(thread) != static_cast<DWORD>(-1) || thread_ended(thread)) && all;
            CloseHandle(thread);
        }
        paused_threads_.clear();
        return all;
    }
    // Windows stops threads, not processes: each thread of the child, as a
    // snapshot lists them, each once, since one resume undoes one
    // suspension. A thread that still ran may have started others after the
    // snapshot: listed again until a listing shows none that is not stopped.
    const DWORD id = process_ != 0 ? GetProcessId(reinterpret_cast<HANDLE>(process_)) : 0;
    if (id == 0)
        return false;
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
            return false;
        THREADENTRY32 entry = {};
        entry.dwSize = sizeof(entry);
        bool stopped_more = false;
        for (BOOL more = Thread32First(threads.get(), &entry); more; more = Thread32Next(threads.get(), &entry)) {
            if (entry.th32OwnerProcessID != id || stopped_already(entry.th32ThreadID))
                continue;
            // A thread that ended since the snapshot is no failure.
            const DWORD rights = THREAD_SUSPEND_RESUME | THREAD_QUERY_LIMITED_INFORMATION | SYNCHRONIZE;
            ScopedHandle thread(OpenThread(rights, FALSE, entry.th32ThreadID));
            if (thread.get() == nullptr)
                continue;
            if (SuspendThread(thread.get()) == static_cast<DWORD>(-1)) {
                all = all && thread_ended(thread.get());
                continue;
            }
            paused_threads_.push_back(reinterpret_cast<std::intptr_t>(thread.release()));
            stopped_more = true;
        }
        if (!stopped_more)
            return all;
    }
    return false;
}

bool Child::end()
{
    return process_ != 0 && TerminateProcess(reinterpret_cast<HANDLE>(process_), 1) != 0;
}

// Windows cannot run another program in this process: the launcher starts
// java as a child and waits (facts.replaces_process is false).
void replace_process(const Command&, int& error, bool& too_long)
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
    std::wstring wide;
    if (!read_whole([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); }, wide)) {
        failure = {"GetModuleFileName", last_error()};
        return false;
    }
    path = narrow(without_long_prefix(wide));
    return true;
}

bool get_current_directory(std::string& dir, Failure& failure)
{
    std::wstring wide;
    if (!read_whole([](wchar_t* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); }, wide)) {
        failure = {"GetCurrentDirectory", last_error()};
        return false;
    }
    dir = narrow(without_long_prefix(wide));
    return true;
}

bool is_directory(const char* path)
{
    DWORD attributes = GetFileAttributesW(long_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool list_directory(const std::string& dir, std::vector<std::string>& names, int* error)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(long_path(dir + "\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        if (error != nullptr)
            *error = last_error();
        return false;
    }
    do {
        names.push_back(narrow(entry.cFileName));
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return true;
}

namespace {

// advapi32 (the registry, the security of the class cache) and user32 (the
// broadcast) serve only the machine environment's reader and writer and the
// class cache. Imported, they would be loaded and initialised at every start
// of the launcher, user32 at about the cost of a whole process start under
// Wine; bound on first use, only those calls pay. Both come from the system
// directory, whatever else is on the search path, and stay loaded.
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


// The security entries of advapi32 that the class cache needs.
struct SecurityFunctions {
    decltype(&OpenProcessToken) open_process_token;
    decltype(&GetTokenInformation) get_token_information;
    decltype(&GetLengthSid) get_length_sid;
    decltype(&GetSecurityInfo) get_security_info;
    decltype(&GetAce) get_ace;
    decltype(&EqualSid) equal_sid;
    decltype(&IsWellKnownSid) is_well_known_sid;
    decltype(&InitializeAcl) initialize_acl;
    decltype(&AddAccessAllowedAceEx) add_access_allowed_ace_ex;
    decltype(&InitializeSecurityDescriptor) initialize_security_descriptor;
    decltype(&SetSecurityDescriptorDacl) set_security_descriptor_dacl;
    decltype(&SetSecurityDescriptorControl) set_security_descriptor_control;
    bool bound() const
    {
        return open_process_token && get_token_information && get_length_sid && get_security_info && get_ace &&
               equal_sid && is_well_known_sid && initialize_acl && add_access_allowed_ace_ex &&
               initialize_security_descriptor && set_security_descriptor_dacl && set_security_descriptor_control;
    }
};

const SecurityFunctions& security()
{
    static const SecurityFunctions functions = [] {
        const HMODULE advapi32 = load_system_library("advapi32.dll");
        SecurityFunctions bound;
        bind_entry(advapi32, "OpenProcessToken", bound.open_process_token);
        bind_entry(advapi32, "GetTokenInformation", bound.get_token_information);
        bind_entry(advapi32, "GetLengthSid", bound.get_length_sid);
        bind_entry(advapi32, "GetSecurityInfo", bound.get_security_info);
        bind_entry(advapi32, "GetAce", bound.get_ace);
        bind_entry(advapi32, "EqualSid", bound.equal_sid);
        bind_entry(advapi32, "IsWellKnownSid", bound.is_well_known_sid);
        bind_entry(advapi32, "InitializeAcl", bound.initialize_acl);
        bind_entry(advapi32, "AddAccessAllowedAceEx", bound.add_access_allowed_ace_ex);
        bind_entry(advapi32, "InitializeSecurityDescriptor", bound.initialize_security_descriptor);
        bind_entry(advapi32, "SetSecurityDescriptorDacl", bound.set_security_descriptor_dacl);
        bind_entry(advapi32, "SetSecurityDescriptorControl", bound.set_security_descriptor_control);
        return bound;
    }();
    return functions;
}

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
    if (!security().bound() || !security().open_process_token(GetCurrentProcess(), TOKEN_QUERY, &token))
        return sid;
    DWORD size = 0;
    security().get_token_information(token, TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    if (size > 0 && security().get_token_information(token, TokenUser, buffer.data(), size, &size)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        sid.assign(static_cast<char*>(user), static_cast<char*>(user) + security().get_length_sid(user));
    }
    CloseHandle(token);
    return sid;
}

// Whether the open object is this user's (or the Administrators', which
// own what an elevated user makes) and its access-control list lets only
// this user, SYSTEM and the Administrators write, delete or re-permit it:
// Windows has no single owner who alone decides, so a grant to anyone else
// counts as "another user can write". Deny entries are not weighed against
// grants.
bool only_user_writes(HANDLE object)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!security().bound() ||
        security().get_security_info(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    std::vector<char> user = user_sid();
    const DWORD writing = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD | DELETE |
                          WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    auto trusted = [&](PSID sid) {
        return security().equal_sid(sid, user.data()) || security().is_well_known_sid(sid, WinLocalSystemSid) ||
               security().is_well_known_sid(sid, WinBuiltinAdministratorsSid);
    };
    // A missing list grants everyone everything.
    bool only_user = dacl != nullptr && !user.empty() && owner != nullptr &&
                     (security().equal_sid(owner, user.data()) ||
                      security().is_well_known_sid(owner, WinBuiltinAdministratorsSid));
    for (DWORD i = 0; only_user && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!security().get_ace(dacl, i, reinterpret_cast<void**>(&header)))
            only_user = false;
        else if (header->AceType == ACCESS_ALLOWED_ACE_TYPE && (header->AceFlags & INHERIT_ONLY_ACE) == 0) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            if ((ace->Mask & writing) != 0 && !trusted(&ace->SidStart))
                only_user = false;
        }
    }
    LocalFree(descriptor);
    return only_user;
}

HANDLE handle_of(const OwnFile& file)
{
    return to_handle(file.handle());
}

bool fill_status(HANDLE file, FileStatus& status)
{
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(file, &info) ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return false;
    const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    status.is_directory = !link && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.is_regular = !link && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    status.modified = ticks(info.ftLastWriteTime);
    // The change time moves with every write and rename, and no ordinary
    // program sets it back.
    status.identity = std::to_string(info.dwVolumeSerialNumber) + ':' + std::to_string(info.nFileIndexHigh) + ':' +
                      std::to_string(info.nFileIndexLow) + ':' + std::to_string(basic.ChangeTime.QuadPart) + ':' +
                      std::to_string(status.size) + ':' + std::to_string(status.modified);
    status.private_to_user = only_user_writes(file);
    status.owned = status.private_to_user;
    return true;
}

}  // namespace

namespace {

// A security descriptor of one entry, full access for this user, with
// nothing inherited from the parent: for a new file or directory that only
// this user may read or change.
class UserOnlySecurity {
public:
    // `inherit`: the entry's inheritance flags, for a directory.
    explicit UserOnlySecurity(DWORD inherit = 0)
    {
        std::vector<char> user = user_sid();
        if (user.empty())
            return;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + user.size());
        PACL acl = reinterpret_cast<PACL>(acl_.data());
        made_ = security().initialize_acl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
                security().add_access_allowed_ace_ex(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS,
                                                     user.data()) &&
                security().initialize_security_descriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                security().set_security_descriptor_dacl(&descriptor_, TRUE, acl, FALSE) &&
                security().set_security_descriptor_control(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    }
    UserOnlySecurity(const UserOnlySecurity&) = delete;
    UserOnlySecurity& operator=(const UserOnlySecurity&) = delete;

    // Null when it could not be made.
    SECURITY_ATTRIBUTES* attributes()
    {
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
        return made_ ? &attributes_ : nullptr;
    }

private:
    std::vector<char> acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool made_ = false;
};

}  // namespace

bool create_argument_file(std::string& name, FileHandle& handle, Failure& failure)
{
    std::wstring dir;
    if (!temp_dir(dir)) {
        failure = {"GetTempPath", last_error()};
        return false;
    }
    // The files of launchers that are gone, killed before they could delete
    // theirs: a live launcher's file, held open without sharing deletion,
    // stays. The pattern matches without regard to case, and also short
    // names: only the names the launcher makes are deleted.
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(long_path(dir + argument_file_prefix + L"*" + temp_file_suffix).c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            if (is_made_name(entry.cFileName, argument_file_prefix))
                DeleteFileW(long_path(dir + entry.cFileName).c_str());
        } while (FindNextFileW(listing, &entry));
        FindClose(listing);
    }
    // java.exe opens it for reading, sharing reading and writing; where the
    // user-only descriptor cannot be made it gets the directory's.
    UserOnlySecurity user_only;
    HANDLE file = create_new_file(dir, argument_file_prefix, FILE_SHARE_READ, user_only.attributes(), name);
    if (file == INVALID_HANDLE_VALUE) {
        failure = {"GetTempFileName", last_error()};
        return false;
    }
    handle = reinterpret_cast<FileHandle>(file);
    return true;
}

namespace {

// Opens `path` for its status; with `follow` false a link itself.
HANDLE open_for_status(const std::string& path, bool follow)
{
    return CreateFileW(long_path(path).c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

std::string in_directory(const OwnFile& dir, const std::string& name)
{
    return dir.path() + '\\' + name;
}

}  // namespace

void OwnFile::close()
{
    if (handle_ != invalid_file)
        CloseHandle(to_handle(handle_));
    handle_ = invalid_file;
}

bool file_status(const std::string& path, FileStatus& status)
{
    ScopedHandle file(open_for_status(path, true));
    return file.get() != INVALID_HANDLE_VALUE && fill_status(file.get(), status);
}

bool file_status(const OwnFile& file, FileStatus& status)
{
    return fill_status(handle_of(file), status);
}

OwnFile open_own_directory(const std::string& parent, const std::string& name, bool make)
{
    const std::string path = parent + '\\' + name;
    if (make) {
        // One entry, inherited by everything below: full access for this user.
        UserOnlySecurity user_only(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        if (user_only.attributes() != nullptr)
            CreateDirectoryW(long_path(path).c_str(), user_only.attributes());
    }
    // Without sharing deletion: nothing renames or replaces it while it is held.
    HANDLE dir = CreateFileW(long_path(path).c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return OwnFile(reinterpret_cast<FileHandle>(dir), path);
}

bool make_private_directories(const std::string& path)
{
    if (is_directory(path.c_str()))
        return true;
    const std::size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos && slash > 0 && !make_private_directories(path.substr(0, slash)))
        return false;
    UserOnlySecurity user_only(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    if (user_only.attributes() != nullptr)
        CreateDirectoryW(long_path(path).c_str(), user_only.attributes());
    return is_directory(path.c_str());
}

OwnFile open_in_directory(const OwnFile& dir, const std::string& name, bool create, bool inherited)
{
    const std::string path = in_directory(dir, name);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, inherited ? TRUE : FALSE};
    // A file being read may not be written meanwhile; the JVM writes a new
    // one (the list, the archive) by its path while it is held.
    const DWORD access = create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ | FILE_WRITE_ATTRIBUTES;
    const DWORD sharing = create ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                                 : FILE_SHARE_READ | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(long_path(path).c_str(), access, sharing, &attributes, create ? CREATE_NEW : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return OwnFile(reinterpret_cast<FileHandle>(file), path);
}

std::string jvm_path(const OwnFile& file)
{
    return file.path();
}

bool link_in_directory(const OwnFile& dir, const std::string& from, const std::string& to)
{
    return CreateHardLinkW(long_path(in_directory(dir, to)).c_str(), long_path(in_directory(dir, from)).c_str(),
                           nullptr) != 0;
}

bool read_at(const OwnFile& file, std::uint64_t offset, std::string& chunk)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD count = 0;
    const BOOL read = ReadFile(handle_of(file), &chunk[0], static_cast<DWORD>(chunk.size()), &count, &at);
    chunk.resize(read ? count : 0);
    return read || GetLastError() == ERROR_HANDLE_EOF;
}

namespace {

// A byte far past any end, so that a lock on it, which Windows enforces,
// never stands in the way of a read or write: the last for lock_file, the
// one before it for the marks, so that a file may carry both.
OVERLAPPED far_byte(bool for_mark)
{
    OVERLAPPED at = {};
    at.Offset = for_mark ? 0xfffffffe : 0xffffffff;
    at.OffsetHigh = 0x7fffffff;
    return at;
}

}  // namespace

bool lock_file(const OwnFile& file, bool wait)
{
    OVERLAPPED at = far_byte(false);
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    return LockFileEx(handle_of(file), flags, 0, 1, 0, &at) != 0;
}

bool mark_in_use(const OwnFile& file)
{
    // in_use_elsewhere holds its exclusive lock for an instant: a few tries.
    for (int attempt = 0; attempt < 10; ++attempt) {
        OVERLAPPED at = far_byte(true);
        if (LockFileEx(handle_of(file), LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            return true;
        Sleep(1);
    }
    return false;
}

bool in_use_elsewhere(const OwnFile& file)
{
    // Windows cannot test for a lock without taking one.
    OVERLAPPED at = far_byte(true);
    if (!LockFileEx(handle_of(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return true;
    at = far_byte(true);
    UnlockFileEx(handle_of(file), 0, 1, 0, &at);
    return false;
}

bool list_directory(const OwnFile& dir, std::vector<std::string>& names)
{
    return list_directory(dir.path(), names);
}

bool entry_status(const OwnFile& dir, const std::string& name, FileStatus& status)
{
    ScopedHandle file(open_for_status(in_directory(dir, name), false));
    return file.get() != INVALID_HANDLE_VALUE && fill_status(file.get(), status);
}

void delete_in_directory(const OwnFile& dir, const std::string& name)
{
    // The JVM makes its archive read-only, which DeleteFile refuses.
    const std::wstring path = long_path(in_directory(dir, name));
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    DeleteFileW(path.c_str());
}

bool rename_in_directory(const OwnFile& dir, const std::string& from, const std::string& to)
{
    return MoveFileExW(long_path(in_directory(dir, from)).c_str(), long_path(in_directory(dir, to)).c_str(),
                       MOVEFILE_REPLACE_EXISTING) != 0;
}

bool touch_file(const OwnFile& file)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return SetFileTime(handle_of(file), nullptr, nullptr, &now) != 0;
}

std::uint64_t free_disk_space(const OwnFile& dir)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(long_path(dir.path()).c_str(), &available, nullptr, nullptr))
        return 0;
    return available.QuadPart;
}

bool program_can_take_path(const std::string& path)
{
    // Outside the code page, its short name (or its directory's) will do.
    std::string openable = path;
    return path_for_child(openable);
}

bool start_detached(const Command& command, const std::string& variable, const std::string& value,
                    const std::string& working_dir)
{
    std::wstring text = widen(render_command_text(command));
    if (text.size() > facts.max_command_text)
        return false;
    // No standard handles and none inherited: it holds neither the caller's
    // pipes nor its console. (Wine gives every process it starts the Unix
    // standard error of the one that starts it, for its own messages: there
    // a caller that reads standard error to its end waits for this run.)
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process = {};
    std::wstring environment = environment_block({{variable, value}});
    const DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | IDLE_PRIORITY_CLASS | CREATE_UNICODE_ENVIRONMENT;
    // Its own directory, as a process's current directory cannot be
    // deleted while it runs; the caller's where that one is too long for
    // a current directory.
    const std::wstring dir = working_dir.empty() ? std::wstring() : widen(working_dir);
    const auto create = [&](DWORD more_flags, const std::wstring& in) {
        return CreateProcessW(nullptr, &text[0], nullptr, nullptr, FALSE, flags | more_flags, &environment[0],
                              in.empty() ? nullptr : in.c_str(), &startup, &process);
    };
    // Out of the launcher's job where it may leave it, so that the job's
    // end does not end it.
    BOOL started = create(CREATE_BREAKAWAY_FROM_JOB, dir) || create(0, dir);
    if (!started && !dir.empty())
        started = create(CREATE_BREAKAWAY_FROM_JOB, std::wstring()) || create(0, std::wstring());
    if (!started)
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

void catch_stop_requests() {}

int stop_request()
{
    return 0;
}

bool is_absolute_path(const std::string& path)
{
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    return (path.size() >= 2 && separator(path[0]) && separator(path[1])) ||
           (path.size() >= 3 && path[1] == ':' && separator(path[2]));
}

std::int64_t current_time()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ticks(now);
}

void run_in_background()
{
    in_background = true;
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
    return false;
}

std::uint64_t open_file_limit()
{
    return UINT64_MAX;
}

void put_env(const std::string& name, const std::string& value)
{
    // The C runtime's update also reaches SetEnvironmentVariableA, so
    // children inherit the change; "NAME=" removes the variable.
    _putenv((name + "=" + value).c_str());
}

// ---- Shared libraries and argument text, for the in-process JVM launch ----

namespace {

std::wstring current_dll_directory()
{
    std::wstring dir;
    if (!read_whole([](wchar_t* buffer, DWORD size) { return GetDllDirectoryW(size, buffer); }, dir))
        dir.clear();  // none set
    return dir;
}

}  // namespace

bool Library::load(const std::string& path, const std::string& dependency_dir)
{
    unload();
    // LoadLibraryA resolves the DLLs that this one imports by the standard
    // search order, which does not include the directory where a Java
    // runtime keeps its C runtime DLL: that directory joins the search for
    // this load only.
    std::wstring previous;
    if (!dependency_dir.empty()) {
        previous = current_dll_directory();
        SetDllDirectoryW(long_path(dependency_dir).c_str());
    }
    HMODULE module = LoadLibraryW(long_path(path).c_str());
    DWORD error = GetLastError();
    if (!dependency_dir.empty())
        SetDllDirectoryW(previous.empty() ? nullptr : previous.c_str());
    if (module == nullptr) {
        error_ = error_text(static_cast<int>(error));
        // The loader says the same when a DLL that this one imports is
        // missing, which reads as if this one were.
        if (error == ERROR_MOD_NOT_FOUND && GetFileAttributesW(long_path(path).c_str()) != INVALID_FILE_ATTRIBUTES)
            error_ += " The file is there: a library it needs is missing.";
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

bool decode_arg(const std::string& text, std::u16string& text16)
{
    const std::wstring wide = widen(text);
    text16.assign(wide.begin(), wide.end());
    return true;
}

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

namespace {

const char machine_env_key[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

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
