// The launcher's own messages, written so that they read right where they
// go (see os::write_text).
#pragma once

#include <cstdio>
#include <string>

// Formats like printf and writes the text to `stream` through
// os::write_text, flushed.
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void print_message(std::FILE* stream, const char* format, ...);

// Says that java cannot open `path`, which os::path_for_child could not
// turn into a name it can open.
void print_unopenable_path(std::FILE* stream, const std::string& path);
