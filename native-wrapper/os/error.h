// Errors of the OS layer. One convention holds for every call in os/:
//
// - A call that can fail says whether it did: it returns bool (false: it
//   failed), or an object whose valid() (a Library: loaded()) says so.
// - Why it failed is an os::Failure: the OS call that failed, by the name
//   that messages show ("GetTempFileName failed with error 5."), the OS's
//   error number (errno, GetLastError), for error_text, and the OS's own
//   words where it gives words rather than a number (dlerror).
//   - A free function whose callers tell the user why fills the Failure
//     that the caller passes it.
//   - An object that holds a live OS resource keeps the Failure of its last
//     call that failed, for failure(): a Child (start, wait, pause, end), a
//     Library (load), an OwnFile (the open that made it).
// - A call whose failure no caller reports answers with its bool alone
//   (file_status, lock_file); a question answers false also where the OS
//   cannot tell (is_directory); a value gives its documented stand-in where
//   the OS cannot tell it (free_disk_space: 0); a call whose failure changes
//   nothing for its caller returns nothing (close_file, delete_file).
// Nothing else carries an error: no global error, no error number or text
// of a call's own.
#pragma once

#include <string>
#include <utility>

namespace os {

struct Failure {
    Failure() = default;
    Failure(const char* failed_call, int error_number, std::string own_text = std::string())
        : call(failed_call), error(error_number), text(std::move(own_text))
    {
    }

    const char* call = nullptr;  // "GetTempFileName", "mkstemp"; null: none failed
    int error = 0;               // errno / GetLastError()
    // The OS's own words for it where it gives words rather than a number
    // (dlerror), or more than error_text says; empty elsewhere.
    std::string text;
};

// The OS's own text for error number `error` (strerror on POSIX,
// FormatMessage on Windows), without a trailing line break; "error N" when
// the OS has none. `subject`, when given, fills the text's place for the
// file it is about (Windows: "%1").
std::string error_text(int error, const std::string& subject = "");

// The OS's words for `failure`: its text where it has one, otherwise
// error_text of its number.
inline std::string error_text(const Failure& failure)
{
    return !failure.text.empty() ? failure.text : error_text(failure.error);
}

}  // namespace os
