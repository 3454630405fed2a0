// Helpers shared by the unit tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "commandLine.h"

namespace unit_helpers {

// The arguments a command line holds, in order.
std::vector<std::string> args_of(const CommandLine& cmd);

// The jars joined by the class-path separator, none after the last.
std::string classpath_of(const std::vector<std::string>& jars);

// A program built beside the test binaries, such as the test child.
std::string program_beside_tests(const std::string& name);

// Everything written to `file` so far.
std::string read_stream(FILE* file);

}  // namespace unit_helpers
