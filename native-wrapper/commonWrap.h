// What the tool needs from its surroundings before it starts, and the
// runner of the suite's sibling tool.
#pragma once

#include "toolProfile.h"

class CommandLine;

// Applies the profile's environment settings, in this order: POSIX argument
// conversion (unless VLK_DISABLE_CYGPATH is exactly "1"), directories put in
// front of LD_LIBRARY_PATH and PATH, extra arguments fed to cmd's argument
// handling, and environment assignments. Every entry is expanded first.
void setup_wrapper_env(CommandLine& cmd, const ToolProfile& profile);

// Runs the sibling tool beside the suite's binaries, with "--jtag" for mode
// 1, and returns its exit status; -1 when the tool cannot be opened.
int run_tolvex(int mode);
