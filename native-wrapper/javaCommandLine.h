// JavaCommandLine: one launch of a Java program. The main class is the base's
// program and the tool's arguments are the base's arguments; on top of them
// this class holds the Java executable, the JVM options (heap sizes among
// them) and the class path, recognises the Java launch options, builds
// the complete java command as words, and runs it through the Java executable
// (in place of this process on POSIX, as a child on Windows) or inside this
// process through the Invocation API (inProcessLaunch.cpp).
#pragma once

#include <jni.h>

#include <string>
#include <vector>

#include "classCache.h"
#include "commandLine.h"
#include "launcherOptions.h"
#include "os/library.h"
#include "os/process.h"

// The entry points of the Java runtime's libraries that the in-process launch
// calls, found by name in the loaded libraries; null until found. Every call
// into those libraries goes through this table (and, once the JVM exists,
// through the JNIEnv and JavaVM function tables), so a stand-in runtime sees
// the same calls in the same order; the one exception is the splash
// screen's close entry, which is kept process-wide in splash_close.
struct InvocationFunctions {
    jint(JNICALL* CreateJavaVM)(JavaVM** vm, void** env, void* args) = nullptr;
    // Optional: a runtime without it gets the system's default stack.
    jint(JNICALL* GetDefaultJavaVMInitArgs)(void* args) = nullptr;
    void (*SplashInit)() = nullptr;
    int (*SplashLoadFile)(const char* file_name) = nullptr;
    void (*SplashSetFileJarName)(const char* file_name, const char* jar_name) = nullptr;
};

// The tool's main as java calls it: static or on an instance of the main
// class, with the arguments or without (args null).
struct MainCall {
    jclass main_class = nullptr;
    jobject instance = nullptr;  // null: a static main
    jmethodID method = nullptr;
    jobjectArray args = nullptr;
};

// The close entry of the splash screen that is up, for the whole process;
// null when no splash screen was shown.
extern void (*splash_close)();

class JavaCommandLine : public CommandLine {
public:
    JavaCommandLine();
    // Sends every argument through this class's process_arg.
    JavaCommandLine(const char* program, int argc, char** argv);
    ~JavaCommandLine() override;

    // Runs the tool and returns the exit status: with
    // "--wrapper-load-jvm-in-process" inside this process (run_in_process),
    // otherwise through the Java executable (the base's run), which on
    // POSIX replaces this process and returns only a failure. Either way
    // the java command text is built first and echoed when verbose, and
    // nothing runs when execution is disabled (status 0). With
    // NATIVE_WRAP_CLASS_CACHE_JOB set, this is the detached run that makes
    // a class-data archive (see classCache.h): it starts no tool and
    // returns 0 when it made one, 1 otherwise.
    // Without a single jar on the class path nothing is echoed, started or
    // loaded: a message names the directories searched and the result is -1,
    // since java would take its classes from CLASSPATH or the current
    // directory instead.
    int run() override;

    // With NATIVE_WRAP_CLASS_CACHE set and not empty, adds the class-data
    // cache's options to the JVM options (see classCache.h), echoing its
    // note when verbose, and starts the detached run that makes an archive
    // when a complete class list waits for one. Nothing is looked at
    // otherwise; a dry run makes and touches nothing.
    void prepare_class_cache();
    // Starts this launcher detached, with the job variable set to `key`
    // and the wrapper options of this launch.
    void start_class_archive_job(const std::string& key);

    // Consumes "--wrapper-load-jvm-in-process", "--re-exec-jni-with-env",
    // "--wrapper-add-jar..." (adding the jar after the first "="),
    // "--jvm-init-heap-size=" and "--jvm-max-heap-size="; passes anything
    // else to the base's handler.
    void process_arg(const char* arg) override;

    // The Java executable, the JVM options (heap sizes merged in; option
    // words, quoted only where a word needs it), "-cp" and the class path
    // when there are jars, then the base's words: the main class and the
    // arguments.
    os::Command build_command() override;

    void set_java_path(const char* path) { java_path = path; }
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
    // in listing order. A directory that cannot be listed adds nothing. The
    // directory is remembered as searched, for the message of run.
    void add_classpath_jars_from_dir(const char* dir);
    // Adds dir + separator + name.
    void add_classpath_jar(const char* dir, const char* name);
    // Adds a jar named by the user, unchanged apart from path conversion;
    // a path that does not end in ".jar" is dropped silently.
    void add_wrapper_jar(const char* path);
    static bool is_jar_name(const std::string& text);

