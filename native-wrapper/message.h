// The launcher's messages: every text that a user may read, in one place,
// and the functions that write them. Every one leaves through write_message
// (or print_out / print_err, which format for it), so that each reads right
// where it goes (os::write_text): on a Windows console as Unicode, written
// to a file or a pipe as bytes.
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

#include "os/error.h"

namespace msg {

// What the launcher is: the first line of the verbose output that
// NATIVE_WRAP_VERBOSE turns on, and the text that tells a binary's version.
inline constexpr char launcher_version[] = "brumlet " BRUMLET_VERSION;

// ---- Fatal errors of the environment (standard error, then exit -1) -------
inline constexpr char undefined_variable[] = "ERROR: %s - Undefined variable\n";
inline constexpr char call_failed_fatally[] = "ERROR: %s() failed!\n";
inline constexpr char no_root_directory[] = "ERROR: %s - Could Not Discover TOVA Root Directory\n";
inline constexpr char assertion_failed[] = "Assertion failed: %s, file %s, line %d\n";

// ---- Launch errors (standard error) ----------------------------------------
inline constexpr char no_jar_files[] = "Error - no jar files found%s.\n";
inline constexpr char failed_to_launch[] = "Error - failed to launch '%s'.\n";
inline constexpr char unopenable_path[] =
    "Error - java cannot open '%s': the path holds characters outside the system's code page, "
    "and the volume gives it no short name.\n";
// An OS call by its name, and the error number it failed with.
inline constexpr char call_failed[] = "%s failed with error %d.\n";
inline constexpr char argument_file_unwritten[] = "Writing the argument file %s failed with error %d.\n";
inline constexpr char capture_unread[] = "Could not open tmp file %s (error %d)\n";
// The OS's own reason, or any text given whole, on a line of its own.
inline constexpr char line[] = "%s\n";
// What a dry run was to show did not reach its reader.
inline constexpr char echo_unwritten[] = "Error - the verbose output could not be written: %s\n";
// Paths that java would not get whole: refused before anything starts.
inline constexpr char runtime_path_quote[] =
    "Error - the Java runtime path '%s' holds the character '\"', which no Windows path holds and which would end "
    "java's name on its command line.\n";
inline constexpr char installation_dir_separator[] =
    "Error - the installation directory '%s' holds the class path separator '%c', which would cut the path of each "
    "of its jars in two.\n";

// ---- Notes of --wrapper-verbose (standard output) ---------------------------
// How the tool starts, under NATIVE_WRAP_VERBOSE (standard error).
inline constexpr char exec_launch_note[] = "Launch: java in place of the launcher (exec)";
inline constexpr char child_launch_note[] = "Launch: java as a child process";
inline constexpr char in_process_launch_note[] = "Launch: in-process, the JVM library '%s'";
// A jar that cannot be one class-path entry, and why.
inline constexpr char separator_jar_note[] = "Class path: '%s' is left out: its name holds the list separator '%c'.";
inline constexpr char irregular_jar_note[] = "Class path: '%s' is left out: it is not a regular file.";
inline constexpr char argument_file_note[] =
    "The command text is too long for the system; an argument file carries it: ";

// ---- The in-process launch --------------------------------------------------
// Standard error, as java's launcher and its loader write them.
inline constexpr char cannot_load_library[] = "Cannot load library: '%s'\n%s\n";
inline constexpr char cannot_load_symbol[] =
    "Cannot load symbol/function: '%s'\nThe library '%s' does not export it.\n";
inline constexpr char picked_up_options[] = "NOTE: Picked up %s: %s\n";
// Standard output.
inline constexpr char jvm_not_created[] = "\nJavaCommandLine: Unable to Launch JVM with JNI\n";
inline constexpr char no_splash_screen[] = "Could not load splash screen: %s\n";

// ---- java's refusals of its option variables and argument files ------------
// Word for word as the runtime's java gives them (no line break).
inline constexpr char java_cannot_open[] = "Error: could not open `%s'";
inline constexpr char java_file_too_large[] = "Error: Argument file size should not be larger than %s.";
inline constexpr char java_cannot_read[] = "Error: Failed to read %s";         // JDK 25 on
inline constexpr char java_cannot_load[] = "Error: loading: %s";              // before JDK 25
inline constexpr char java_option_in_file_refused[] = "Error: Option %s in %s is not allowed in environment variable %s";
inline constexpr char java_option_refused[] = "Error: Option %s is not allowed in environment variable %s";
inline constexpr char java_main_class_refused[] = "Error: Cannot specify main class in environment variable %s";
inline constexpr char java_unmatched_quote[] = "Error: Unmatched quote in environment variable %s";
inline constexpr char java_value_missing[] = "Error: %s requires %s";
inline constexpr char java_option_deprecated[] =
    "Warning: %s option is deprecated and may be removed in a future release.";
inline constexpr char java_option_unsupported[] = "Warning: %s option is no longer supported.";

// ---- The class-data cache ----------------------------------------------------
// The notes that --wrapper-verbose shows (standard output), and the reasons
// that a failed archive's KEY.bad keeps. Each has one %s at most.
inline constexpr char not_supported_note[] =
    "Class cache not used: the runtime at '%s' is older than Java 13 or its release file cannot be read.";
inline constexpr char unusable_dir_note[] =
    "Class cache not used: '%s' cannot be made or opened, is a link, or another user can change it.";
inline constexpr char separator_note[] =
    "Class cache not used: the JVM cannot take the path '%s' (a list separator in it).";
inline constexpr char foreign_name_note[] =
    "Class cache not used: java.exe cannot be given the path '%s' in the ANSI code page.";
inline constexpr char own_sharing_note[] =
    "Class cache not used: the JVM option %s chooses class-data sharing, reads options from a file, or logs class "
    "loading.";
inline constexpr char runtime_archive_note[] =
    "Class cache not used: java warns that it cannot use the runtime's own archive '%s'.";
inline constexpr char foreign_file_note[] = "Class cache not used: '%s' is not this user's own file.";
inline constexpr char unmade_note[] = "Class cache not used: '%s' cannot be made: ";
inline constexpr char superuser_note[] =
    "Class cache not used: '%s' is not the superuser's own, and a run as the superuser would leave its files there.";
inline constexpr char few_files_note[] =
    "Class cache not used: the hard limit of open files is below %s, and the cache keeps two of them open.";
inline constexpr char closed_streams_note[] =
    "Class cache not used: a standard stream is closed, and a file of the cache would take its place.";
inline constexpr char failed_note[] = "Class cache not used: the archive of this launch could not be made (%s).";
inline constexpr char lasting_failure_note[] =
    "Class cache not used: making the archive of this launch failed within the last day, and would again:\n%s";
// The reasons a JVM of the archive's run failed for good, as KEY.bad holds them.
inline constexpr char made_nothing_reason[] = "The JVM made no archive.";
inline constexpr char signal_reason[] = "The JVM ended with status %s.";
inline constexpr char listing_note[] = "Class cache: this run lists the classes it loads in '%s'.";
inline constexpr char busy_note[] = "Class cache: another run lists the classes or makes the archive '%s'.";
inline constexpr char job_note[] = "Class cache: the archive is made in the background from '%s'.";
inline constexpr char archive_run_unstarted_note[] = "Class cache: the run that makes the archive cannot be started.";
inline constexpr char unsafe_parent_note[] =
    "Class cache not used: another user may rename or replace what is in '%s', a directory above the cache's.";
inline constexpr char unopened_dir_note[] = "Class cache not used: '%s' cannot be made or opened: ";
inline constexpr char discarded_note[] =
    "Class cache: the archive of this launch is discarded and made anew: '%s' has changed since it was made.";
// A run as the first process of its PID namespace, whose end ends every
// process in it; %s: the variable that prepares the cache.
inline constexpr char first_process_note[] =
    "Class cache: no archive is made in the background: this is the first process of its PID namespace, whose end "
    "ends that run; a run with %s=1 makes it in the foreground.";
// What a preparing run made, and what it will make from the list %s.
inline constexpr char preparing_note[] = "Class cache: the archive is made from '%s' once the tool has ended.";
inline constexpr char prepared_note[] = "Class cache: the archive is in place: '%s'.";
inline constexpr char unprepared_note[] = "Class cache: no archive was made: %s";
inline constexpr char inputs_changed_reason[] = "its inputs changed, or the cache's directory cannot be used.";
inline constexpr char not_to_make_reason[] =
    "another run lists the classes or makes the archive, the disk has too little room, or an attempt failed "
    "within the last day.";
// %s: the option, as "-Djava.system.class.loader".
inline constexpr char unhidden_reason[] = "The JVM's output with %s would show the archive.";
inline constexpr char failed_for_now_reason[] =
    "the attempt failed for the moment (memory, room on the disk, its JVM ended from outside); a later run tries "
    "again.";
inline constexpr char no_room_note[] =
    "Class cache: no archive is made now: the user's limits or a cgroup leave too little room for its JVM beside "
    "the tools; a later run tries again.";

}  // namespace msg

// Writes `text` to `stream` through os::write_text, flushed; a message that
// cannot be written is lost.
void write_message(std::FILE* stream, const std::string& text);
// The same, saying whether the text was written, and why not.
bool write_message(std::FILE* stream, const std::string& text, os::Failure& failure);

// Formats like printf and writes the text as write_message does, to the
// standard output the caller holds (a command line's out_stream) ...
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void print_out(std::FILE* out, const char* format, ...);

// ... or to its standard error.
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void print_err(std::FILE* err, const char* format, ...);

// The text that printf would write for `format`.
#ifdef __GNUC__
__attribute__((format(printf, 1, 2)))
#endif
std::string formatted(const char* format, ...);

// `format` with `subject` in place of its one %s.
std::string formatted(const char* format, const std::string& subject);
