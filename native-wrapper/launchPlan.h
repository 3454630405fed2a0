// LaunchPlan: one launch of the tool as decided before anything starts. The
// command-line classes and the launch preparation gather it; it is made once
// (JavaCommandLine::make_plan), and every later step reads it and nothing
// else: the java command of a child launch, the in-process JVM's options and
// the class-data cache's plan are functions of it.
#pragma once

#include <string>
#include <vector>

#include "os/process.h"

struct LaunchPlan {
    std::string jre_dir;    // the runtime's directory, expanded once, as the Java executable's
    std::string java_path;  // the Java executable
    // The JVM options in their final order: the profile's and the splash
    // option, then the user's heap sizes merged in (replacing or appended).
    std::vector<std::string> jvm_options;
    std::vector<std::string> classpath;  // the class path's entries, sorted byte-wise
    std::string main_class;
    std::vector<std::string> tool_args;  // the tool's arguments, in order
    bool verbose = false;                // --wrapper-verbose
    bool exec_enabled = true;            // no --wrapper-disable-exec
    bool in_process = false;             // --wrapper-load-jvm-in-process
    // The directory that NATIVE_WRAP_CLASS_CACHE names, read once; empty:
    // no cache.
    std::string class_cache_dir;
    // The launcher's own options as they were given, and a trailing
    // "--splash=N": what a run of the launcher once more (the one that
    // makes a class-data archive) needs to decide the same JVM options.
    std::vector<std::string> launcher_options;
};

// The plan's class path as one text: the entries joined by the platform's
// list separator, none after the last (java would read an empty element as
// the current directory).
std::string joined_classpath(const std::vector<std::string>& entries);

// The java command of the plan, one word each: the Java executable, the JVM
// options, then `added_options` (the class cache's), "-cp" and the class
// path when it has entries, the main class and the tool's arguments. The
// option words (Command::option_words) run up to the class path.
os::Command java_command(const LaunchPlan& plan, const std::vector<std::string>& added_options = {});