    // ---- In-process launch ----

    // Builds and echoes the command text, loads the JVM library, and on a
    // new thread with the stack java would give main (the last -Xss, else
    // the JVM's default) creates a JVM and calls the main class's main,
    // waiting for that thread. Returns 0 when main returned, 1 when an
    // exception escaped it (described on the JVM's error channel) or when
    // the options are refused as java refuses them (java's message), -1
    // when the JVM library cannot be loaded or the JVM created (reported
    // first). A main class or main that the runtime's java would not run
    // ends the process with java's message and status 1, and a System.exit
    // in the tool with its status. The runtime's version, from its release
    // file, decides which of java's rules apply.
    int run_in_process();
    // Prints java's note of JDK_JAVA_OPTIONS and turns its words and the
    // JVM options into `launch` as java's launcher does, ending with the
    // launch's own properties and the class path; the last splash option
    // (the JVM options' own form, or java's in JDK_JAVA_OPTIONS) names the
    // image. False after java's message where java refuses the options.
    bool prepare_jvm_options(JvmLaunchOptions& launch);
    // The stack java gives main: the last -Xss, else the JVM's default
    // (0, the system's, when the JVM library does not tell).
    std::uint64_t main_thread_stack_size(const JvmLaunchOptions& launch);
    // On the thread of main: creates the JVM, runs java's own steps and
    // main, and destroys the JVM; returns the status run_in_process gives.
    int run_jvm(const JvmLaunchOptions& launch, os::Library& jvm_library);
    // Creates the JVM with the options of `launch`. Returns 0 and fills `vm`
    // and `env`, or -1 after a message.
    int create_jvm(const JvmLaunchOptions& launch, JavaVM** vm, JNIEnv** env);
    // What java's launcher does between creating the JVM and loading the
    // main class (settings, module listings, the version line). True when
    // the launch ends there, with `status`.
    bool run_launcher_steps(JNIEnv* env, const JvmLaunchOptions& launch, int& status);
    // Calls a static void method of the runtime's classes with the variadic
    // arguments; false when it (or the lookup) threw, described.
    bool call_runtime(JNIEnv* env, const char* class_name, const char* method, const char* signature, ...);
    // Loads the main class and chooses its main as the runtime's java does,
    // through java's own helper (whose messages end the process with 1),
    // and makes the tool's arguments. False with a Java exception pending
    // (a constructor that threw, a runtime without the helper).
    bool find_main(JNIEnv* env, MainCall& main);
    // The boolean static field `name` of java's helper, or `otherwise` where
    // the runtime's helper lacks it.
    static bool helper_flag(JNIEnv* env, jclass helper, const char* name, bool otherwise);
    // Describes and clears a pending Java exception; true if there was one.
    bool check_java_exception(JNIEnv* env);
    // Shows `image` through the runtime's splash library and sets
    // splash_close. A library that cannot be loaded is reported on the out
    // stream; one lacking an entry shows nothing. The library stays loaded.
    void show_splash_screen(const std::string& image, std::string jre_dir);
    // The image named by a "-splash" JVM option: after the first ':', without
    // surrounding double quotes; empty when it names none.
    static std::string splash_image_name(const std::string& option);

    // The library at `path`, with the runtime's own library directory
    // searched for its imports. Not loaded (its error() says why) on failure.
    os::Library load_library(std::string path, const std::string& jre_dir);
    // The entry `name` of `library`, or null.
    void* find_symbol(const os::Library& library, std::string name);
    // Gives up the launcher's reference on `library`.
    void free_library(os::Library& library);

protected:
    // The Java executable, every class-path entry and the paths in JVM
    // options that java opens (the splash image, the class-data archive).
    bool make_paths_openable(os::Command& command) override;

private:
    void grow_classpath_jar_array();
    void store_classpath_jar(std::string jar);

    std::string java_path;
    std::vector<std::string> jvm_options;
    char classpath_separator;
    int num_of_classpath_jars;
    int size_of_classpath_jar_array;
    std::vector<std::string> classpath_jar_array;
    std::vector<std::string> searched_jar_dirs;
    int jar_dir_error = 0;  // the OS error of the first jar directory that could not be listed; 0: none
    std::string jvm_init_heap_size;
    std::string jvm_max_heap_size;
    bool load_jvm_in_process;
    bool re_exec_jni_with_env;
    InvocationFunctions invocation;
    ClassCacheUse class_cache;
    std::vector<std::string> launch_args;  // as the launcher got them
    std::string taken_splash_arg;
};
