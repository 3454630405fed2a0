// The text a started program reads on Windows, for the Windows files that
// hand text to children (os/windows/text.cpp implements it).
#pragma once

#include <windows.h>

#include <string>

namespace os::detail {

// The system's ANSI code page, in which a program without a UTF-8 manifest,
// java.exe among them, reads its command line and java its argument files;
// the launcher's own CP_ACP is UTF-8 through its manifest.
UINT child_code_page();

// `wide` in the child's code page without best fit: a character that the
// page lacks becomes '?', where the default conversion would give a
// look-alike ('l' for U+0142, '"' for U+FF02, a backslash for U+00A5 in
// code page 932) that reads as another text or as quoting.
std::string to_child_bytes(const std::wstring& wide);

// `text` as the child reads it, decoded back into the launcher's text: the
// same characters where the child's code page holds them, '?' elsewhere.
std::string as_child_reads(const std::string& text);

}  // namespace os::detail
