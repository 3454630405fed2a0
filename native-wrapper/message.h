// The launcher's own messages. Every one leaves through write_message (or
// print_message, which formats for it), so that each reads right where it
// goes (os::write_text): on a Windows console as Unicode, written to a file
// or a pipe as bytes.
//
// Which stream a message takes: standard output carries what the user asked
// to see beside the tool's output and what java's own launcher prints there:
// the echo of --wrapper-verbose (the java command text, the argument-file
// and class-cache notes), a child's captured output, and the in-process
// launch's "JavaCommandLine: ..." line and splash note. Standard error
// carries everything else: the launcher's errors ("ERROR: ...",
// "Error - ...", the loader's reasons), the notes and refusals that java
// writes there and the in-process launch writes as java would, and a failed
// assertion.
#pragma once

#include <cstdio>
#include <string>

// Writes `text` to `stream` through os::write_text, flushed.
void write_message(std::FILE* stream, const std::string& text);

// Formats like printf and writes the text as write_message does.
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void print_message(std::FILE* stream, const char* format, ...);

// Says that java cannot open `path`, which os::path_for_child could not
// turn into a name it can open.
void print_unopenable_path(std::FILE* stream, const std::string& path);
