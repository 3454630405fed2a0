// JavaCommandLine: one launch of a Java program. The main class is the base's
// program and the tool's arguments are the base's arguments; on top of them
// this class holds the Java executable, the JVM options (heap sizes among
// them) and the class path, recognises the Java launch options, builds
// the complete java command as words, and runs it through the Java executable
// (in place of this process on POSIX, as a child on Windows) or inside this
// process through the Invocation API (launch/inProcessLaunch.h).
#pragma once

#include <string>
#include <vector>

#include "commandLine.h"
#include "launchPlan.h"

class JavaCommandLine : public CommandLine {
public:
    JavaCommandLine();
    // Sends every argument through this class's process_arg.
    JavaCommandLine(const char* program, int argc, char** argv);
    ~JavaCommandLine() override;

    // Runs the tool and returns the exit status: with
    // "--wrapper-load-jvm-in-process" inside this process (see
    // launch/inProcessLaunch.h), otherwise through the Java executable,
    // which on POSIX replaces this process and returns only a failure.
    // Either way the plan is made once (make_plan), the java command text
    // is echoed when verbose, and nothing runs when execution is disabled
    // (status 0). With NATIVE_WRAP_CLASS_CACHE set and not empty, the
    // class-data cache adds its options first (see classCache.h), echoing
    // its note when verbose, and starts the detached run that makes an
    // archive when a complete class list waits for one; a dry run makes and
    // touches nothing.
    // Without a single jar on the class path nothing is echoed, started or
    // loaded: a message names the directories searched and the result is -1,
    // since java would take its classes from CLASSPATH or the current
    // directory instead.
    int run() override;

    // The detached run that makes the class-data archive of `key` (see
    // classCache.h): it starts no tool and returns 0 when it made one, 1
    // otherwise; -1 after the message of run when there is no jar. Without
    // a cache directory there is no job: the tool runs as by run().
    int run_class_archive_job(const std::string& key);

    // Makes the launch a preparing one (see class_cache_prepare_variable):
    // with a cache directory, run() starts java as a child (never in this
    // process, never in its place), waits for it, makes what the cache
    // needs next for the launch's key in the foreground, and returns the
    // tool's status.
    void set_preparing(bool prepare) { preparing = prepare; }

    // The launch as decided now: the heap sizes merged into the JVM options
    // and the class path sorted (both idempotent), the class cache's
    // variable read. Made once per launch; every later step reads it.
    LaunchPlan make_plan();

    // Consumes "--wrapper-load-jvm-in-process", "--re-exec-jni-with-env",
    // "--wrapper-add-jar..." (adding the jar after the first "="),
    // "--jvm-init-heap-size=" and "--jvm-max-heap-size="; passes anything
    // else to the base's handler.
    void process_arg(const char* arg) override;

    // The Java executable, the JVM options (heap sizes merged in;
    // option words, quoted only where a word needs it), "-cp" and the class
    // path when there are jars, then the base's words: the main class and the
    // arguments (java_command of make_plan()).
    os::Command build_command() override;

    void set_java_path(const char* path) { java_path = path; }
    // The runtime directory, below which the in-process launch and the
    // class cache look: the one the Java executable was found in.
    void set_jre_dir(const std::string& dir) { jre_dir = dir; }
    // The trailing "--splash=N" that the entry point took off the arguments:
    // it decides the JVM options, so the archive's run gets it too, last.
    void set_taken_splash_arg(const std::string& arg) { taken_splash_arg = arg; }
    // The JVM options, one word each: a word never splits into two options
    // or joins the words around it, whatever characters it holds.
    void set_jvm_options(std::vector<std::string> options) { jvm_options = std::move(options); }
    const std::vector<std::string>& get_jvm_options() const { return jvm_options; }
    bool get_load_jvm_in_process() const { return load_jvm_in_process; }
    bool get_re_exec_jni_with_env() const { return re_exec_jni_with_env; }

    // Appends one option word.
    void add_jvm_option(const char* option);
    // Replaces the first option word that starts with `prefix`, or appends
    // `option` when there is none.
    void put_jvm_option(const std::string& prefix, const std::string& option);
    // Merges the user's heap sizes into the JVM options; idempotent.
    void apply_heap_sizes();

    // Sorts the class-path entries byte-wise and returns them joined by the
    // class-path separator, with none after the last; empty when there are none.
    std::string get_classpath();
    int get_num_of_classpath_jars() const { return num_of_classpath_jars; }
    // Entry `jar_num` of the class path: in the order added until
    // get_classpath sorts them.
    const char* get_classpath_jar(int jar_num) const;

    // Adds every entry of `dir` whose name ends in ".jar" (case-sensitive),
    // in listing order, that can be one class-path entry: a regular file,
    // or a link to one, whose name holds no list separator. A directory that cannot be listed adds nothing. The
    // directory is remembered as searched, for the message of run.
    void add_classpath_jars_from_dir(const char* dir);
    // Adds dir + separator + name.
    void add_classpath_jar(const char* dir, const char* name);
    // Adds a jar named by the user, unchanged apart from path conversion;
    // a path that does not end in ".jar" is dropped silently, and one that
    // cannot be one class-path entry (as above) with a verbose note.
    void add_wrapper_jar(const char* path);
    static bool is_jar_name(const std::string& text);

private:
    // The Java executable, every class-path entry and the paths in JVM
    // options that java opens (the splash image, the class-data archive);
    // false after a message when one cannot be opened by any name.
    bool make_paths_openable(const LaunchPlan& plan, os::Command& command);
    // Whether the file at `path` (named `name` in its directory) can be one
    // class-path entry: its name holds no list separator, and it is a
    // regular file (or a link to one) where it exists. Notes why not for
    // the verbose output.
    bool is_one_entry(const std::string& path, const std::string& name);
    // Says why no jar was found; the result of a run without one.
    int report_no_jars();

    void grow_classpath_jar_array();
    void store_classpath_jar(std::string jar);

    std::string java_path;
    std::string jre_dir;
    std::vector<std::string> jvm_options;
    char classpath_separator;
    int num_of_classpath_jars;
    int size_of_classpath_jar_array;
    std::vector<std::string> classpath_jar_array;
    std::vector<std::string> searched_jar_dirs;
    std::vector<std::string> left_out_jars;  // why a jar was not taken, for the verbose output
    int jar_dir_error = 0;  // the OS error of the first jar directory that could not be listed; 0: none
    std::string jvm_init_heap_size;
    std::string jvm_max_heap_size;
    bool load_jvm_in_process;
    bool re_exec_jni_with_env;
    std::vector<std::string> launch_args;  // as the launcher got them
    std::string taken_splash_arg;
    bool preparing = false;
};
