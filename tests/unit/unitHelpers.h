// Helpers shared by the unit tests.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "commandLine.h"

namespace unit_helpers {

// The arguments a command line holds, in order.
std::vector<std::string> args_of(const CommandLine& cmd);

// The jars joined by the class-path separator, none after the last.
std::string classpath_of(const std::vector<std::string>& jars);

// A program built beside the test binaries, such as the test child.
std::string program_beside_tests(const std::string& name);

// Runs `cmd` to its end and expects the exit status `status`. Where the
// program replaces the launcher's process (os::facts.replaces_process) the
// run ends the process: it runs in a death-test child, so that the test
// process survives it.
void expect_run_ends_with(CommandLine& cmd, int status);

// Everything written to `file` so far.
std::string read_stream(FILE* file);

// A scratch file standing in for the launcher's stdout or stderr.
class ScratchStream {
public:
    ScratchStream() : file_(std::tmpfile()) {}
    ~ScratchStream()
    {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    ScratchStream(const ScratchStream&) = delete;
    ScratchStream& operator=(const ScratchStream&) = delete;
    FILE* get() const { return file_; }
    std::string text() const { return read_stream(file_); }

private:
    FILE* file_;
};

// The value of an environment variable as children get it, or "(unset)".
std::string env_value(const std::string& name);

// An argv of `words`, null-terminated, that the code under test may rearrange.
class Args {
public:
    explicit Args(std::vector<std::string> words) : words_(std::move(words))
    {
        for (std::string& word : words_)
            pointers_.push_back(&word[0]);
        pointers_.push_back(nullptr);
    }
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;
    int argc() const { return static_cast<int>(words_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

}  // namespace unit_helpers
