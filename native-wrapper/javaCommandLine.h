// JavaCommandLine: one launch of a Java program. The main class is the base's
// program and the tool's arguments are the base's arguments; on top of them
// this class holds the Java executable, the JVM options (heap sizes among
// them) and the class path, recognises the Java launch options, and renders
// the complete java command text.
#pragma once

#include <string>
#include <vector>

#include "commandLine.h"

class JavaCommandLine : public CommandLine {
public:
    JavaCommandLine();
    // Sends every argument through this class's process_arg.
    JavaCommandLine(const char* program, int argc, char** argv);
    ~JavaCommandLine() override;

    // Starts the tool through the Java executable as a child process (the
    // base's run) and returns its exit status. "--wrapper-load-jvm-in-process"
    // is recorded, but this build has no in-process launch yet: it starts the
    // child either way.
    int run() override;

    // Consumes "--wrapper-load-jvm-in-process", "--re-exec-jni-with-env",
    // "--wrapper-add-jar..." (adding the jar after the first "="),
    // "--jvm-init-heap-size=" and "--jvm-max-heap-size="; passes anything
    // else to the base's handler.
    void process_arg(const char* arg) override;

    // The quoted Java executable, the JVM options (unquoted, heap sizes
    // merged in), "-cp" and the quoted class path when there are jars, then
    // the base's text: the quoted main class and arguments.
    std::string build_command_text() override;

    void set_java_path(const char* path) { java_path = path; }
    void set_jvm_options(const char* options) { jvm_options = options; }
    const std::string& get_jvm_options() const { return jvm_options; }
    bool get_load_jvm_in_process() const { return load_jvm_in_process; }
    bool get_re_exec_jni_with_env() const { return re_exec_jni_with_env; }

    // Appends one option, separated from the others by a single space.
    void add_jvm_option(const char* option);
    // Replaces the option that begins at the first occurrence of `prefix`
    // (up to the next space), or appends `option` when there is none.
    // CAUTION: the prefix is found anywhere, also inside another option.
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
    // in listing order. A directory that cannot be listed adds nothing.
    void add_classpath_jars_from_dir(const char* dir);
    // Adds dir + separator + name.
    void add_classpath_jar(const char* dir, const char* name);
    // Adds a jar named by the user, unchanged apart from path conversion;
    // a path that does not end in ".jar" is dropped silently.
    void add_wrapper_jar(const char* path);
    static bool is_jar_name(const std::string& text);

private:
    void grow_classpath_jar_array();
    void store_classpath_jar(std::string jar);

    std::string java_path;
    std::string jvm_options;
    char classpath_separator;
    int num_of_classpath_jars;
    int size_of_classpath_jar_array;
    std::vector<std::string> classpath_jar_array;
    std::string jvm_init_heap_size;
    std::string jvm_max_heap_size;
    bool load_jvm_in_process;
    bool re_exec_jni_with_env;
};
