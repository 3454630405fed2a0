// The detached run that makes the archive of a key: a dump of the listed
// classes by a JVM of its own, paused while any run of the cache lives, a
// trial start of what it made, and the archive moved into place with its
// record.
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#include "classCache/cacheKey.h"
#include "message.h"
#include "classCache/cacheStore.h"
#include "classCache/classCache.h"
#include "classCache/classList.h"
#include "classCache/jvmOutput.h"
#include "launch/commandText.h"
#include "vlkConfig.h"

const char class_cache_prepare_variable[] = "NATIVE_WRAP_CLASS_CACHE_PREPARE";
int class_archive_longest_pause_ms = 5 * 60 * 1000;

namespace class_cache {

namespace {

// From this version on an archive may hold its classes linked ahead of
// time, which spares each run the linking.
const int first_linking_version = 24;
const char linking_option[] = "-XX:+AOTClassLinking";
// The JVM refuses an archive of linked classes to a run whose module
// options or agents its making lacked: the beginnings of such option words
// ("--add-opens", "--enable-native-access", "-p", their properties).
const char* const unlinked_prefixes[] = {"--", "-p", "-agent", "-javaagent", "-Djdk.module."};
// Options whose output an archive of the cache would change: the trace of
// method handles' linking names the classes an archive holds (JDK 17 and
// 25 alike), and with a system class loader JDK 25 warns on standard
// output that it takes no archived class of the class path, which the
// cache's silenced logs would hide. Such a key steps aside.
const char* const unhidden_prefixes[] = {"-Djava.lang.invoke.MethodHandle.TRACE_METHOD_LINKAGE",
                                         "-Djava.system.class.loader="};
// Of the run's options, those that the trial and the dump leave out: they
// would run the tool's code (agents, a class loader, a security manager, a
// file system provider), show a window, open a port, or write or run what
// the tool's own runs write or run (a log, a recording, a command).
const char* const own_code_prefixes[] = {"-javaagent",
                                         "-agentlib",
                                         "-agentpath",
                                         "-Xrun",
                                         "-splash:",
                                         "-Xloggc:",
                                         "-Djava.system.class.loader=",
                                         "-Djava.security.manager",
                                         "-Djava.nio.file.spi.DefaultFileSystemProvider=",
                                         "-Dcom.sun.management.",
                                         "-Djdk.internal.lambda.dumpProxyClasses",
                                         "-XX:+ManagementServer",
                                         "-XX:OnError=",
                                         "-XX:OnOutOfMemoryError=",
                                         "-XX:LogFile=",
                                         "-XX:StartFlightRecording",
                                         "-XX:FlightRecorderOptions",
                                         "-XX:PerfDataSaveFile=",
                                         "-XX:+PerfDataSaveToFile"};
// The dump leaves out the module options too: the JVM refuses some of them
// there, and the trial checks the archive with them.
const char* const module_prefixes[] = {"--", "-p", "-Djdk.module."};
// What the trial's JVM says when it maps the archive but takes none of the
// class path's classes from it (JDK 17 as JDK 25): it would only cost the
// runs. (One it cannot map at all ends the trial with -Xshare:on.)
const char* const refusal_marks[] = {"non-system classes are disabled"};
// A new JVM of the background run starts only, and a paused one lives on
// only, while the user and the cgroups leave this much room, so that the
// tool that pauses it never lacks it.
const std::uint64_t least_threads = 128;
const std::uint64_t least_memory = 512ull << 20;
const int headroom_poll_ms = 500;

// How often the run that makes an archive looks for runs, while its JVM
// works and while it is paused.
const int busy_poll_ms = 20;
const int paused_poll_ms = 100;

bool starts_with_any(const std::string& option, const char* const* prefixes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (option.compare(0, std::strlen(prefixes[i]), prefixes[i]) == 0)
            return true;
    }
    return false;
}

// The run's options (of the command line and of java's variables) that the
// trial gets, and of them those the dump gets (`for_dump`).
std::vector<std::string> run_options(const std::vector<std::string>& jvm_options, bool for_dump)
{
    std::vector<std::string> kept;
    for (const std::string& option : all_option_words(jvm_options)) {
        if (!starts_with_any(option, own_code_prefixes, std::size(own_code_prefixes)) &&
            !(for_dump && starts_with_any(option, module_prefixes, std::size(module_prefixes))))
            kept.push_back(option);
    }
    return kept;
}

// The first of the run's options whose output an archive would change (see
// unhidden_prefixes); empty when there is none.
std::string unhidden_option(const std::vector<std::string>& jvm_options)
{
    for (const std::string& option : all_option_words(jvm_options)) {
        if (starts_with_any(option, unhidden_prefixes, std::size(unhidden_prefixes)))
            return option.substr(0, option.find('='));
    }
    return std::string();
}


// Whether the archive may hold its classes linked: a runtime that can, and
// no option the JVM would then refuse it for.
bool may_link_classes(const std::string& jre_dir, const std::vector<std::string>& jvm_options)
{
    if (runtime_version(jre_dir) < first_linking_version)
        return false;
    for (const std::string& option : all_option_words(jvm_options)) {
        if (starts_with_any(option, unlinked_prefixes, std::size(unlinked_prefixes)))
            return false;
    }
    return true;
}

// The JVM options that the trial and the archive's JVM get besides their
// own, and an argument file with the class path in `dir`.
struct ArchiveRun {
    os::OwnFile arguments;
    os::OwnFile runs;  // the marks of the runs that use the cache
    std::string java;
    std::vector<std::string> options;  // the run's own, after the JVM's own options
    std::chrono::steady_clock::duration paused_for{};  // in all, of this run's JVMs
    int status = -1;       // the last JVM's exit status; -1: not started or not waited for
    bool stopped = false;  // this process was asked to stop: the JVM was ended
    bool background = true;  // its JVMs at the lowest priority (see make_class_archive's `foreground`)

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
        // Nothing of its reaches the caller of a preparing run.
        launch.stderr_to_stdout = true;
        // At the lowest priority, holding none of this run's files (held in
        // it, they could not be deleted while it lives) unless jvm_path may
        // name them by descriptor.
        launch.background = background;
        launch.inherit_all = os::facts.jvm_paths_need_inheritance;
        // The tool's option variables reach no JVM of this run (an agent
        // would run, or stop the dump).
        for (const char* variable : option_variables)
            launch.environment.emplace_back(variable, "");
        // A request to stop reaches this process, which ends the JVM (even
        // a paused one) and cleans up.
        launch.pass_signals = false;
        status = -1;
        if (os::stop_request() != 0 || (background && !room_for_class_archive()) || !child.start(command, launch))
            return false;
        return wait_pausing(child) && status == 0;
    }

