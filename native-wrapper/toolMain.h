// The launcher's entry: a trailing "--splash=N" is taken off the arguments,
// one JavaCommandLine is built from the rest, completed from the environment
// and the tool profile, run, and its result becomes the exit status.
#pragma once

#include "toolProfile.h"

class JavaCommandLine;

// If argv[argc-1] begins with "--splash=", removes it (reducing argc) and
// returns the number after "=" as atoi reads it, clamped to the int range;
// otherwise returns 0.
int take_trailing_splash(int& argc, char** argv);

// Completes the command line: the Java executable, the environment set-up,
// the jars of each jar directory, the fixed JVM options and, when
// show_splash is set and no argument is exactly "--help", the splash option
// at splash_index.
void prepare_launch(JavaCommandLine& cmd, const ToolProfile& profile, int argc, char** argv, int splash_index,
                    bool show_splash);

// The whole run for `profile`; returns the exit status. With
// NATIVE_WRAP_CLASS_CACHE_JOB set, the detached run that makes a class-data
// archive instead of the tool's run.
int tool_main(int argc, char** argv, const ToolProfile& profile);
