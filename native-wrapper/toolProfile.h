// The tool profile: the fixed data that makes a launcher the launcher of one
// particular Java tool. Lists are arrays of texts ended by a null pointer;
// every entry may name wrapper variables and is expanded before use.
#pragma once

struct ToolProfile {
    const char* main_class;
    const char* const* classpath_jar_dirs;    // every jar of these joins the class path
    const char* const* extra_jvm_options;     // always given to the JVM, in order
    const char* const* splash_options;        // "-splash:<image>", one chosen per run
    const char* const* ld_library_path_dirs;  // put in front of LD_LIBRARY_PATH
    const char* const* path_dirs;             // put in front of PATH
    const char* const* extra_args;            // handled as if given by the user
    const char* const* env_assignments;       // NAME=VALUE for the process environment
};

// The profile of brumlet: the main class com.velkor.brumlet.Brumlet with
// every jar of the launcher's own directory.
extern const ToolProfile brumlet_profile;