    // Waits for the started JVM to end, with its status in `status`: false
    // when a request to stop came, which ends it, or it cannot be waited for
    // (`status` -1).
    //
    // Even at the lowest priority this JVM slows a tool that starts beside
    // it (they share the processors' caches and memory): it is paused while
    // any run of the cache lives, up to the longest pause in all, timed by
    // the clock from each asking (a pause that stopped only some of its
    // threads holds the JVM as well).
    bool wait_pausing(os::Child& child)
    {
        using clock = std::chrono::steady_clock;
        const clock::duration longest = std::chrono::milliseconds(class_archive_longest_pause_ms);
        bool paused = false;
        clock::time_point paused_at, room_seen = clock::now();
        os::Child::State state = os::Child::State::running;
        while (state == os::Child::State::running) {
            const clock::time_point now = clock::now();
            // A tool that starts beside it must have the threads and the
            // memory it holds: it ends, to be tried again by a later run.
            const bool look_at_room = now - room_seen >= std::chrono::milliseconds(headroom_poll_ms);
            if (look_at_room)
                room_seen = now;
            const bool crowding = background && look_at_room && !room_for_class_archive();
            if (os::stop_request() != 0 || crowding) {
                stopped = os::stop_request() != 0;
                child.end();
                child.wait(status);
                status = -1;
                return false;
            }
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
        return state == os::Child::State::ended;
    }
};

// Whether this run may make the archive of `key`: the list, which it
// locks for the whole attempt, is this user's own, no mark of failure is
// there, and the disk has room.
bool may_make(const os::OwnFile& cache, const std::string& key, const os::OwnFile& list)
{
    return is_own(list) && os::lock_file(list, true) && !exists(cache, key + failed_suffix) &&
           os::free_disk_space(cache) >= class_archive_room;
}

// The state of the young archive of `key` (see YoungArchive); false when
// it has none.
bool read_young(const os::OwnFile& cache, const std::string& key, YoungArchive& young)
{
    const os::OwnFile file = os::open_in_directory(cache, key + young_suffix, false);
    return is_own(file) && read_young_archive(read_text(file), young);
}

// Keeps `young` as the state of the archive of `key`, or lets it settle
// when its generations or its quiet looks are all had.
void keep_young(const os::OwnFile& cache, const std::string& key, const YoungArchive& young)
{
    if (young.generation >= last_generation || young.quiet >= quiet_looks ||
        !write_whole(cache, key, young_suffix, young_archive_text(young)))
        delete_own(cache, key + young_suffix);
}

// Whether the trial's `output` tells that the JVM did not take the archive whole.
bool refused(const std::string& output)
{
    for (const char* mark : refusal_marks) {
        if (output.find(mark) != std::string::npos)
            return true;
    }
    return false;
}

// What the dump and the trial start gave.
struct Outcome {
    bool made = false;  // an archive, which the trial start took
    // Why it failed, when it would fail again with the same inputs; a
    // failure of the moment (see lasting_failure_reason) leaves it empty.
    std::string reason;
    std::string output_text;  // the trial's output
};

// One attempt at the archive of a key: the files it makes in the cache's
// own directory, and the JVMs it runs.
struct Attempt {
    Attempt(const os::OwnFile& dir, const std::string& of_key, bool again)
        : cache(dir), key(of_key), remaking(again)
    {
    }

