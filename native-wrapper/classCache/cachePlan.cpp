// What one launch gets from the cache: the archive of its key, the list of
// its classes to write, or nothing, with a note why.
#include <algorithm>
#include <utility>

#include "classCache/cacheKey.h"
#include "message.h"
#include "classCache/cacheStore.h"
#include "classCache/classCache.h"
#include "vlkConfig.h"

const char class_cache_variable[] = "NATIVE_WRAP_CLASS_CACHE";
const char class_cache_job_variable[] = "NATIVE_WRAP_CLASS_CACHE_JOB";

namespace class_cache {

namespace {

// The JVM reports on its archive on standard output (a class path that
// does not match, for one): silenced, only on standard output. A launch
// whose own options log anything of class data is kept out of the cache.
const char silence_option[] = "-Xlog:cds=off,cds+dynamic=off";
const int first_supported_version = 13;
// The runtime's own archive, beside its JVM. Up to Java 17 a run that
// cannot use it shares nothing, silently; later runtimes warn, which the
// cache's own archive would keep quiet. They cannot use it when it is
// unreadable or when the run has no compressed class pointers (the archive
// is made with them).
const char runtime_archive_name[] = "classes.jsa";
const int last_quiet_archive_version = 17;
const char no_class_pointers_option[] = "-XX:-UseCompressedClassPointers";
// The JVM raises its limit of open files to the hard limit; below this one
// the descriptors the cache keeps open could be those a tool lacks.
const std::uint64_t least_open_files = 256;

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

// Why a launch with this runtime and these options, in this process, gets
// nothing from the cache wherever it lies; empty when it may.
std::string reason_to_stay_out(const std::string& jre_dir, const std::vector<std::string>& jvm_options)
{
    const int version = runtime_version(jre_dir);
    if (version < first_supported_version)
        return formatted(msg::not_supported_note, jre_dir);
    const std::vector<std::string> all = all_option_words(jvm_options);
    const std::string keeping_out = option_keeping_cache_out(jvm_options);
    if (!keeping_out.empty())
        return formatted(msg::own_sharing_note, keeping_out);
    if (version > last_quiet_archive_version && !runtime_archive_usable(jre_dir, all))
        return formatted(msg::runtime_archive_note, runtime_archive_path(jre_dir));
    if (!os::standard_streams_open())
        return msg::closed_streams_note;
    if (os::open_file_limit() < least_open_files)
        return formatted(msg::few_files_note, std::to_string(least_open_files));
    return std::string();
}

// One launch's look into the cache's own directory, for the key of its inputs.
struct Plan {
    os::OwnFile cache;
    std::string key;
    bool dry_run;
    std::string discarded;  // why an archive of the key was found unfit, for the note
    bool young = false;     // the archive handed over is young (see YoungArchive)
};

// Each step below decides the launch's use of the cache, and returns true,
// or leaves it to the next step.

// A mark of a failed attempt keeps the key out for a day.
bool failed_recently(const Plan& plan, ClassCacheUse& use)
{
    os::FileStatus failed;
    if (!os::entry_status(plan.cache, plan.key + failed_suffix, failed))
        return false;
    // Tried again after a while: what failed may have been no input's.
    // One dated in the future (a clock set back) is as old as a day.
    const std::int64_t age = os::current_time() - failed.modified;
    if (age >= 0 && age < abandoned_age) {
        const os::OwnFile reason = os::open_in_directory(plan.cache, plan.key + failed_suffix, false);
        use.note = formatted(msg::lasting_failure_note, is_own(reason) ? read_text(reason) : std::string());
        return true;
    }
    if (!plan.dry_run)
        delete_own(plan.cache, plan.key + failed_suffix);
    return false;
}

// The key's archive, handed over when it is what its record says (a
// restored or copied one once its contents are found the same, with the
// record renewed); one that is not is deleted, and the plan says why.
bool plan_archive(Plan& plan, ClassCacheUse& use)
{
    const os::OwnFile& cache = plan.cache;
    const std::string archive_name = plan.key + archive_suffix, list_name = plan.key + list_suffix;
    os::OwnFile archive = os::open_in_directory(cache, archive_name, false, true);
    // A link or anything else by that name: no run could place the archive.
    if (!archive.valid() && exists(cache, archive_name)) {
        use.note = formatted(msg::foreign_file_note, joined(cache.path(), archive_name));
        return true;
    }
    if (!archive.valid())
        return false;
    if (!is_own(archive)) {
        use.note = formatted(msg::foreign_file_note, archive.path());
        return true;
    }
    os::OwnFile record = os::open_in_directory(cache, plan.key + meta_suffix, false);
    if (record.valid() && !is_own(record)) {
        use.note = formatted(msg::foreign_file_note, record.path());
        return true;
    }
    const RecordCheck check = record.valid() ? check_record(archive, read_text(record)) : RecordCheck();
    if (check.holds) {
        // The record's last change tells which archives were used most
        // recently (a change of the archive would set it apart).
        if (!plan.dry_run && check.renewed.empty())
            os::touch_file(record);
        record.close();
        if (!plan.dry_run && !check.renewed.empty())
            write_whole(cache, plan.key, meta_suffix, check.renewed);
        use.jvm_options = {use_option + (plan.dry_run ? archive.path() : os::jvm_path(archive)), silence_option};
        use.held.push_back(std::move(archive));
        plan.young = is_own(os::open_in_directory(cache, plan.key + young_suffix, false));
        return true;
    }
    // Damaged, or a file of it changed: never handed over; made anew.
    // Without its record, or with that of the one it replaces, it may be
    // one whose run still writes the record, holding the list: then the
    // list tells so below.
    archive.close();
    if (!held_elsewhere(cache, list_name)) {
        const std::string changed =
            check.changed.empty() ? joined(cache.path(), plan.key + meta_suffix) : check.changed;
        plan.discarded = formatted(msg::discarded_note, changed);
        if (!plan.dry_run) {
            for (const char* suffix : {archive_suffix, meta_suffix, young_suffix})
                delete_own(cache, plan.key + suffix);
        }
    }
    return false;
}

// A list of the key's classes that is there: a complete one has the
// archive made in the background, one in use is left alone, an empty one
// is deleted.
bool plan_existing_list(const Plan& plan, ClassCacheUse& use)
{
    const os::OwnFile& cache = plan.cache;
    const std::string list_name = plan.key + list_suffix;
    os::OwnFile list = os::open_in_directory(cache, list_name, false, true);
    if (!list.valid())
        return false;
    os::FileStatus status;
    if (!is_own(list) || !os::file_status(list, status)) {
        use.note = formatted(msg::foreign_file_note, list.path());
        return true;
    }
    if (!os::lock_file(list, false)) {
        use.note = formatted(msg::busy_note, list.path());
        return true;
    }
    if (status.size > 0) {
        // A run that could not make the archive is not started on every run.
        if (os::free_disk_space(cache) < class_archive_room) {
            use.note = formatted(msg::failed_note, "too little room on the disk");
            return true;
        }
        // Held locked until this run's JVM ends: the archive's run
        // waits for that, so that it never slows this run down.
        use.note = formatted(msg::job_note, list.path());
        if (!plan.dry_run)
            use.job = plan.key;
        use.held.push_back(std::move(list));
        return true;
    }
    // Left empty by a run that ended before its JVM wrote a class.
    if (plan.dry_run)
        return true;
    list.close();
    delete_own(cache, list_name);
    return false;
}

// A new list of the key's classes, which this launch's JVM writes.
void plan_new_list(Plan& plan, ClassCacheUse& use)
{
    const os::OwnFile& cache = plan.cache;
    const std::string list_name = plan.key + list_suffix;
    // The JVM names the list by its process: the tool's JVM writes this
    // run's through a second name of that (see name_class_list), a JVM that
    // the tool starts with the same options a file of its own.
    const std::string by_process =
        list_option + openable(joined(cache.path(), plan.key + jvm_pid_pattern + list_suffix));
    if (plan.dry_run) {
        use.jvm_options = {by_process};
        return;
    }
    // The JVM gets a file that this run made and holds locked until the
    // JVM has ended: a later run waits for the list to be whole.
    os::OwnFile list = os::open_in_directory(cache, list_name, true, true);
    if (!list.valid()) {
        const int error = list.failure().error;
        use.note = exists(cache, list_name) ? formatted(msg::busy_note, joined(cache.path(), list_name))
                                            : formatted(msg::unmade_note, joined(cache.path(), list_name)) +
                                                  os::error_text(error) + '.';
        return;
    }
    if (!os::lock_file(list, false)) {
        use.note = formatted(msg::busy_note, joined(cache.path(), list_name));
        return;
    }
    use.note = formatted(msg::listing_note, list.path());
    use.jvm_options = {by_process};
    use.held.push_back(std::move(list));
    use.listed_key = plan.key;
    use.dir = std::move(plan.cache);
}

// A run that maps a young archive lists the classes it loads as well, or
// has the archive made again from a complete list (see YoungArchive); one
// that can do neither only maps it, and says nothing of the list.
void plan_young_list(Plan& plan, ClassCacheUse& use)
{
    ClassCacheUse listing;
    if (!plan_existing_list(plan, listing))
        plan_new_list(plan, listing);
    if (listing.held.empty() && listing.jvm_options.empty())
        return;
    use.jvm_options.insert(use.jvm_options.end(), listing.jvm_options.begin(), listing.jvm_options.end());
    for (os::OwnFile& file : listing.held)
        use.held.push_back(std::move(file));
    use.job = listing.job;
    use.note = listing.note;
    use.listed_key = listing.listed_key;
    use.dir = std::move(listing.dir);
}

}  // namespace

}  // namespace class_cache

