#include "classCache.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>

#include "osLayer.h"

const char class_cache_variable[] = "NATIVE_WRAP_CLASS_CACHE";

namespace {

const char not_supported_note[] =
    "Class cache not used: the runtime at '%s' is older than Java 13 or its release file cannot be read.";
const char no_base_archive_note[] = "Class cache not used: the runtime at '%s' has no class-data archive of its own.";
const char unusable_dir_note[] = "Class cache not used: the directory '%s' cannot be made or another user can change it.";
const char no_room_note[] = "Class cache not used: less than 256 MB left on the disk of '%s'.";
const char own_sharing_note[] = "Class cache not used: the JVM options choose class-data sharing themselves.";

const char use_option[] = "-XX:SharedArchiveFile=";
const char create_option[] = "-XX:ArchiveClassesAtExit=";
// The JVM reports on its archives on standard output: the classes it
// leaves out of a new one, an archive it cannot use. Only these two tag
// sets, and only on standard output, so a user's own -Xlog stays as it was.
const char silence_option[] = "-Xlog:cds=off,cds+dynamic=off";
// The variables whose options java gives the JVM besides its command line.
const char* const option_variables[] = {"JDK_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};
// Options that choose class-data sharing, or options from a file: with
// sharing off, a JVM asked to write an archive ends at once with status 1.
const char* const sharing_options[] = {"-Xshare", "Shared", "ArchiveClasses", "VMOptionsFile", "-XX:Flags", "@"};

const char archive_suffix[] = ".jsa";
const char pending_suffix[] = ".tmp";
// The first four bytes of a dynamic archive (0xf00baba8, little-endian).
// The JVM writes its header last, so a file that starts with them was
// written whole.
const char archive_magic[] = "\xa8\xab\x0b\xf0";
const std::size_t release_read_limit = 65536;
// A pending archive this much older than a new one is left from a run
// that did not end as it should.
const std::int64_t abandoned_age = 24ll * 3600 * 10000000;
const int first_dynamic_archive_version = 13;

std::string joined(const std::string& dir, const std::string& name)
{
    return dir + os::facts.path_separator + name;
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

// One file of the key: its path, size and last change, or that it is missing.
void add_file(std::string& key, const std::string& path)
{
    os::FileStatus status;
    key += path;
    if (os::file_status(path, status))
        key += '|' + std::to_string(status.size) + '|' + std::to_string(status.modified);
    else
        key += "|missing";
    key += '\n';
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

// The path of the runtime's own archive, beside its JVM library.
std::string base_archive(const std::string& jre_dir)
{
    std::string jvm_lib = os::facts.jvm_lib_below_jre;
    return joined(jre_dir, jvm_lib.substr(0, jvm_lib.find_last_of(os::facts.path_separator)) +
                               os::facts.path_separator + "classes.jsa");
}

// Keeps the most recently used archives and deletes pending ones long left.
void trim(const std::string& dir, std::int64_t now)
{
    std::vector<std::string> names;
    if (!os::list_directory(dir, names))
        return;
    std::vector<std::pair<std::int64_t, std::string>> archives;
    for (const std::string& name : names) {
        os::FileStatus status;
        const std::string path = joined(dir, name);
        if (!os::file_status(path, status) || status.is_directory)
            continue;
        if (ends_with(name, archive_suffix))
            archives.emplace_back(status.modified, path);
        else if (ends_with(name, pending_suffix) && now - status.modified > abandoned_age)
            os::delete_file(path);
    }
    std::sort(archives.begin(), archives.end(), std::greater<>());
    for (std::size_t i = kept_class_archives; i < archives.size(); ++i)
        os::delete_file(archives[i].second);
}

// The JVM options and the variables' values, in one text each.
std::vector<std::string> all_options(const std::vector<std::string>& jvm_options)
{
    std::vector<std::string> all = jvm_options;
    for (const char* variable : option_variables) {
        const char* value = std::getenv(variable);
        all.push_back(std::string(variable) + '=' + (value != nullptr ? value : ""));
    }
    return all;
}

bool chooses_sharing(const std::vector<std::string>& options)
{
    for (const std::string& option : options) {
        for (const char* sharing : sharing_options) {
            if (option.find(sharing) != std::string::npos)
                return true;
        }
    }
    return false;
}

}  // namespace

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

std::string class_cache_key(const std::string& jre_dir, const std::vector<std::string>& classpath,
                            const std::vector<std::string>& jvm_options)
{
    std::string key = "runtime\n" + jre_dir + '\n';
    add_file(key, joined(jre_dir, "release"));
    add_file(key, joined(jre_dir, os::facts.jvm_lib_below_jre));
    add_file(key, base_archive(jre_dir));
    key += "classpath\n";
    for (const std::string& entry : classpath)
        add_file(key, entry);
    key += "options\n";
    for (const std::string& option : all_options(jvm_options))
        key += option + '\n';
    return digest(key);
}

ClassCacheUse plan_class_cache(const std::string& dir, const std::string& jre_dir,
                               const std::vector<std::string>& classpath, const std::vector<std::string>& jvm_options)
{
    ClassCacheUse use;
    std::string release;
    int error = 0;
    if (!os::read_file_start(joined(jre_dir, "release"), release_read_limit, release, error) ||
        release_major_version(release) < first_dynamic_archive_version) {
        use.note = formatted(not_supported_note, jre_dir);
        return use;
    }
    if (chooses_sharing(all_options(jvm_options))) {
        use.note = own_sharing_note;
        return use;
    }
    // Without its own archive the JVM refuses a dynamic one with a warning
    // that no log option silences.
    os::FileStatus status;
    if (!os::file_status(base_archive(jre_dir), status)) {
        use.note = formatted(no_base_archive_note, jre_dir);
        return use;
    }
    // The JVM runs what an archive holds: one that another user could
    // have written is never used.
    if (!os::make_private_directory(dir) || !os::file_status(dir, status) || !status.is_directory ||
        !status.private_to_user) {
        use.note = formatted(unusable_dir_note, dir);
        return use;
    }
    const std::string key = class_cache_key(jre_dir, classpath, jvm_options);
    use.archive = joined(dir, key + archive_suffix);
    if (os::file_status(use.archive, status) && !status.is_directory && status.private_to_user && status.size > 0) {
        // Its last change tells which archives are the most recently used.
        os::touch_file(use.archive);
        use.jvm_options = {use_option + use.archive, silence_option};
        return use;
    }
    if (os::free_disk_space(dir) < class_archive_room) {
        use.note = formatted(no_room_note, dir);
        return use;
    }
    // A name of this run's own: parallel first runs never write one file.
    use.pending_archive = joined(dir, key + '.' + std::to_string(os::process_id()) + pending_suffix);
    use.jvm_options = {create_option + use.pending_archive, silence_option};
    return use;
}

void finish_class_cache(const ClassCacheUse& use)
{
    if (use.pending_archive.empty())
        return;
    std::string head;
    int error = 0;
    const bool whole = os::read_file_start(use.pending_archive, 4, head, error) && head == archive_magic;
    if (!whole || !os::rename_file(use.pending_archive, use.archive)) {
        os::delete_file(use.pending_archive);
        return;
    }
    os::FileStatus status;
    if (os::file_status(use.archive, status))
        trim(use.archive.substr(0, use.archive.find_last_of(os::facts.path_separator)), status.modified);
}
