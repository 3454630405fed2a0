#include "javaCommandLine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>

#include "classCache/classCache.h"
#include "envUtils.h"
#include "launch/commandText.h"
#include "launch/inProcessLaunch.h"
#include "message.h"
#include "os/environment.h"
#include "os/platform.h"
#include "os/text.h"
#include "vlkConfig.h"
#include "wrapAssert.h"

namespace {

const char default_java_path[] = "java";
const char init_heap_option[] = "-Xms";
const char max_heap_option[] = "-Xmx";
const char init_heap_arg[] = "--jvm-init-heap-size=";
const char max_heap_arg[] = "--jvm-max-heap-size=";
const char add_jar_arg[] = "--wrapper-add-jar";

// The JVM options whose value after the prefix is a path that java opens.
const char* const path_option_prefixes[] = {"-splash:", "-XX:SharedArchiveFile=", "-XX:ArchiveClassesAtExit=",
                                            "-XX:DumpLoadedClassList="};

// A user-given jar path is offered to path conversion in a buffer of this size.
const std::size_t jar_path_buffer_size = 260;

bool starts_with(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

using Echo = std::function<void(const std::string&)>;

// Starts this launcher once more, detached, with the job variable set to
// `key` and the launcher options of the plan.
void start_class_archive_job(const LaunchPlan& plan, const std::string& key, const Echo& echo)
{
    // The launcher once more, with the options that decide the key (the
    // tool's other arguments are of no use to it), detached and in the
    // background: its failure or its time never reach this run.
    std::string self;
    os::Failure failure;
    if (!os::get_executable_path(self, failure))
        return;
    os::Command command;
    command.words.push_back(self);
    command.words.insert(command.words.end(), plan.launcher_options.begin(), plan.launcher_options.end());
    // It works in the cache's own directory, so that it neither needs nor
    // holds the caller's (a build's workspace may be deleted before it is
    // done); a path relative to the caller's keeps it there.
    bool absolute = os::is_absolute_path(plan.class_cache_dir) && os::is_absolute_path(plan.jre_dir) &&
                    os::is_absolute_path(plan.java_path);
    for (const std::string& entry : plan.classpath)
        absolute = absolute && os::is_absolute_path(entry);
    const std::string working_dir = absolute ? class_cache_dir(plan.class_cache_dir) : "";
    if (!os::start_detached(command, class_cache_job_variable, key, working_dir, failure) && plan.verbose)
        echo(msg::archive_run_unstarted_note);
}

// What the class-data cache adds to the launch of `plan`; nothing without
// a cache directory. Its note is echoed when verbose. A `preparing` run
// starts no job: it keeps it in `job` for itself.
ClassCacheUse use_class_cache(const LaunchPlan& plan, const Echo& echo, bool preparing)
{
    if (plan.class_cache_dir.empty())
        return {};
    // The key holds the options as the JVM gets them and the class path in
    // its order.
    ClassCacheUse use =
        plan_class_cache(plan.class_cache_dir, plan.jre_dir, plan.classpath, plan.jvm_options, !plan.exec_enabled);
    // The end of the first process of a PID namespace (a container without
    // an init, a sandbox's action) kills every process in it: a job would
    // never finish. (Windows gives no process the id 1.)
    if (!use.job.empty() && !preparing && os::process_id() == 1) {
        use.job.clear();
        use.note = formatted(msg::first_process_note, class_cache_prepare_variable);
    }
    // Under tight limits the job would start no JVM: none is started, and
    // the note says why.
    if (!use.job.empty() && !preparing && !room_for_class_archive()) {
        use.job.clear();
        use.note = msg::no_room_note;
    }
    if (!use.job.empty() && preparing)
        use.note = formatted(msg::preparing_note, class_cache_dir(plan.class_cache_dir) + os::facts.path_separator +
                                                      use.job + ".list");
    if (plan.verbose && !use.note.empty())
        echo(use.note);
    // The JVM runs in this process or in the one that replaces it, and
    // writes the list under this pid; a child's is named once it is made.
    if (!use.listed_key.empty() && (plan.in_process || (os::facts.replaces_process && !preparing)))
        name_class_list(use, os::process_id());
    if (!use.job.empty() && !preparing)
        start_class_archive_job(plan, use.job, echo);
    return use;
}

// Whether java would get the runtime's path and the jars of `jar_dirs`
// whole; if not, says which path and why on `err`. The program's name of a
// command text written quoted as it is ends at a '"', and a list separator
// in a jar's directory cuts each of its jars into two entries, the second
// relative to the current directory.
bool paths_reach_java_whole(const std::string& jre_dir, const std::vector<std::string>& jar_dirs, char separator,
                            std::FILE* err)
{
    if (os::facts.program_token == ProgramToken::quoted && jre_dir.find('"') != std::string::npos) {
        print_err(err, msg::runtime_path_quote, jre_dir.c_str());
        return false;
    }
    for (const std::string& dir : jar_dirs) {
        if (dir.find(separator) != std::string::npos) {
            print_err(err, msg::installation_dir_separator, dir.c_str(), separator);
            return false;
        }
    }
    return true;
}

// The rest of a preparing run whose java ended with `status`: makes the
// archive of the list its JVM wrote, or of the complete one it found, and
// echoes what became of it; returns `status`.
int finish_preparing(const LaunchPlan& plan, ClassCacheUse cache, int status, const Echo& echo)
{
    // The list this run's JVM wrote, or the complete one it found.
    const std::string key = !cache.job.empty() ? cache.job : cache.listed_key;
    // Its locks and its mark as a run of the cache go first: the making
    // takes the list's lock and would pause for a run of the cache.
    cache = ClassCacheUse();
    if (key.empty() || status == -1)
        return status;
    std::string note;
    make_class_archive(plan.class_cache_dir, plan.jre_dir, plan.java_path, plan.classpath, plan.jvm_options, key, true,
                       &note);
    echo(note);
    return status;
}

}  // namespace

JavaCommandLine::JavaCommandLine()
    : java_path(default_java_path),
      classpath_separator(os::facts.list_separator),
      num_of_classpath_jars(0),
      size_of_classpath_jar_array(initial_arg_array_size),
      load_jvm_in_process(false),
      re_exec_jni_with_env(false)
{
    // Reserved room that the jars are constructed in, as for the arguments.
    classpath_jar_array.reserve(size_of_classpath_jar_array);
    enable_argument_file();
    enable_process_replacement();
}

JavaCommandLine::JavaCommandLine(const char* main_class, int argc, char** argv) : JavaCommandLine()
{
    launch_args.assign(argv, argv + argc);
    set_program_and_args(main_class, argc, argv);
}

JavaCommandLine::~JavaCommandLine()
{
    num_of_classpath_jars = 0;
}

void JavaCommandLine::process_arg(const char* arg)
{
    if (!may_be_option(arg)) {
        CommandLine::process_arg(arg);
    } else if (std::strcmp(arg, "--wrapper-load-jvm-in-process") == 0) {
        load_jvm_in_process = true;
    } else if (std::strcmp(arg, "--re-exec-jni-with-env") == 0) {
        re_exec_jni_with_env = true;
    } else if (starts_with(arg, add_jar_arg)) {
        // Any argument with these 17 leading characters counts, so
        // "--wrapper-add-jars=x.jar" adds x.jar as well.
        if (const char* equals = std::strchr(arg, '='))
            add_wrapper_jar(equals + 1);
    } else if (starts_with(arg, init_heap_arg)) {
        jvm_init_heap_size = arg + std::strlen(init_heap_arg);
    } else if (starts_with(arg, max_heap_arg)) {
        jvm_max_heap_size = arg + std::strlen(max_heap_arg);
    } else {
        CommandLine::process_arg(arg);
    }
}

void JavaCommandLine::add_jvm_option(const char* option)
{
    jvm_options.emplace_back(option);
}

void JavaCommandLine::put_jvm_option(const std::string& prefix, const std::string& option)
{
    for (std::string& word : jvm_options) {
        if (word.compare(0, prefix.size(), prefix) == 0) {
            word = option;
            return;
        }
    }
    jvm_options.push_back(option);
}

void JavaCommandLine::apply_heap_sizes()
{
    if (!jvm_init_heap_size.empty())
        put_jvm_option(init_heap_option, init_heap_option + jvm_init_heap_size);
    if (!jvm_max_heap_size.empty())
        put_jvm_option(max_heap_option, max_heap_option + jvm_max_heap_size);
}

std::string JavaCommandLine::get_classpath()
{
    // std::string compares its chars as unsigned bytes, so "A" < "a" and a
    // prefix sorts before the longer text.
    std::sort(classpath_jar_array.begin(), classpath_jar_array.end());
    return joined_classpath(classpath_jar_array);
}

const char* JavaCommandLine::get_classpath_jar(int jar_num) const
{
    WRAP_ASSERT(jar_num >= 0 && jar_num < num_of_classpath_jars);
    return classpath_jar_array[jar_num].c_str();
}

LaunchPlan JavaCommandLine::make_plan()
{
    apply_heap_sizes();
    get_classpath();
    LaunchPlan plan;
    plan.jre_dir = jre_dir;
    plan.java_path = java_path;
    plan.jvm_options = jvm_options;
    plan.classpath = classpath_jar_array;
    plan.main_class = program;
    plan.tool_args.assign(arg_array.begin(), arg_array.begin() + num_of_args);
    plan.verbose = verbose;
    plan.exec_enabled = exec_enabled;
    plan.in_process = load_jvm_in_process;
    if (const char* dir = std::getenv(class_cache_variable))
        plan.class_cache_dir = dir;
    for (const std::string& arg : launch_args) {
        if (may_be_option(arg.c_str()))
            plan.launcher_options.push_back(arg);
    }
    if (!taken_splash_arg.empty())
        plan.launcher_options.push_back(taken_splash_arg);
    return plan;
}

os::Command JavaCommandLine::build_command()
{
    return java_command(make_plan());
}

bool JavaCommandLine::make_paths_openable(const LaunchPlan& plan, os::Command& command)
{
    // Only the words that name paths change; a path that java.exe cannot
    // open by any name ends the launch before it starts.
    const auto openable = [this](std::string& path) {
        if (os::path_for_child(path))
            return true;
        print_err(err_stream, msg::unopenable_path, path.c_str());
        return false;
    };
    if (!openable(command.words[0]))
        return false;
    const bool has_classpath = !plan.classpath.empty();
    const std::size_t options_end = has_classpath ? command.option_words - 1 : command.option_words;
    for (std::size_t i = 1; i <= options_end; ++i) {
        std::string& word = command.words[i];
        for (const char* prefix : path_option_prefixes) {
            if (!starts_with(word.c_str(), prefix))
                continue;
            // A splash image may stand in double quotes, which stay.
            const std::size_t start = std::strlen(prefix);
            const bool quoted = word.size() >= start + 2 && word[start] == '"' && word.back() == '"';
            std::string path = word.substr(start + quoted, word.size() - start - 2 * quoted);
            if (!openable(path))
                return false;
            word.replace(start + quoted, word.size() - start - 2 * quoted, path);
        }
    }
    if (!has_classpath)
        return true;
    std::vector<std::string> entries = plan.classpath;
    for (std::string& entry : entries) {
        if (!openable(entry))
            return false;
    }
    command.words[command.option_words + 1] = joined_classpath(entries);
    return true;
}

int JavaCommandLine::report_no_jars()
{
    std::string dirs;
    for (const std::string& dir : searched_jar_dirs)
        dirs += (dirs.empty() ? " in '" : "', '") + dir;
    if (!dirs.empty())
        dirs += '\'';
    print_err(err_stream, msg::no_jar_files, dirs.c_str());
    // Not one jar because the directory could not be read: why.
    if (jar_dir_error != 0)
        print_err(err_stream, msg::line, os::error_text(jar_dir_error).c_str());
    return -1;
}

int JavaCommandLine::run()
{
    if (!paths_reach_java_whole(jre_dir, searched_jar_dirs, classpath_separator, err_stream))
        return -1;
    if (verbose) {
        for (const std::string& note : left_out_jars)
            echo(note);
    }
    if (num_of_classpath_jars == 0)
        return report_no_jars();
    LaunchPlan plan = make_plan();
    // A preparing run has work left once java has ended: java runs as its
    // child, whose end the in-process JVM's System.exit would not leave it.
    const bool prepare = preparing && !plan.class_cache_dir.empty() && plan.exec_enabled;
    if (prepare) {
        plan.in_process = false;
        process_replacement_allowed = false;
    }
    ClassCacheUse cache = use_class_cache(plan, [this](const std::string& note) { echo(note); }, prepare);
    if (!cache.listed_key.empty() && !plan.in_process && (!os::facts.replaces_process || prepare)) {
        // The child's JVM writes the list under a name of its pid, known
        // only once the child is made.
        child_started = [&cache](long pid) { name_class_list(cache, pid); };
    }
    os::Command command = java_command(plan, cache.jvm_options);
    if (verbose_on_err) {
        // What --wrapper-verbose's text leaves open.
        if (plan.in_process)
            echo(formatted(msg::in_process_launch_note, jvm_library_path(plan.jre_dir)));
        else
            echo(os::facts.replaces_process && !prepare ? msg::exec_launch_note : msg::child_launch_note);
    }
    if (plan.in_process) {
        // The words reach the JVM byte for byte, and so does the text.
        if (!show_command(render_command_text(command.words, command.option_words, os::facts.program_token)))
            return end_dry_run();
        // The JVM writes to the same descriptors without our buffers.
        std::fflush(out_stream);
        std::fflush(err_stream);
        return run_in_process(plan, cache.jvm_options, out_stream, err_stream);
    }
    if (!make_paths_openable(plan, command))
        return -1;
    const int status = show_and_execute(command);
    return prepare ? finish_preparing(plan, std::move(cache), status, [this](const std::string& note) {
        if (verbose)
            echo(note);
    })
                   : status;
}

int JavaCommandLine::run_class_archive_job(const std::string& key)
{
    if (!paths_reach_java_whole(jre_dir, searched_jar_dirs, classpath_separator, err_stream))
        return -1;
    if (num_of_classpath_jars == 0)
        return report_no_jars();
    const LaunchPlan plan = make_plan();
    return plan.class_cache_dir.empty() ? run()
                                        : make_class_archive(plan.class_cache_dir, plan.jre_dir, plan.java_path,
                                                             plan.classpath, plan.jvm_options, key);
}

bool JavaCommandLine::is_jar_name(const std::string& text)
{
    static const std::string suffix = ".jar";
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void JavaCommandLine::grow_classpath_jar_array()
{
    if (num_of_classpath_jars == size_of_classpath_jar_array) {
        size_of_classpath_jar_array *= 2;
        classpath_jar_array.reserve(size_of_classpath_jar_array);
    }
}

void JavaCommandLine::store_classpath_jar(std::string jar)
{
    WRAP_ASSERT(num_of_classpath_jars <= size_of_classpath_jar_array);
    grow_classpath_jar_array();
    classpath_jar_array.push_back(std::move(jar));
    ++num_of_classpath_jars;
}

void JavaCommandLine::add_classpath_jars_from_dir(const char* dir)
{
    searched_jar_dirs.emplace_back(dir);
    std::vector<std::string> names;
    os::Failure failure;
    if (!os::list_directory(dir, names, failure)) {
        if (jar_dir_error == 0)
            jar_dir_error = failure.error;
        return;
    }
    for (const std::string& name : names) {
        if (is_jar_name(name) && is_one_entry(std::string(dir) + os::facts.path_separator + name, name))
            add_classpath_jar(dir, name.c_str());
    }
}

bool JavaCommandLine::is_one_entry(const std::string& path, const std::string& name)
{
    // java would cut the name into two entries, the second one relative to
    // the current directory.
    if (name.find(classpath_separator) != std::string::npos) {
        left_out_jars.push_back(formatted(msg::separator_jar_note, path.c_str(), classpath_separator));
        return false;
    }
    // A directory or a device named so is no jar; a missing file java
    // passes over, as it would with plain java.
    os::FileStatus status;
    if (os::file_status(path, status) && !status.is_regular) {
        left_out_jars.push_back(formatted(msg::irregular_jar_note, path));
        return false;
    }
    return true;
}

void JavaCommandLine::add_classpath_jar(const char* dir, const char* name)
{
    std::string jar;
    jar.reserve(std::strlen(dir) + 1 + std::strlen(name));
    jar.append(dir).append(1, os::facts.path_separator).append(name);
    store_classpath_jar(std::move(jar));
}

void JavaCommandLine::add_wrapper_jar(const char* path)
{
    if (path == nullptr)
        return;
    std::string jar = path;
    // A path too long for the conversion buffer is kept unconverted.
    if (jar.size() < jar_path_buffer_size) {
        std::string buffer = jar;
        if (convert_posix_path(&buffer, jar_path_buffer_size) == 0)
            jar = buffer;
    }
    if (!is_jar_name(jar) || !is_one_entry(jar, jar))
        return;
    store_classpath_jar(std::move(jar));
}