    const os::OwnFile& cache;
    const std::string& key;
    const bool remaking;  // a young archive is there, which it is to replace
    ArchiveRun run;
    std::string pending_name;  // the file the dump writes, of this process alone (see pid_name)
    os::OwnFile pending;       // that file, once made
    os::OwnFile output;        // the JVMs' standard output
    os::OwnFile whole_lines;   // the list without a line cut short, where it was cut

    // Opens the attempt's files, those of an earlier one deleted first;
    // false when the dump cannot be given a file of its own.
    bool open(const std::string& java, const std::vector<std::string>& jvm_options)
    {
        for (const char* suffix : {pending_suffix, output_suffix, arguments_suffix, whole_lines_suffix})
            delete_own(cache, key + suffix);
        run.java = java;
        run.options = run_options(jvm_options, true);
        run.arguments = os::open_in_directory(cache, key + arguments_suffix, true, true);
        run.runs = open_runs_file(cache);
        // The JVM deletes the file it is to write the archive to and makes it
        // anew (read-only): it gets a name of this attempt's own where there is
        // no file (one planted there is left alone, and so is the attempt), and
        // the archive is opened (never through a link, and checked) once made.
        pending_name = pid_name(key, os::process_id(), pending_suffix);
        delete_own(cache, pending_name);
        if (exists(cache, pending_name))
            return false;
        output = os::open_in_directory(cache, key + output_suffix, true, true);
        return true;
    }

    // Makes ready for the archive to be made once more: the dump's file and
    // the JVMs' output of the first making go.
    void again()
    {
        pending.close();
        delete_own(cache, pending_name);
        output.close();
        delete_own(cache, key + output_suffix);
        output = os::open_in_directory(cache, key + output_suffix, true, true);
    }

    // Writes the JVMs' argument file, with the class path, and the
    // `classes` to dump where they are not the `list_text` as it is; false
    // when they cannot be written.
    bool write_inputs(const std::vector<std::string>& classpath, const std::string& list_text,
                      const std::string& classes)
    {
        std::string arguments;
        std::string classpath_text;
        for (const std::string& entry : classpath)
            classpath_text +=
                (classpath_text.empty() ? "" : std::string(1, os::facts.list_separator)) + openable(entry);
        // By the names the tool's own launch gives java, which the archive must match.
        append_argument_file_word(arguments, "-cp");
        append_argument_file_word(arguments, os::to_child_encoding(classpath_text));
        os::Failure error;
        bool ready =
            run.arguments.valid() && output.valid() && os::write_file(run.arguments.handle(), arguments, error);
        if (ready && classes != list_text) {
            whole_lines = os::open_in_directory(cache, key + whole_lines_suffix, true, true);
            ready = whole_lines.valid() && os::write_file(whole_lines.handle(), classes, error);
        }
        return ready;
    }

