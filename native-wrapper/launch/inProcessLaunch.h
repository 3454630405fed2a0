// The in-process launch, as java's own launcher does it: the runtime's JVM
// library is loaded, and on a thread of the launcher's making, with the
// stack java would give it, a JVM is created through the Invocation API
// with the launch's JVM options and class path, and the main class's main
// runs as the runtime's own java would choose and call it (java's helper
// class in the runtime decides); a "-splash" option is shown through the
// runtime's splash library meanwhile.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "launchPlan.h"

// Runs the tool of `plan` inside this process, with `added_options` (the
// class cache's) after the plan's JVM options; the command text was echoed
// before. Returns 0 when main returned, 1 when an exception escaped it
// (described on the JVM's error channel) or when the options are refused as
// java refuses them (java's message on `err`), -1 when the JVM library
// cannot be loaded or the JVM created (reported first). A main class or main
// that the runtime's java would not run ends the process with java's
// message and status 1, and a System.exit in the tool with its status. The
// runtime's version, from its release file, decides which of java's rules
// apply. The launcher's own notes go to `out` and `err` as java's would.
int run_in_process(const LaunchPlan& plan, const std::vector<std::string>& added_options, std::FILE* out,
                   std::FILE* err);

// The JVM library below the runtime directory `jre_dir`, which the launch
// loads.
std::string jvm_library_path(const std::string& jre_dir);

// The image named by a "-splash" JVM option: after the first ':', without
// surrounding double quotes; empty when it names none.
std::string splash_image_name(const std::string& option);
