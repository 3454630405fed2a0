#include "classCache.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>

#include "launch/commandText.h"
#include "launcherOptions.h"
#include "os/environment.h"
#include "os/platform.h"
#include "os/process.h"
#include "os/text.h"

const char class_cache_variable[] = "NATIVE_WRAP_CLASS_CACHE";
const char class_cache_job_variable[] = "NATIVE_WRAP_CLASS_CACHE_JOB";
const char class_cache_dir_name[] = "brumlet-classes";
int class_archive_longest_pause_ms = 5 * 60 * 1000;

namespace {

const char not_supported_note[] =
    "Class cache not used: the runtime at '%s' is older than Java 13 or its release file cannot be read.";
const char unusable_dir_note[] =
    "Class cache not used: '%s' cannot be made or opened, is a link, or another user can change it.";
const char separator_note[] = "Class cache not used: the JVM cannot take the path '%s' (a list separator in it).";
const char foreign_name_note[] = "Class cache not used: java.exe cannot be given the path '%s' in the ANSI code page.";
const char own_sharing_note[] =
    "Class cache not used: the JVM options choose class-data sharing, read options from a file, or log class loading.";
const char runtime_archive_note[] = "Class cache not used: java warns that it cannot use the runtime's own archive '%s'.";
const char foreign_file_note[] = "Class cache not used: '%s' is not this user's own file.";
const char unmade_note[] = "Class cache not used: '%s' cannot be made: ";
const char superuser_note[] =
    "Class cache not used: '%s' is not the superuser's own, and a run as the superuser would leave its files there.";
const char few_files_note[] =
    "Class cache not used: the hard limit of open files is below %s, and the cache keeps two of them open.";
const char closed_streams_note[] =
    "Class cache not used: a standard stream is closed, and a file of the cache would take its place.";
const char failed_note[] = "Class cache not used: the archive of this launch could not be made (%s).";
const char lasting_failure_note[] =
    "Class cache not used: making the archive of this launch failed within the last day, and would again:\n%s";
// The reasons a JVM of the archive's run failed for good, as KEY.bad holds them.
const char made_nothing_reason[] = "The JVM made no archive.";
const char signal_reason[] = "The JVM ended with status %s.";
const char listing_note[] = "Class cache: this run lists the classes it loads in '%s'.";
const char busy_note[] = "Class cache: another run lists the classes or makes the archive '%s'.";
const char job_note[] = "Class cache: the archive is made in the background from '%s'.";

// The JVM reports on its archive on standard output (a class path that
// does not match, for one): silenced, only on standard output. A launch
// whose own options log anything of class data is kept out of the cache.
const char silence_option[] = "-Xlog:cds=off,cds+dynamic=off";
const char use_option[] = "-XX:SharedArchiveFile=";
const char list_option[] = "-XX:DumpLoadedClassList=";
// The variables whose options java gives the JVM besides its command line.
const char* const option_variables[] = {"JDK_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};
// The names of -XX options that keep the cache out.
const char* const sharing_names[] = {"Shared", "ArchiveClasses", "DumpLoadedClassList", "VMOptionsFile", "Flags", "CDS"};
// More -XX options that keep it out: one prints the cache's options, one
// warns through the log that the cache silences; and every option of the
// ahead-of-time cache (JDK 24 on), which the JVM takes with none of the
// cache's options.
const char* const own_output_names[] = {"PrintVMOptions", "RecordDynamicDumpInfo"};
const char ahead_of_time_prefix[] = "AOT";
// Options that change the layout of objects and classes, which an archive
// must be made with to be taken: the archive's JVM gets them too.
// The collector's choice counts (ZGC has no compressed oops), and so do
// compact object headers; the unlocking options go along for the options
// that need them.
const char* const layout_names[] = {"ObjectAlignmentInBytes",     "UseCompressedOops",          "UseCompressedClassPointers",
                                    "MaxHeapSize",                "UseLargePages",              "UseCompactObjectHeaders",
                                    "UseSerialGC",                "UseParallelGC",              "UseG1GC",
                                    "UseZGC",                     "UseShenandoahGC",            "UseEpsilonGC",
                                    "UnlockExperimentalVMOptions", "UnlockDiagnosticVMOptions"};
// From this version on an archive may hold its classes linked ahead of
// time, which spares each run the linking.
const int first_linking_version = 24;
const char linking_option[] = "-XX:+AOTClassLinking";
// The JVM refuses an archive of linked classes to a run whose module
// options or agents its making lacked: the beginnings of such option words
// ("--add-opens", "--enable-native-access", "-p", their properties).
const char* const unlinked_prefixes[] = {"--", "-p", "-agent", "-javaagent", "-Djdk.module."};
// The runtime's own archive, beside its JVM. Up to Java 17 a run that
// cannot use it shares nothing, silently; later runtimes warn, which the
// cache's own archive would keep quiet. They cannot use it when it is
// unreadable or when the run has no compressed class pointers (the archive
// is made with them).
const char runtime_archive_name[] = "classes.jsa";
const int last_quiet_archive_version = 17;
const char no_class_pointers_option[] = "-XX:-UseCompressedClassPointers";

// The files of one key, KEY + suffix.
const char archive_suffix[] = ".jsa";
const char meta_suffix[] = ".sum";    // the identities of the archive and of its jars
const char list_suffix[] = ".list";   // the classes a run loaded; locked while written or used
const char failed_suffix[] = ".bad";  // why making the archive failed; tried again after a day
const char pending_suffix[] = ".tmp";
const char output_suffix[] = ".out";
const char arguments_suffix[] = ".args";
const char record_pending_suffix[] = ".new";  // a record until it is whole
const char whole_lines_suffix[] = ".lines";  // the list without a line cut short
const char* const key_suffixes[] = {archive_suffix,   meta_suffix,      list_suffix,           failed_suffix,
                                    pending_suffix,   output_suffix,    arguments_suffix,      record_pending_suffix,
                                    whole_lines_suffix};
// A file of one process: KEY.pidN.list, the list as the JVM of process N
// names it (the tool's JVM writes KEY.list through this second name; a JVM
// the tool starts with the same options writes a file of its own, never
// used), and KEY.pidN.tmp, the archive that run N makes.
const char pid_infix[] = ".pid";
// The JVM puts "pid" and its process id in place of %p in the list's
// name: KEY.%p.list is KEY.pidN.list.
const char jvm_pid_pattern[] = ".%p";
const std::size_t key_length = 16;
// The file that every run using the cache marks while it lives (see
// os::mark_in_use): the making of an archive pauses while any does.
const char runs_name[] = "runs.lock";
// How often the run that makes an archive looks for runs, while its JVM
// works and while it is paused; and the longest it pauses in all, so that
// a tool that never ends cannot keep the archive from being made.
const int busy_poll_ms = 20;
const int paused_poll_ms = 100;

// What the trial start says of every jar of the archive's class path, those
// of the manifests' Class-Path included: up to Java 21 one line with the
// whole list; from Java 24 on a line for each jar, as
// "[0.012s][info][class,path] (app   ) [2] = /lib/dep.jar".
const char expected_classpath[] = "Expecting -Djava.class.path=";
const char app_entry[] = "(app";
const char entry_path[] = "] = ";

const std::size_t release_read_limit = 65536;
const int first_supported_version = 13;
// A file of a key left this long by a run that did not end as it should;
// a failed attempt is tried again after as long, in case the cause was not
// in its inputs after all.
const std::int64_t abandoned_age = 24ll * 3600 * 10000000;
// The JVM raises its limit of open files to the hard limit; below this one
// the descriptors the cache keeps open could be those a tool lacks.
const std::uint64_t least_open_files = 256;
// What the JVM says when it cannot have memory or room on the disk: the
// next attempt may well succeed.
const char* const transient_phrases[] = {"reserve",       "insufficient memory", "allocate",   "OutOfMemoryError",
                                         "Out of Memory", "No space left",       "Unable to write"};
// Exit statuses of a JVM that another program ended (128 + SIGHUP, SIGINT,
// SIGKILL, SIGTERM): a sweep of build processes, a service stop, the
// kernel's out-of-memory killer.
const int ended_from_outside[] = {129, 130, 137, 143};
// The lines of a failed JVM's output that KEY.bad keeps.
const int reason_lines = 5;

std::string joined(const std::string& dir, const std::string& name)
{
    return dir + os::facts.path_separator + name;
}

bool starts_with(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool ends_with(const std::string& text, const char* suffix)
{
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

std::string formatted(const char* format, const std::string& subject)
{
    std::vector<char> buffer(std::strlen(format) + subject.size() + 1);
    std::snprintf(buffer.data(), buffer.size(), format, subject.c_str());
    return buffer.data();
}

// One file of the key: its path and identity, or that it is missing.
void add_file(std::string& key, const std::string& path)
{
    os::FileStatus status;
    key += path + '|' + (os::file_status(path, status) ? status.identity : "missing") + '\n';
}

// 64-bit FNV-1a as 16 hexadecimal digits: a short, fixed file name.
std::string digest(const std::string& text)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// The JVM options followed by the words of java's option variables.
std::vector<std::string> all_option_words(const std::vector<std::string>& jvm_options)
{
    std::vector<std::string> all = jvm_options;
    for (const char* variable : option_variables) {
        const char* value = std::getenv(variable);
        // java refuses a value with an unmatched quote: the tool never
        // runs, whatever the cache does.
        if (value != nullptr)
            split_java_options(value, all);
    }
    return all;
}

// The name of a -XX option: "-XX:+Name", "-XX:-Name", "-XX:Name=value"
// give Name; empty for any other word.
std::string xx_name(const std::string& option)
{
    if (!starts_with(option, "-XX:"))
        return std::string();
    std::string name = option.substr(4, option.find('=') == std::string::npos ? std::string::npos : option.find('=') - 4);
    if (!name.empty() && (name[0] == '+' || name[0] == '-'))
        name.erase(0, 1);
    return name;
}

std::vector<std::string> layout_options(const std::vector<std::string>& jvm_options)
{
    std::vector<std::string> layout;
    for (const std::string& option : all_option_words(jvm_options)) {
        const std::string name = xx_name(option);
        bool wanted = starts_with(option, "-Xmx");
        for (const char* layout_name : layout_names)
            wanted = wanted || name == layout_name;
        if (wanted)
            layout.push_back(option);
    }
    return layout;
}

// The name of the file `suffix` of `key` of process `pid`.
std::string pid_name(const std::string& key, long pid, const char* suffix)
{
    return key + pid_infix + std::to_string(pid) + suffix;
}

// Whether `name` is one the cache gives a file of its own: a key and one
// of its suffixes, or a file of one process (`of_process` tells which).
bool is_cache_file(const std::string& name, std::string* key = nullptr, bool* of_process = nullptr)
{
    if (name.size() <= key_length || name.find_first_not_of("0123456789abcdef") != key_length)
        return false;
    std::size_t rest = key_length;
    const bool pid_named = name.compare(rest, std::strlen(pid_infix), pid_infix) == 0;
    if (pid_named) {
        rest += std::strlen(pid_infix);
        const std::size_t digits_end = name.find_first_not_of("0123456789", rest);
        if (digits_end == rest || digits_end == std::string::npos)
            return false;
        rest = digits_end;
    }
    for (const char* suffix : key_suffixes) {
        if (name.compare(rest, std::string::npos, suffix) == 0 &&
            (!pid_named || suffix == list_suffix || suffix == pending_suffix)) {
            if (key != nullptr)
                *key = name.substr(0, key_length);
            if (of_process != nullptr)
                *of_process = pid_named;
            return true;
        }
    }
    return false;
}

// Deletes `name` in the cache's directory when it is a file of this user's.
void delete_own(const os::OwnFile& dir, const std::string& name)
{
    os::FileStatus status;
    if (os::entry_status(dir, name, status) && status.is_regular && status.private_to_user)
        os::delete_in_directory(dir, name);
}

bool exists(const os::OwnFile& dir, const std::string& name)
{
    os::FileStatus status;
    return os::entry_status(dir, name, status);
}

// A regular file of this user's that no one else can write.
bool is_own(const os::OwnFile& file)
{
    os::FileStatus status;
    return file.valid() && os::file_status(file, status) && status.is_regular && status.private_to_user;
}

// The text of a small file of the cache; empty when it cannot be read.
std::string read_text(const os::OwnFile& file)
{
    std::string text, chunk;
    for (;;) {
        chunk.assign(65536, '\0');
        if (!os::read_at(file, text.size(), chunk))
            return std::string();
        if (chunk.empty())
            return text;
        text += chunk;
    }
}

// Writes `text` to `name` in `dir` (one there before is replaced) under a
// name of its own first, so that no one reads it before it is whole; false
// when it cannot be written whole.
bool write_whole(const os::OwnFile& dir, const std::string& key, const char* suffix, const std::string& text)
{
    const std::string pending = key + record_pending_suffix;
    delete_own(dir, pending);
    os::OwnFile file = os::open_in_directory(dir, pending, true);
    os::Failure error;
    return file.valid() && os::write_file(file.handle(), text, error) &&
           os::rename_in_directory(dir, pending, key + suffix);
}

// Writes `text` to a new file `name` in `dir` (one there before is
// replaced); false when it cannot be written whole.
bool write_new(const os::OwnFile& dir, const std::string& name, const std::string& text)
{
    delete_own(dir, name);
    os::OwnFile file = os::open_in_directory(dir, name, true);
    os::Failure error;
    return file.valid() && os::write_file(file.handle(), text, error);
}

// `path` as one field of a line of the record: a tab, a line break or a
// backslash in it written as \t, \n, \r, \\, so that any path reads back whole.
std::string record_field(const std::string& path)
{
    std::string field;
    for (char c : path) {
        const char* escaped = c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\\' ? "\\\\" : nullptr;
        field += escaped != nullptr ? std::string(escaped) : std::string(1, c);
    }
    return field;
}

// The path that record_field wrote as `field`.
std::string record_path(const std::string& field)
{
    std::string path;
    for (std::size_t at = 0; at < field.size(); ++at) {
        if (field[at] != '\\' || at + 1 == field.size()) {
            path += field[at];
            continue;
        }
        const char next = field[++at];
        path += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return path;
}

// The record of an archive: the identity of the archive as it was placed
// (see os::FileStatus: every later write, cut or replacement of it changes
// that), then one line for each jar the JVM checks it with: the path (see
// record_field) and its identity.
std::string archive_record(const std::string& archive_identity, const std::vector<std::string>& jars)
{
    std::string record = archive_identity + '\n';
    for (const std::string& jar : jars) {
        os::FileStatus status;
        record += record_field(jar) + '\t' + (os::file_status(jar, status) ? status.identity : "missing") + '\n';
    }
    return record;
}

// Whether the open archive is what its record says it is: the very file
// that was placed, unchanged, and every jar of it unchanged.
bool matches_record(const os::OwnFile& archive, const std::string& record)
{
    os::FileStatus status;
    const std::size_t end = record.find('\n');
    if (end == std::string::npos || !os::file_status(archive, status) || record.compare(0, end, status.identity) != 0)
        return false;
    std::vector<std::string> jars;
    for (std::size_t at = end + 1; at < record.size();) {
        const std::size_t line_end = record.find('\n', at);
        if (line_end == std::string::npos)
            return false;
        const std::string line = record.substr(at, line_end - at);
        jars.push_back(record_path(line.substr(0, line.find('\t'))));
        at = line_end + 1;
    }
    return archive_record(status.identity, jars) == record;
}

// The jars of the archive's class path as the trial start reports them;
// `fallback` when it does not.
std::vector<std::string> reported_jars(const std::string& output, const std::vector<std::string>& fallback)
{
    std::vector<std::string> jars;
    std::size_t at = output.find(expected_classpath);
    if (at != std::string::npos) {
        at += std::strlen(expected_classpath);
        const std::string list = output.substr(at, output.find_first_of("\r\n", at) - at);
        for (std::size_t begin = 0;;) {
            const std::size_t end = list.find(os::facts.list_separator, begin);
            jars.push_back(list.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
            if (end == std::string::npos)
                return jars;
            begin = end + 1;
        }
    }
    for (std::size_t line = 0; line < output.size();) {
        const std::size_t end = std::min(output.find_first_of("\r\n", line), output.size());
        const std::string text = output.substr(line, end - line);
        const std::size_t entry = text.find(app_entry), path = text.find(entry_path);
        if (entry != std::string::npos && path != std::string::npos && entry < path)
            jars.push_back(text.substr(path + std::strlen(entry_path)));
        line = end + 1;
    }
    return jars.empty() ? fallback : jars;
}

// `path` by a name java can open: every path of the cache's runs can be
// given to it (see open_cache_dir).
std::string openable(std::string path)
{
    os::path_for_child(path);
    return path;
}

// The JVM options that the trial and the archive's JVM get besides their
// own, and an argument file with the class path in `dir`.
struct ArchiveRun {
    os::OwnFile arguments;
    os::OwnFile runs;  // the marks of the runs that use the cache
    std::string java;
    std::vector<std::string> options;
    std::chrono::steady_clock::duration paused_for{};  // in all, of this run's JVMs
    int status = -1;       // the last JVM's exit status; -1: not started or not waited for
    bool stopped = false;  // this process was asked to stop: the JVM was ended

    // Runs java with `own` options, these, the class path and `last`;
    // standard output into `output` when it is valid. True when it ended
    // with 0.
    bool run(const std::vector<std::string>& own, const std::string& last = "",
             const os::OwnFile& output = os::OwnFile())
    {
        os::Command command;
        command.words = {openable(java)};
        command.words.insert(command.words.end(), own.begin(), own.end());
        command.words.insert(command.words.end(), options.begin(), options.end());
        command.words.push_back('@' + openable(os::jvm_path(arguments)));
        if (!last.empty())
            command.words.push_back(last);
        os::Child child;
        os::ChildLaunch launch;
        launch.stdout_file = output.valid() ? output.handle() : os::invalid_file;
        // At the lowest priority, holding none of this run's files (held in
        // it, they could not be deleted while it lives) unless jvm_path may
        // name them by descriptor.
        launch.background = true;
        launch.inherit_all = os::facts.jvm_paths_need_inheritance;
        // A request to stop reaches this process, which ends the JVM (even
        // a paused one) and cleans up.
        launch.pass_signals = false;
        status = -1;
        if (os::stop_request() != 0 || !child.start(command, launch))
            return false;
        // Even at the lowest priority this JVM slows a tool that starts
        // beside it (they share the processors' caches and memory): it is
        // paused while any run of the cache lives, up to the longest pause
        // in all, timed by the clock from each asking (a pause that stopped
        // only some of its threads holds the JVM as well).
        using clock = std::chrono::steady_clock;
        const clock::duration longest = std::chrono::milliseconds(class_archive_longest_pause_ms);
        bool paused = false;
        clock::time_point paused_at;
        os::Child::State state = os::Child::State::running;
        while (state == os::Child::State::running) {
            if (os::stop_request() != 0) {
                stopped = true;
                child.end();
                child.wait(status);
                return false;
            }
            const clock::time_point now = clock::now();
            const bool busy = runs.valid() && paused_for + (paused ? now - paused_at : clock::duration()) < longest &&
                              os::in_use_elsewhere(runs);
            if (busy != paused) {
                child.pause(busy);
                if (!busy)
                    paused_for += now - paused_at;
                paused_at = now;
                paused = busy;
            }
            state = child.wait_for(paused ? paused_poll_ms : busy_poll_ms, status);
        }
        if (state != os::Child::State::ended)
            status = -1;
        return status == 0;
    }
};

// Deletes the files of single processes of `key` (see pid_name).
void delete_process_files(const os::OwnFile& dir, const std::string& key)
{
    std::vector<std::string> names;
    os::list_directory(dir, names);
    for (const std::string& name : names) {
        std::string of_key;
        bool of_process = false;
        if (is_cache_file(name, &of_key, &of_process) && of_process && of_key == key)
            delete_own(dir, name);
    }
}

// Whether the file `name` in `dir` is locked by another run.
bool held_elsewhere(const os::OwnFile& dir, const std::string& name)
{
    const os::OwnFile file = os::open_in_directory(dir, name, false);
    return file.valid() && !os::lock_file(file, false);
}

// The file of the runs' marks in the cache's own directory, made when
// missing; not valid when it cannot be had or is not this user's own.
os::OwnFile open_runs_file(const os::OwnFile& cache)
{
    os::OwnFile runs = os::open_in_directory(cache, runs_name, false, true);
    // Made by another run meanwhile: open that one.
    if (!runs.valid() && !(runs = os::open_in_directory(cache, runs_name, true, true)).valid())
        runs = os::open_in_directory(cache, runs_name, false, true);
    return is_own(runs) ? std::move(runs) : os::OwnFile();
}

// Whether the nearest of `path` and its parents that is there is this user's own.
bool nearest_is_own(std::string path)
{
    os::FileStatus status;
    while (!os::file_status(path, status)) {
        const std::size_t slash = path.find_last_of(os::facts.path_separator == '/' ? "/" : "\\/");
        if (slash == std::string::npos || slash == 0)
            return false;
        path.erase(slash);
    }
    return status.owned;
}

// The cache's own directory below `dir`, opened and trusted, or a note why not.
os::OwnFile open_cache_dir(const std::string& dir, bool make, std::string& note)
{
    const std::string path = joined(dir, class_cache_dir_name);
    if (path.find(os::facts.list_separator) != std::string::npos) {
        note = formatted(separator_note, path);
        return os::OwnFile();
    }
    if (!os::program_can_take_path(path)) {
        note = formatted(foreign_name_note, path);
        return os::OwnFile();
    }
    if (make && os::running_as_superuser() && !nearest_is_own(path)) {
        note = formatted(superuser_note, dir);
        return os::OwnFile();
    }
    // A directory named for the cache is made as compilers make theirs;
    // one that is there is taken as it is.
    if (make)
        os::make_private_directories(dir);
    os::OwnFile opened = os::open_own_directory(dir, class_cache_dir_name, make);
    os::FileStatus status;
    if (!opened.valid() || !os::file_status(opened, status) || !status.is_directory || !status.private_to_user) {
        // A dry run that finds no directory yet would have made one.
        os::FileStatus missing;
        if (!make && !opened.valid() && !os::file_status(path, missing))
            return os::OwnFile();
        note = formatted(unusable_dir_note, path);
        return os::OwnFile();
    }
    return opened;
}

}  // namespace

std::string lasting_failure_reason(int status, const std::string& output)
{
    if (status < 0 || std::find(std::begin(ended_from_outside), std::end(ended_from_outside), status) !=
                          std::end(ended_from_outside))
        return std::string();
    for (const char* phrase : transient_phrases) {
        if (output.find(phrase) != std::string::npos)
            return std::string();
    }
    if (status == 0)
        return made_nothing_reason;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < output.size();) {
        std::size_t end = output.find('\n', at);
        end = end == std::string::npos ? output.size() : end;
        std::string line = output.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        at = end + 1;
    }
    std::string reason;
    for (std::size_t i = lines.size() > reason_lines ? lines.size() - reason_lines : 0; i < lines.size(); ++i)
        reason += lines[i] + '\n';
    return reason + formatted(signal_reason, std::to_string(status));
}

int release_major_version(const std::string& release_text)
{
    static const std::string marker = "JAVA_VERSION=\"";
    std::size_t at = release_text.find(marker);
    // JAVA_VERSION_DATE and the like share the prefix: only a line's start counts.
    while (at != std::string::npos && at > 0 && release_text[at - 1] != '\n')
        at = release_text.find(marker, at + 1);
    if (at == std::string::npos)
        return 0;
    const char* version = release_text.c_str() + at + marker.size();
    // Before Java 9 the major version came second: "1.8.0_392".
    if (std::strncmp(version, "1.", 2) == 0)
        version += 2;
    return std::atoi(version);
}

// The major version of the runtime at `jre_dir`, from its release file; 0
// when that cannot be read.
int runtime_version(const std::string& jre_dir)
{
    std::string release;
    os::Failure error;
    return os::read_file_start(joined(jre_dir, "release"), release_read_limit, release, error)
               ? release_major_version(release)
               : 0;
}

// The archive that the runtime's java maps when no other is named.
std::string runtime_archive_path(const std::string& jre_dir)
{
    const std::string jvm_lib = joined(jre_dir, os::facts.jvm_lib_below_jre);
    return jvm_lib.substr(0, jvm_lib.find_last_of("/\\") + 1) + runtime_archive_name;
}

// Whether a run of these options can use the runtime's own archive, where
// there is one.
bool runtime_archive_usable(const std::string& jre_dir, const std::vector<std::string>& option_words)
{
    const std::string archive = runtime_archive_path(jre_dir);
    std::string start;
    os::Failure error;
    os::FileStatus status;
    if (!os::file_status(archive, status))
        return true;
    return os::read_file_start(archive, 1, start, error) &&
           std::find(option_words.begin(), option_words.end(), no_class_pointers_option) == option_words.end();
}

// Whether the archive may hold its classes linked: a runtime that can, and
// no option the JVM would then refuse it for.
bool may_link_classes(const std::string& jre_dir, const std::vector<std::string>& jvm_options)
{
    if (runtime_version(jre_dir) < first_linking_version)
        return false;
    for (const std::string& option : all_option_words(jvm_options)) {
        for (const char* prefix : unlinked_prefixes) {
            if (starts_with(option, prefix))
                return false;
        }
    }
    return true;
}

bool keeps_cache_out(const std::string& option)
{
    // "@file" names a file of options; -Xlog and -verbose:class tell where
    // each class came from.
    if (starts_with(option, "@") || starts_with(option, "-Xshare") || starts_with(option, "-Xlog") ||
        option == "-verbose" || option == "-verbose:class")
        return true;
    const std::string name = xx_name(option);
    for (const char* sharing_name : sharing_names) {
        if (name.find(sharing_name) != std::string::npos)
            return true;
    }
    for (const char* own_output_name : own_output_names) {
        if (name == own_output_name)
            return true;
    }
    return starts_with(name, ahead_of_time_prefix);
}

std::string class_cache_key(const std::string& jre_dir, const std::vector<std::string>& classpath,
                            const std::vector<std::string>& jvm_options)
{
    std::string key = "runtime\n" + jre_dir + '\n';
    add_file(key, joined(jre_dir, "release"));
    add_file(key, joined(jre_dir, os::facts.jvm_lib_below_jre));
    add_file(key, joined(joined(jre_dir, "lib"), "modules"));
    key += "classpath\n";
    for (const std::string& entry : classpath)
        add_file(key, entry);
    key += "options\n";
    for (const std::string& option : jvm_options)
        key += option + '\n';
    for (const char* variable : option_variables) {
        const char* value = std::getenv(variable);
        // Empty is as unset, to java and to the run that makes the archive.
        key += std::string(variable) + (value != nullptr && value[0] != '\0' ? '=' + std::string(value) : "") + '\n';
    }
    return digest(key);
}

void trim_class_cache(const os::OwnFile& dir, const std::string& kept_key, std::uint64_t limit, std::int64_t now)
{
    std::vector<std::string> names;
    if (!os::list_directory(dir, names))
        return;
    std::vector<std::pair<std::int64_t, std::string>> archives;
    std::uint64_t total = 0;
    for (const std::string& name : names) {
        std::string key;
        bool of_process = false;
        os::FileStatus status;
        if (!is_cache_file(name, &key, &of_process) || key == kept_key || !os::entry_status(dir, name, status) ||
            !status.is_regular || !status.private_to_user)
            continue;
        if (ends_with(name, archive_suffix)) {
            // Its record's last change tells when it was last used.
            os::FileStatus record;
            archives.emplace_back(os::entry_status(dir, key + meta_suffix, record) ? record.modified : status.modified,
                                  key);
            total += status.size;
        } else if ((of_process && ends_with(name, list_suffix)) || (!ends_with(name, failed_suffix) && !ends_with(name, meta_suffix) &&
                                  now - status.modified > abandoned_age)) {
            // A list still locked is still written or used; a file of one
            // process that no run holds is of no more use.
            os::OwnFile file = os::open_in_directory(dir, name, false);
            if (file.valid() && os::lock_file(file, false))
                delete_own(dir, name);
        }
    }
    os::FileStatus kept;
    if (os::entry_status(dir, kept_key + archive_suffix, kept))
        total += kept.size;
    std::sort(archives.begin(), archives.end());
    for (const auto& archive : archives) {
        if (total <= limit)
            break;
        os::FileStatus status;
        if (os::entry_status(dir, archive.second + archive_suffix, status))
            total -= std::min(total, status.size);
        delete_own(dir, archive.second + archive_suffix);
        delete_own(dir, archive.second + meta_suffix);
    }
}

ClassCacheUse plan_class_cache(const std::string& dir, const std::string& jre_dir,
                               const std::vector<std::string>& classpath, const std::vector<std::string>& jvm_options,
                               bool dry_run)
{
    ClassCacheUse use;
    const int version = runtime_version(jre_dir);
    if (version < first_supported_version) {
        use.note = formatted(not_supported_note, jre_dir);
        return use;
    }
    const std::vector<std::string> all = all_option_words(jvm_options);
    if (std::any_of(all.begin(), all.end(), keeps_cache_out)) {
        use.note = own_sharing_note;
        return use;
    }
    if (version > last_quiet_archive_version && !runtime_archive_usable(jre_dir, all)) {
        use.note = formatted(runtime_archive_note, runtime_archive_path(jre_dir));
        return use;
    }
    if (!os::standard_streams_open()) {
        use.note = closed_streams_note;
        return use;
    }
    if (os::open_file_limit() < least_open_files) {
        use.note = formatted(few_files_note, std::to_string(least_open_files));
        return use;
    }
    os::OwnFile cache = open_cache_dir(dir, !dry_run, use.note);
    const std::string key = class_cache_key(jre_dir, classpath, jvm_options);
    const std::string list_name = key + list_suffix;
    if (!cache.valid()) {
        // A dry run before the directory exists shows the first run's options.
        if (use.note.empty())
            use.jvm_options = {list_option + joined(joined(dir, class_cache_dir_name), key + jvm_pid_pattern + list_suffix)};
        return use;
    }
    if (!dry_run) {
        os::OwnFile runs = open_runs_file(cache);
        if (runs.valid() && os::mark_in_use(runs))
            use.held.push_back(std::move(runs));
    }
    const std::string archive_name = key + archive_suffix;
    os::FileStatus failed;
    if (os::entry_status(cache, key + failed_suffix, failed)) {
        // Tried again after a while: what failed may have been no input's.
        if (os::current_time() - failed.modified < abandoned_age) {
            const os::OwnFile reason = os::open_in_directory(cache, key + failed_suffix, false);
            use.note = formatted(lasting_failure_note, is_own(reason) ? read_text(reason) : std::string());
            return use;
        }
        if (!dry_run)
            delete_own(cache, key + failed_suffix);
    }
    os::OwnFile archive = os::open_in_directory(cache, archive_name, false, true);
    // A link or anything else by that name: no run could place the archive.
    if (!archive.valid() && exists(cache, archive_name)) {
        use.note = formatted(foreign_file_note, joined(cache.path(), archive_name));
        return use;
    }
    if (archive.valid()) {
        if (!is_own(archive)) {
            use.note = formatted(foreign_file_note, archive.path());
            return use;
        }
        const os::OwnFile record = os::open_in_directory(cache, key + meta_suffix, false);
        if (record.valid() && !is_own(record)) {
            use.note = formatted(foreign_file_note, record.path());
            return use;
        }
        if (record.valid() && matches_record(archive, read_text(record))) {
            // The record's last change tells which archives were used most
            // recently (a change of the archive would set it apart).
            if (!dry_run)
                os::touch_file(record);
            use.jvm_options = {use_option + (dry_run ? archive.path() : os::jvm_path(archive)), silence_option};
            use.held.push_back(std::move(archive));
            return use;
        }
        // Damaged, or a jar of it changed: never handed over; made anew.
        // Without its record it may be one whose run still writes that,
        // holding the list: then the list tells so below.
        archive.close();
        if (dry_run)
            return use;
        if (record.valid() || !held_elsewhere(cache, list_name)) {
            delete_own(cache, archive_name);
            delete_own(cache, key + meta_suffix);
        }
    }
    os::OwnFile list = os::open_in_directory(cache, list_name, false, true);
    if (list.valid()) {
        os::FileStatus status;
        if (!is_own(list) || !os::file_status(list, status)) {
            use.note = formatted(foreign_file_note, list.path());
            return use;
        }
        if (!os::lock_file(list, false)) {
            use.note = formatted(busy_note, list.path());
            return use;
        }
        if (status.size > 0) {
            // A run that could not make the archive is not started on every run.
            if (os::free_disk_space(cache) < class_archive_room) {
                use.note = formatted(failed_note, "too little room on the disk");
                return use;
            }
            // Held locked until this run's JVM ends: the archive's run
            // waits for that, so that it never slows this run down.
            use.note = formatted(job_note, list.path());
            if (!dry_run)
                use.job = key;
            use.held.push_back(std::move(list));
            return use;
        }
        // Left empty by a run that ended before its JVM wrote a class.
        if (dry_run)
            return use;
        list.close();
        delete_own(cache, list_name);
    }
    // The JVM names the list by its process: the tool's JVM writes this
    // run's through a second name of that (see name_class_list), a JVM that
    // the tool starts with the same options a file of its own.
    const std::string by_process = list_option + openable(joined(cache.path(), key + jvm_pid_pattern + list_suffix));
    if (dry_run) {
        use.jvm_options = {by_process};
        return use;
    }
    // The JVM gets a file that this run made and holds locked until the
    // JVM has ended: a later run waits for the list to be whole.
    list = os::open_in_directory(cache, list_name, true, true);
    if (!list.valid()) {
        const int error = list.failure().error;
        use.note = exists(cache, list_name) ? formatted(busy_note, joined(cache.path(), list_name))
                                            : formatted(unmade_note, joined(cache.path(), list_name)) +
                                                  os::error_text(error) + '.';
        return use;
    }
    if (!os::lock_file(list, false)) {
        use.note = formatted(busy_note, joined(cache.path(), list_name));
        return use;
    }
    use.note = formatted(listing_note, list.path());
    use.jvm_options = {by_process};
    use.held.push_back(std::move(list));
    use.listed_key = key;
    use.dir = std::move(cache);
    return use;
}

bool name_class_list(const ClassCacheUse& use, long pid)
{
    if (!use.dir.valid() || use.listed_key.empty())
        return false;
    // One left by an earlier process of this id is of no use.
    const std::string name = pid_name(use.listed_key, pid, list_suffix);
    delete_own(use.dir, name);
    return os::link_in_directory(use.dir, use.listed_key + list_suffix, name);
}

int make_class_archive(const std::string& dir, const std::string& jre_dir, const std::string& java,
                       const std::vector<std::string>& classpath, const std::vector<std::string>& jvm_options,
                       const std::string& key)
{
    os::run_in_background();
    std::string note;
    const os::OwnFile cache = open_cache_dir(dir, false, note);
    if (!cache.valid() || key.size() != key_length || class_cache_key(jre_dir, classpath, jvm_options) != key)
        return 1;
    // The lock on the list: had once the run that started this one has
    // ended, it keeps every other run out until this one is done.
    const os::OwnFile list = os::open_in_directory(cache, key + list_suffix, false, true);
    if (!is_own(list) || !os::lock_file(list, true) || exists(cache, key + archive_suffix) ||
        exists(cache, key + failed_suffix) || os::free_disk_space(cache) < class_archive_room)
        return 1;
    // From here on it leaves files behind: a request to stop (a sweep of
    // build processes, a service stop) ends its JVM, and they go as on any
    // other end, with no mark of failure.
    os::catch_stop_requests();
    for (const char* suffix : {pending_suffix, output_suffix, arguments_suffix, whole_lines_suffix})
        delete_own(cache, key + suffix);
    ArchiveRun run;
    run.java = java;
    run.options = layout_options(jvm_options);
    run.arguments = os::open_in_directory(cache, key + arguments_suffix, true, true);
    run.runs = open_runs_file(cache);
    // The JVM deletes the file it is to write the archive to and makes it
    // anew (read-only): it gets a name of this attempt's own where there is
    // no file (one planted there is left alone, and so is the attempt), and
    // the archive is opened (never through a link, and checked) once made.
    const std::string pending_name = pid_name(key, os::process_id(), pending_suffix);
    delete_own(cache, pending_name);
    if (exists(cache, pending_name))
        return 1;
    const std::string pending_path = openable(joined(cache.path(), pending_name));
    os::OwnFile pending;
    os::OwnFile output = os::open_in_directory(cache, key + output_suffix, true, true);
    std::string arguments;
    std::string classpath_text;
    for (const std::string& entry : classpath)
        classpath_text += (classpath_text.empty() ? "" : std::string(1, os::facts.list_separator)) + openable(entry);
    // By the names the tool's own launch gives java, which the archive must match.
    append_argument_file_word(arguments, "-cp");
    append_argument_file_word(arguments, os::to_child_encoding(classpath_text));
    os::Failure error;
    // A list that a full disk cut short ends inside a line, which the JVM
    // would take for a class or fail on: it gets the whole lines alone.
    const std::string list_text = read_text(list);
    os::OwnFile whole_lines;
    bool ready = run.arguments.valid() && output.valid() && os::write_file(run.arguments.handle(), arguments, error);
    if (ready && !list_text.empty() && list_text.back() != '\n') {
        whole_lines = os::open_in_directory(cache, key + whole_lines_suffix, true, true);
        ready = whole_lines.valid() &&
                os::write_file(whole_lines.handle(), list_text.substr(0, list_text.rfind('\n') + 1), error);
    }
    const os::OwnFile& classes = whole_lines.valid() ? whole_lines : list;
    // Decided while the tool's variables are set: their agents and module
    // options count.
    const bool link_classes = may_link_classes(jre_dir, jvm_options);
    // The tool's variables reach neither JVM (an agent would run, or stop
    // the dump); they are back for the key's second look.
    std::vector<std::pair<const char*, std::string>> saved;
    for (const char* variable : option_variables) {
        const char* value = std::getenv(variable);
        saved.emplace_back(variable, value != nullptr ? value : "");
        os::put_env(variable, "");
    }
    // Why it failed, when it would fail again with the same inputs; a
    // failure of the moment (see lasting_failure_reason) leaves it empty.
    std::string reason;
    std::string output_text;
    std::vector<std::string> dump_options = {"-Xshare:dump", "-XX:SharedClassListFile=" + openable(os::jvm_path(classes)),
                                             use_option + pending_path, "-XX:ParallelGCThreads=1", "-XX:ConcGCThreads=1"};
    if (link_classes)
        dump_options.push_back(linking_option);
    bool made = false;
    if (!ready) {
        // Its own small files could not be written: a failure of the moment.
    } else if (!run.run(dump_options, "", output)) {
        reason = lasting_failure_reason(run.status, read_text(output));
    } else if (!is_own(pending = os::open_in_directory(cache, pending_name, false, true))) {
        reason = made_nothing_reason;
    } else {
        // The trial's output alone, for the jars it names.
        output.close();
        delete_own(cache, key + output_suffix);
        output = os::open_in_directory(cache, key + output_suffix, true, true);
        made = output.valid() &&
               run.run({"-Xshare:on", use_option + openable(os::jvm_path(pending)), "-Xint", "-Xlog:class+path=info"},
                       "-version", output) &&
               !(output_text = read_text(output)).empty();
        if (output.valid() && !made)
            reason = lasting_failure_reason(run.status, read_text(output));
    }
    for (const auto& variable : saved)
        os::put_env(variable.first, variable.second);
    // The jars may have changed while the archive was made.
    const bool current = made && class_cache_key(jre_dir, classpath, jvm_options) == key;
    // The record takes the identity the archive has in place (a rename
    // changes it), as a run opens it there; until it is written, the lock
    // on the list keeps runs from taking the archive for damaged.
    os::FileStatus placed_status;
    const bool placed =
        current && os::rename_in_directory(cache, pending_name, key + archive_suffix) &&
        os::file_status(os::open_in_directory(cache, key + archive_suffix, false), placed_status) &&
        placed_status.size > 0 &&
        write_whole(cache, key, meta_suffix, archive_record(placed_status.identity, reported_jars(output_text, classpath)));
    if (!placed)
        delete_own(cache, key + archive_suffix);
    // A disk that filled meanwhile is a failure of the moment too.
    if (!placed && !reason.empty() && !run.stopped && os::free_disk_space(cache) >= class_archive_room)
        write_new(cache, key + failed_suffix, reason);
    for (const char* suffix : {pending_suffix, output_suffix, arguments_suffix, whole_lines_suffix, list_suffix,
                               record_pending_suffix})
        delete_own(cache, key + suffix);
    delete_own(cache, pending_name);
    delete_process_files(cache, key);
    if (placed)
        trim_class_cache(cache, key, class_cache_size_limit, placed_status.modified);
    return placed ? 0 : 1;
}