    // When `ready`, dumps the `classes` into the pending file, then starts
    // a JVM on what it made, which tells the jars it checks the archive with.
    Outcome dump_and_try(bool ready, const os::OwnFile& classes, bool link_classes,
                         const std::vector<std::string>& trial_options, const std::string& unhidden)
    {
        Outcome outcome;
        if (!unhidden.empty()) {
            outcome.reason = formatted(msg::unhidden_reason, unhidden);
            return outcome;
        }
        const std::string pending_path = openable(joined(cache.path(), pending_name));
        // Few threads: one of each collector's, the compilers of the first
        // tier alone (no count of them: a run's own tiers could make it one
        // the JVM refuses).
        std::vector<std::string> dump_options = {"-Xshare:dump",
                                                 "-XX:SharedClassListFile=" + openable(os::jvm_path(classes)),
                                                 use_option + pending_path,
                                                 "-XX:ParallelGCThreads=1",
                                                 "-XX:ConcGCThreads=1",
                                                 "-XX:TieredStopAtLevel=1"};
        if (link_classes)
            dump_options.push_back(linking_option);
        if (!ready) {
            // Its own small files could not be written: a failure of the moment.
        } else if (!run.run(dump_options, "", output)) {
            outcome.reason = lasting_failure_reason(run.status, read_text(output));
        } else if (!is_own(pending = os::open_in_directory(cache, pending_name, false, true))) {
            outcome.reason = msg::made_nothing_reason;
        } else {
            // The trial's output alone, for the jars it names.
            output.close();
            delete_own(cache, key + output_suffix);
            output = os::open_in_directory(cache, key + output_suffix, true, true);
            // With the run's own options, module options too: an archive the
            // JVM refuses for them, or takes only in part, would cost every run.
            run.options = trial_options;
            const std::vector<std::string> own = {"-Xshare:on", use_option + openable(os::jvm_path(pending)), "-Xint",
                                                  "-Xlog:class+path=info"};
            outcome.made = output.valid() && run.run(own, "-version", output) &&
                           !(outcome.output_text = read_text(output)).empty();
            if (output.valid() && !outcome.made)
                outcome.reason = lasting_failure_reason(run.status, read_text(output));
            if (outcome.made && refused(outcome.output_text)) {
                outcome.made = false;
                outcome.reason = lasting_failure_reason(1, outcome.output_text);
            }
        }
        return outcome;
    }

    // Moves the archive the dump made into place, with its record of the
    // `files` it was made from; `placed` gets its status there. False when
    // it cannot be placed whole.
    bool place(const std::vector<Vouched>& files, os::FileStatus& placed)
    {
        // The record takes the identity the archive has in place (a rename
        // changes it), as a run opens it there; until it is written, the lock
        // on the list keeps runs from taking the archive for damaged.
        if (!os::rename_in_directory(cache, pending_name, key + archive_suffix))
            return false;
        const os::OwnFile archive = os::open_in_directory(cache, key + archive_suffix, false);
        const std::string digest = content_digest(archive);
        return os::file_status(archive, placed) && placed.size > 0 && !digest.empty() &&
               write_whole(cache, key, meta_suffix, archive_record(Vouched{"", placed.identity, digest}, files));
    }

    // Deletes every file of the attempt but a `placed` archive (with its
    // record), leaving the mark of a lasting failure with its `reason`.
    // After a failure of the moment of inputs that still give the key
    // (`current`) the complete list stays, for a later run to try again;
    // not after a request to stop, whose sender wants nothing left. A
    // remaking keeps the archive there; a lasting failure lets it settle,
    // any other counts as a quiet look of the `young` one (on Windows an
    // archive that a run maps cannot be replaced).
    void end(bool placed, const std::string& reason, bool current, YoungArchive young)
    {
        if (!placed && !remaking)
            delete_own(cache, key + archive_suffix);
        // A disk that filled meanwhile is a failure of the moment too.
        const bool lasting = !placed && !reason.empty() && !run.stopped && os::free_disk_space(cache) >= class_archive_room;
        if (lasting && !remaking)
            write_new(cache, key + failed_suffix, reason);
        if (!placed && remaking) {
            young.quiet = lasting ? quiet_looks : young.quiet + 1;
            keep_young(cache, key, young);
        }
        const bool keep_list = !placed && !lasting && current && !run.stopped;
        for (const char* suffix : {pending_suffix, output_suffix, arguments_suffix, whole_lines_suffix, list_suffix,
                                   record_pending_suffix}) {
            if (suffix != list_suffix || !keep_list)
                delete_own(cache, key + suffix);
        }
        delete_own(cache, pending_name);
        delete_process_files(cache, key);
    }
};

}  // namespace

}  // namespace class_cache

bool room_for_class_archive()
{
    const os::Headroom room = os::headroom();
    return room.threads >= class_cache::least_threads && room.memory_bytes >= class_cache::least_memory;
}

