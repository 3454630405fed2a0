// CommandLine: one command to be run as a child process. It holds a program
// and an ordered list of arguments, recognises the wrapper options common to
// all launchers ("--wrapper-verbose", "--wrapper-disable-exec") wherever they
// stand, hands the command to the OS as a list of words (which the Windows
// port renders into its command line), echoes the text the child reads,
// waits for the child and returns its exit code. On request it captures the
// child's standard output.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "os/process.h"

class CommandLine {
public:
    CommandLine();
    explicit CommandLine(const char* program);
    CommandLine(const char* program, int argc, char** argv);
    virtual ~CommandLine();

    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // Builds the command, echoes its text when verbose and, unless
    // execution is disabled, executes it. Returns the child's exit code, -1
    // when the child cannot be started or waited for (or a path cannot be
    // handed to it), 0 when execution is disabled.
    virtual int run();

    // Takes one argument: a wrapper option is consumed, anything else is
    // appended to the arguments in order.
    virtual void process_arg(const char* arg);

    // The command as a list of words: the program, then each argument.
    virtual os::Command build_command();

    // The command rendered as one text, byte for byte as the words are:
    // the quoted program, then each argument quoted, each token followed by
    // one space (render_command_text).
    std::string build_command_text();

    void set_program(const char* program);
    // Sets the program, then sends argv[0] .. argv[argc-1] through the
    // virtual process_arg, so a derived constructor gets its own handler.
    void set_program_and_args(const char* program, int argc, char** argv);

    int get_num_of_args() const { return num_of_args; }
    // Valid until the argument is replaced, the array grows or the object dies.
    const char* get_arg(int arg_num) const;
    void set_arg(int arg_num, const char* value);

    // Verbose as NATIVE_WRAP_VERBOSE asks for it, unless --wrapper-verbose
    // was given: the echo then goes to err_stream, so that it stays out of
    // what a caller reads of the tool's output.
    void enable_verbose_on_err();
    bool get_verbose() const { return verbose; }
    bool get_exec_enabled() const { return exec_enabled; }

    // Echoes the text when verbose; answers whether to execute.
    bool show_command(const std::string& command_text);
    // Writes `line` and a line feed to out_stream (err_stream, see
    // enable_verbose_on_err) at once. An output whose
    // reader has gone does not end the launcher: the echo is lost, the
    // launch goes on.
    void echo(const std::string& line);

    // Starts the child and returns its exit code, or -1 when it cannot be
    // started or waited for (with "Error - failed to launch '...'." on
    // err_stream, the text as os::command_text gives it, unless
    // launch-error reports are off). While it waits, a
    // console interrupt is left to the child, and the child ends with the
    // launcher. With process replacement on a port that has it, the program
    // replaces this process instead, and execute returns only the -1 of a
    // failure.
    int execute(const os::Command& command);

    // For a launch after which nothing remains to do: where the OS can
    // (POSIX), execute runs the program in this process (execve) instead
    // of as a child, so that its signals, pid and exit status are those the
    // caller sees. Not with output capture.
    void enable_process_replacement() { process_replacement_allowed = true; }

    // For a program that reads Java argument files ("java @file"): when the
    // command text is longer than the OS accepts, execute writes every word
    // after the program into such a file in the temporary directory, starts
    // the program with "@file" instead and deletes the file when the child
    // has ended. A program that replaces this process gets a file without a
    // name in any directory instead ("@/dev/fd/N"), which nothing can leave
    // behind.
    void enable_argument_file() { argument_file_allowed = true; }

    void disable_launch_error_reports() { report_launch_errors = false; }

    // Output capture: the child's standard output goes to a temporary file
    // that is read back (at most 4095 bytes, one trailing line feed removed)
    // and deleted before execute returns.
    void enable_output_capture() { capture_output = true; }
    const char* get_captured_output() const { return captured_output.c_str(); }
    std::size_t get_captured_output_length() const { return captured_output.size(); }

    void set_streams(FILE* out, FILE* err)
    {
        out_stream = out;
        err_stream = err;
    }

    static constexpr int initial_arg_array_size = 16;
    static constexpr std::size_t max_captured_bytes = 4095;

protected:
    // Every launcher option begins with "--": other arguments, usually all
    // of them, skip the comparisons.
    static bool may_be_option(const char* arg) { return arg[0] == '-' && arg[1] == '-'; }

    // Appends the program and the arguments to `command`'s words: a
    // subclass that has words of its own before them copies no long list.
    void append_words(os::Command& command) const;

    // Makes the paths among the words ones that the started program can
    // open (os::path_for_child); false after a message on err_stream when
    // one cannot be. The base knows of no path but the program, which the
    // OS finds by any name.
    virtual bool make_paths_openable(os::Command& command);

    // Echoes the command's text when verbose and, unless execution is
    // disabled, executes it; the rest of run.
    int show_and_execute(const os::Command& command);
    // The status of a run with execution disabled: 0, or -1 after a
    // message when its echo, all that it was to do, could not be written.
    int end_dry_run();
    // The first failure of an echo; none (call null) while all were written.
    os::Failure echo_failure;

    // Execs the command in place of this process; returns -1 after the
    // launch error when that fails.
    int replace_process(const os::Command& command);
    void report_launch_failure(const os::Command& command, int error);

    int create_tmp_file(os::FileHandle* handle_out);
    int delete_tmp_file();
    int read_tmp_file();

    FILE* out_stream;
    FILE* err_stream;
    std::string program;
    int num_of_args;
    int size_of_arg_array;
    std::vector<std::string> arg_array;
    bool report_launch_errors;
    bool capture_output;
    bool argument_file_allowed;
    bool process_replacement_allowed;
    bool tmp_file_exists;
    std::string tmp_file_name;
    std::string captured_output;
    bool verbose;
    bool verbose_on_err = false;
    bool exec_enabled;
    bool wait_for_exit;
    bool hide_window;
    // Called with the pid of a started child before it runs (see
    // os::ChildLaunch::started); empty: nothing.
    std::function<void(long)> child_started;
};