ClassCacheUse plan_class_cache(const std::string& dir, const std::string& jre_dir,
                               const std::vector<std::string>& classpath, const std::vector<std::string>& jvm_options,
                               bool dry_run)
{
    using namespace class_cache;
    ClassCacheUse use;
    use.note = reason_to_stay_out(jre_dir, jvm_options);
    if (!use.note.empty())
        return use;
    Plan plan{open_cache_dir(dir, !dry_run, use.note), class_cache_key(jre_dir, classpath, jvm_options), dry_run,
              std::string()};
    if (!plan.cache.valid()) {
        // A dry run before the directory exists shows the first run's options.
        if (use.note.empty())
            use.jvm_options = {list_option + joined(class_cache_dir(dir), plan.key + jvm_pid_pattern + list_suffix)};
        return use;
    }
    if (!dry_run) {
        os::OwnFile runs = open_runs_file(plan.cache);
        if (runs.valid() && os::mark_in_use(runs))
            use.held.push_back(std::move(runs));
    }
    if (!failed_recently(plan, use)) {
        if (plan_archive(plan, use)) {
            if (plan.young)
                plan_young_list(plan, use);
        } else if (!plan_existing_list(plan, use)) {
            plan_new_list(plan, use);
        }
    }
    if (!plan.discarded.empty())
        use.note = plan.discarded + (use.note.empty() ? "" : '\n' + use.note);
    return use;
}

bool name_class_list(const ClassCacheUse& use, long pid)
{
    using namespace class_cache;
    if (!use.dir.valid() || use.listed_key.empty())
        return false;
    // One left by an earlier process of this id is of no use.
    const std::string name = pid_name(use.listed_key, pid, list_suffix);
    delete_own(use.dir, name);
    return os::link_in_directory(use.dir, use.listed_key + list_suffix, name);
}
