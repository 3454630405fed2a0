#include "classCache/cacheStore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "message.h"
#include "classCache/classCache.h"

namespace class_cache {

namespace {

// The cache's own directory below the one the variable names.
const char class_cache_dir_name[] = "brumlet-classes";
const char* const key_suffixes[] = {archive_suffix,   meta_suffix,      list_suffix,           failed_suffix,
                                    pending_suffix,   output_suffix,    arguments_suffix,      record_pending_suffix,
                                    whole_lines_suffix, young_suffix};
// A file of one process: KEY.pidN.list and KEY.pidN.tmp (see pid_name).
const char pid_infix[] = ".pid";
// The file of the runs' marks (see open_runs_file).
const char runs_name[] = "runs.lock";

bool ends_with(const std::string& text, const char* suffix)
{
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The nearest of `path` and its parents that is there, with its status;
// empty when none is.
std::string nearest_there(std::string path, os::FileStatus& status)
{
    while (!os::file_status(path, status)) {
        const std::size_t slash = path.find_last_of(os::facts.path_separator == '/' ? "/" : "\\/");
        if (slash == std::string::npos || slash == 0)
            return std::string();
        path.erase(slash);
    }
    return path;
}

// Whether the nearest of `path` and its parents that is there is this user's own.
bool nearest_is_own(const std::string& path)
{
    os::FileStatus status;
    return !nearest_there(path, status).empty() && status.owned;
}

// Whether a run could make the missing directory `path`, as far as can be
// told without making anything: the nearest of its parents that is there is
// a directory this user may make entries in; false, with why in `failure`
// where the system says, when not.
bool could_be_made(const std::string& path, os::Failure& failure)
{
    os::FileStatus status;
    const std::string nearest = nearest_there(path, status);
    return !nearest.empty() && status.is_directory && os::may_add_entries(nearest, failure);
}

// The process id in the name of a file of one process (see pid_name); 0
// when there is none.
long process_of(const std::string& name)
{
    const std::size_t at = name.find(pid_infix);
    return at == std::string::npos ? 0 : std::strtol(name.c_str() + at + std::strlen(pid_infix), nullptr, 10);
}

}  // namespace

std::string joined(const std::string& dir, const std::string& name)
{
    return dir + os::facts.path_separator + name;
}

std::string openable(std::string path)
{
    os::path_for_child(path);
    return path;
}

std::string pid_name(const std::string& key, long pid, const char* suffix)
{
    return key + pid_infix + std::to_string(pid) + suffix;
}

}  // namespace class_cache

bool is_class_cache_key(const std::string& text)
{
    return text.size() == class_cache::key_length && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

namespace class_cache {

bool is_cache_file(const std::string& name, std::string* key, bool* of_process)
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

bool is_own(const os::OwnFile& file)
{
    os::FileStatus status;
    return file.valid() && os::file_status(file, status) && status.is_regular && status.private_to_user;
}

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

bool write_whole(const os::OwnFile& dir, const std::string& key, const char* suffix, const std::string& text)
{
    const std::string pending = key + record_pending_suffix;
    delete_own(dir, pending);
    os::OwnFile file = os::open_in_directory(dir, pending, true);
    os::Failure error;
    return file.valid() && os::write_file(file.handle(), text, error) &&
           os::rename_in_directory(dir, pending, key + suffix);
}

bool write_new(const os::OwnFile& dir, const std::string& name, const std::string& text)
{
    delete_own(dir, name);
    os::OwnFile file = os::open_in_directory(dir, name, true);
    os::Failure error;
    return file.valid() && os::write_file(file.handle(), text, error);
}

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

bool held_elsewhere(const os::OwnFile& dir, const std::string& name)
{
    const os::OwnFile file = os::open_in_directory(dir, name, false);
    return file.valid() && !os::lock_file(file, false);
}

os::OwnFile open_runs_file(const os::OwnFile& cache)
{
    os::OwnFile runs = os::open_in_directory(cache, runs_name, false, true);
    // Made by another run meanwhile: open that one.
    if (!runs.valid() && !(runs = os::open_in_directory(cache, runs_name, true, true)).valid())
        runs = os::open_in_directory(cache, runs_name, false, true);
    return is_own(runs) ? std::move(runs) : os::OwnFile();
}

os::OwnFile open_cache_dir(const std::string& dir, bool make, std::string& note)
{
    const std::string path = class_cache_dir(dir);
    if (path.find(os::facts.list_separator) != std::string::npos) {
        note = formatted(msg::separator_note, path);
        return os::OwnFile();
    }
    if (!os::program_can_take_path(path)) {
        note = formatted(msg::foreign_name_note, path);
        return os::OwnFile();
    }
    if (os::running_as_superuser() && !nearest_is_own(path)) {
        note = formatted(msg::superuser_note, dir);
        return os::OwnFile();
    }
    // A directory named for the cache is made as compilers make theirs;
    // one that is there is taken as it is.
    if (make)
        os::make_private_directories(dir);
    os::OwnFile opened = os::open_own_directory(dir, class_cache_dir_name, make);
    os::FileStatus status;
    if (!opened.valid() || !os::file_status(opened, status) || !status.is_directory || !status.private_to_user) {
        // A dry run that finds no directory yet would have made one, where
        // it could.
        os::FileStatus missing;
        os::Failure unmade = opened.failure();
        if (!make && !opened.valid() && !os::file_status(path, missing) && could_be_made(path, unmade))
            return os::OwnFile();
        note = opened.valid() ? formatted(msg::unusable_dir_note, path)
                              : formatted(msg::unopened_dir_note, path) + os::error_text(unmade) + '.';
        return os::OwnFile();
    }
    // Java gets paths in it, which a directory above that another user
    // re-points would send elsewhere; where links led, its real path may
    // hold the separator.
    const std::string unsafe_parent = os::parent_others_may_change(opened);
    if (!unsafe_parent.empty()) {
        note = formatted(msg::unsafe_parent_note, unsafe_parent);
        return os::OwnFile();
    }
    if (opened.path().find(os::facts.list_separator) != std::string::npos) {
        note = formatted(msg::separator_note, opened.path());
        return os::OwnFile();
    }
    return opened;
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
        // Every file of the cache that stays counts against the limit, not
        // only archives (a record, of a few lines, goes with its archive).
        if (!ends_with(name, meta_suffix))
            total += status.size;
        const auto deleted = [&] {
            delete_own(dir, name);
            if (!exists(dir, name))
                total -= status.size;
        };
        if (ends_with(name, archive_suffix)) {
            // Its record's last change tells when it was last used.
            os::FileStatus record;
            archives.emplace_back(os::entry_status(dir, key + meta_suffix, record) ? record.modified : status.modified,
                                  key);
        } else if (of_process && ends_with(name, pending_suffix)) {
            // The archive a run that has ended was making (see pid_name).
            if (!os::process_alive(process_of(name)))
                deleted();
        } else if ((of_process && ends_with(name, list_suffix)) ||
                   (!ends_with(name, failed_suffix) && !ends_with(name, meta_suffix) &&
                    now - status.modified > abandoned_age)) {
            // A list still locked is still written or used; a file of one
            // process that no run holds is of no more use.
            os::OwnFile file = os::open_in_directory(dir, name, false);
            if (file.valid() && os::lock_file(file, false))
                deleted();
        }
    }
    for (const char* suffix : key_suffixes) {
        os::FileStatus kept;
        if (suffix != meta_suffix && os::entry_status(dir, kept_key + suffix, kept))
            total += kept.size;
    }
    std::sort(archives.begin(), archives.end());
    for (const auto& archive : archives) {
        if (total <= limit)
            break;
        os::FileStatus status;
        if (os::entry_status(dir, archive.second + archive_suffix, status))
            total -= std::min(total, status.size);
        if (os::entry_status(dir, archive.second + young_suffix, status))
            total -= std::min(total, status.size);
        for (const char* suffix : {archive_suffix, meta_suffix, young_suffix})
            delete_own(dir, archive.second + suffix);
    }
}

}  // namespace class_cache

std::string class_cache_dir(const std::string& dir)
{
    return class_cache::joined(dir, class_cache::class_cache_dir_name);
}
