#include "javaCommandLine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "envUtils.h"
#include "launch/commandText.h"
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
    // No separator after the last entry: java reads an empty element as the
    // current directory, and would load classes from wherever the user stands.
    std::string classpath;
    std::size_t length = 0;
    for (int i = 0; i < num_of_classpath_jars; ++i)
        length += classpath_jar_array[i].size() + 1;
    classpath.reserve(length);  // sized once: growing by doubling touches twice the memory
    for (int i = 0; i < num_of_classpath_jars; ++i) {
        if (i > 0)
            classpath += classpath_separator;
        classpath += classpath_jar_array[i];
    }
    return classpath;
}

const char* JavaCommandLine::get_classpath_jar(int jar_num) const
{
    WRAP_ASSERT(jar_num >= 0 && jar_num < num_of_classpath_jars);
    return classpath_jar_array[jar_num].c_str();
}

os::Command JavaCommandLine::build_command()
{
    apply_heap_sizes();
    os::Command command;
    command.words.reserve(jvm_options.size() + 4 + get_num_of_args());
    command.words.push_back(java_path);
    command.words.insert(command.words.end(), jvm_options.begin(), jvm_options.end());
    command.option_words = jvm_options.size();
    if (num_of_classpath_jars > 0) {
        command.words.push_back("-cp");
        ++command.option_words;
        command.words.push_back(get_classpath());
    }
    append_words(command);
    return command;
}

bool JavaCommandLine::make_paths_openable(os::Command& command)
{
    // Only the words that name paths change; a path that java.exe cannot
    // open by any name ends the launch before it starts.
    const auto openable = [this](std::string& path) {
        if (os::path_for_child(path))
            return true;
        print_unopenable_path(err_stream, path);
        return false;
    };
    if (!openable(command.words[0]))
        return false;
    const std::size_t options_end = num_of_classpath_jars > 0 ? command.option_words - 1 : command.option_words;
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
    if (num_of_classpath_jars == 0)
        return true;
    // build_command sorted the entries.
    std::string classpath;
    for (int i = 0; i < num_of_classpath_jars; ++i) {
        std::string entry = classpath_jar_array[i];
        if (!openable(entry))
            return false;
        if (i > 0)
            classpath += classpath_separator;
        classpath += entry;
    }
    command.words[command.option_words + 1] = std::move(classpath);
    return true;
}

int JavaCommandLine::run()
{
    if (num_of_classpath_jars == 0) {
        std::string dirs;
        for (const std::string& dir : searched_jar_dirs)
            dirs += (dirs.empty() ? " in '" : "', '") + dir;
        if (!dirs.empty())
            dirs += '\'';
        print_message(err_stream, "Error - no jar files found%s.\n", dirs.c_str());
        // Not one jar because the directory could not be read: why.
        if (jar_dir_error != 0)
            print_message(err_stream, "%s\n", os::error_text(jar_dir_error).c_str());
        return -1;
    }
    if (const char* job = std::getenv(class_cache_job_variable)) {
        // The detached run that makes an archive: it starts no tool.
        const std::string key = job;
        os::put_env(class_cache_job_variable, "");
        const char* dir = std::getenv(class_cache_variable);
        apply_heap_sizes();
        get_classpath();
        return dir == nullptr ? 1
                              : make_class_archive(dir, get_jre_dir(), java_path, classpath_jar_array, jvm_options, key);
    }
    prepare_class_cache();
    if (load_jvm_in_process)
        return run_in_process();
    return CommandLine::run();
}

void JavaCommandLine::prepare_class_cache()
{
    const char* dir = std::getenv(class_cache_variable);
    if (dir == nullptr || dir[0] == '\0')
        return;
    // The key holds the options as the JVM gets them and the class path in
    // its order (get_classpath sorts the entries).
    apply_heap_sizes();
    get_classpath();
    class_cache = plan_class_cache(dir, get_jre_dir(), classpath_jar_array, jvm_options, !exec_enabled);
    jvm_options.insert(jvm_options.end(), class_cache.jvm_options.begin(), class_cache.jvm_options.end());
    if (verbose && !class_cache.note.empty())
        echo(class_cache.note);
    if (!class_cache.listed_key.empty()) {
        // The JVM runs in this process, or in the one that replaces it, or
        // in a child whose pid is known only once it is made.
        if (load_jvm_in_process || os::facts.replaces_process)
            name_class_list(class_cache, os::process_id());
        else
            child_started = [this](long pid) { name_class_list(class_cache, pid); };
    }
    if (!class_cache.job.empty())
        start_class_archive_job(class_cache.job);
}

void JavaCommandLine::start_class_archive_job(const std::string& key)
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
    for (const std::string& arg : launch_args) {
        if (may_be_option(arg.c_str()))
            command.words.push_back(arg);
    }
    if (!taken_splash_arg.empty())
        command.words.push_back(taken_splash_arg);
    // It works in the cache's own directory, so that it neither needs nor
    // holds the caller's (a build's workspace may be deleted before it is
    // done); a path relative to the caller's keeps it there.
    const std::string dir = std::getenv(class_cache_variable);
    bool absolute = os::is_absolute_path(dir) && os::is_absolute_path(get_jre_dir()) &&
                    os::is_absolute_path(java_path);
    for (const std::string& entry : classpath_jar_array)
        absolute = absolute && os::is_absolute_path(entry);
    const std::string working_dir = absolute ? dir + os::facts.path_separator + class_cache_dir_name : "";
    if (!os::start_detached(command, class_cache_job_variable, key, working_dir, failure) && verbose)
        echo("Class cache: the run that makes the archive cannot be started.");
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
    // Room for every entry at once, as for the arguments.
    const int room = num_of_classpath_jars + static_cast<int>(names.size());
    if (room > size_of_classpath_jar_array) {
        size_of_classpath_jar_array = room;
        classpath_jar_array.reserve(size_of_classpath_jar_array);
    }
    for (const std::string& name : names) {
        if (is_jar_name(name))
            add_classpath_jar(dir, name.c_str());
    }
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
    if (!is_jar_name(jar))
        return;
    store_classpath_jar(std::move(jar));
}
