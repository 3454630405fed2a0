// Text between the launcher and the programs it starts or writes to: the
// encoding a child reads, paths a child can open, messages on a console,
// arguments as Java strings. The launcher's own text is UTF-8 on Windows
// (its manifest's code page) and bytes as they are on POSIX.
#pragma once

#include "os/error.h"

#include <cstdio>
#include <string>

namespace os {

// `text` (the launcher's own) in the encoding in which a started program
// reads its command line and java its argument files: on Windows the
// system's ANSI code page, each character that page lacks as '?'; on POSIX
// `text` unchanged.
std::string to_child_encoding(const std::string& text);

// Makes `path` one that a started program can open by its narrow text.
// Windows: a path with characters outside the ANSI code page becomes its
// short (8.3) form, which is ASCII (for a path that does not exist yet, the
// short form of its directory and its own name). False, with `path`
// unchanged, where no such form exists (a volume without short names).
// POSIX: always true, `path` unchanged.
bool path_for_child(std::string& path);

// Whether a program started from this one can be given `path` by some
// name (see path_for_child): on Windows java.exe reads its command line in
// the ANSI code page, and a path that the code page cannot hold and that
// has no short name reaches it as another name. Always true on POSIX.
bool program_can_take_path(const std::string& path);

// Writes a message of the launcher to `stream` and flushes it. Windows: to
// a console as UTF-16 (WriteConsoleW), so that any text reads right;
// elsewhere in the ANSI code page, the encoding of java's own output there,
// so that one file holds one encoding. POSIX: the bytes as they are.
// False, with the reason in `failure`, when the text could not be written
// whole (a full disk, a closed stream); the stream takes later writes anew.
bool write_text(std::FILE* stream, const std::string& text, Failure& failure);

// An argument as the platform's narrow text decoded to UTF-16, the form Java
// strings take, into `text16`: on Windows from the launcher's code page.
// Returns false where the platform's java leaves that to the JVM, which
// decodes by the character set of the user's locale (POSIX): the launcher
// then asks the JVM as java does.
bool decode_arg(const std::string& text, std::u16string& text16);

}  // namespace os