int make_class_archive(const std::string& dir, const std::string& jre_dir, const std::string& java,
                       const std::vector<std::string>& classpath, const std::vector<std::string>& jvm_options,
                       const std::string& key, bool foreground, std::string* note)
{
    using namespace class_cache;
    std::string unused_note;
    std::string& said = note != nullptr ? *note : unused_note;
    said = formatted(msg::unprepared_note, msg::inputs_changed_reason);
    if (!foreground)
        os::run_in_background();
    std::string dir_note;
    const os::OwnFile cache = open_cache_dir(dir, false, dir_note);
    if (!cache.valid() || key.size() != key_length || class_cache_key(jre_dir, classpath, jvm_options) != key)
        return 1;
    // The lock on the list: had once the run that started this one has
    // ended, it keeps every other run out until this one is done.
    const os::OwnFile list = os::open_in_directory(cache, key + list_suffix, false, true);
    said = formatted(msg::unprepared_note, msg::not_to_make_reason);
    if (!may_make(cache, key, list))
        return 1;
    // An archive that is there is made again only while young, from its
    // classes and those of the list, once they are enough more.
    YoungArchive young;
    const bool remaking = exists(cache, key + archive_suffix);
    if (remaking && !read_young(cache, key, young))
        return 1;
    // A list that a full disk cut short ends inside a line, which the JVM
    // would take for a class or fail on: it gives only its whole lines.
    const std::string list_text = read_text(list);
    const std::string classes = remaking ? merged_class_list(young.classes, list_text)
                                         : list_text.substr(0, list_text.rfind('\n') + 1);
    if (remaking && !has_grown(class_count(young.classes), class_count(classes))) {
        ++young.quiet;
        keep_young(cache, key, young);
        delete_process_files(cache, key);
        trim_class_cache(cache, key, class_cache_size_limit, os::current_time());
        delete_own(cache, key + list_suffix);
        said = formatted(msg::prepared_note, joined(cache.path(), key + archive_suffix));
        return 1;
    }
    // From here on it leaves files behind: a request to stop (a sweep of
    // build processes, a service stop) ends its JVM, and they go as on any
    // other end, with no mark of failure.
    os::catch_stop_requests();
    Attempt attempt(cache, key, remaking);
    attempt.run.background = !foreground;
    said = formatted(msg::unprepared_note, msg::failed_for_now_reason);
    if (!attempt.open(java, jvm_options))
        return 1;
    // The files the dump reads are taken before it does (identity and
    // contents), so that the record vouches for the bytes it read.
    std::vector<Vouched> taken;
    const bool ready = attempt.write_inputs(classpath, list_text, classes) && vouch_for_new(classpath, taken);
    // The tool's variables count here (their agents and module options),
    // though they reach no JVM of this run.
    const bool link_classes = may_link_classes(jre_dir, jvm_options);
    const os::OwnFile& dumped = attempt.whole_lines.valid() ? attempt.whole_lines : list;
    const std::vector<std::string> trial_options = run_options(jvm_options, false);
    const std::string unhidden = unhidden_option(jvm_options);
    Outcome outcome = attempt.dump_and_try(ready, dumped, link_classes, trial_options, unhidden);
    std::vector<std::string> jars = reported_jars(outcome.output_text, classpath);
    // The jars that manifests' Class-Path names (there or missing) are known
    // only from the trial: taken now, and the archive made once more.
    if (outcome.made && !all_taken(jars, taken)) {
        attempt.again();
        outcome = attempt.dump_and_try(vouch_for_new(jars, taken), dumped, link_classes, trial_options, unhidden);
        jars = reported_jars(outcome.output_text, classpath);
    }
    // A file that changed while the archive was made leaves it unplaced,
    // with no mark of failure: the next attempt takes it as it is then.
    std::vector<Vouched> files;
    const bool same_key = class_cache_key(jre_dir, classpath, jvm_options) == key;
    const bool current = outcome.made && still_as_taken(jars, taken, files) && same_key;
    os::FileStatus placed_status;
    const bool placed = current && attempt.place(files, placed_status);
    attempt.end(placed, outcome.reason, same_key, young);
    if (placed)
        keep_young(cache, key, YoungArchive{remaking ? young.generation + 1 : 1, 0, classes});
    if (!outcome.reason.empty())
        said = formatted(msg::unprepared_note, outcome.reason);
    else if (outcome.made && !current)
        said = formatted(msg::unprepared_note, msg::inputs_changed_reason);
    if (placed)
        said = formatted(msg::prepared_note, joined(cache.path(), key + archive_suffix));
    // Every end sweeps: what killed runs and makings left counts.
    trim_class_cache(cache, key, class_cache_size_limit, placed ? placed_status.modified : os::current_time());
    return placed ? 0 : 1;
}
