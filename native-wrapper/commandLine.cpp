#include "commandLine.h"

#include <cstring>
#include <utility>

#include "launch/commandText.h"
#include "message.h"
#include "os/platform.h"
#include "os/text.h"
#include "wrapAssert.h"

CommandLine::CommandLine()
    : out_stream(stdout),
      err_stream(stderr),
      num_of_args(0),
      size_of_arg_array(initial_arg_array_size),
      report_launch_errors(true),
      capture_output(false),
      argument_file_allowed(false),
      process_replacement_allowed(false),
      tmp_file_exists(false),
      verbose(false),
      exec_enabled(true),
      wait_for_exit(true),
      hide_window(true)
{
    // The arguments are constructed in reserved room as they come: filling
    // it with empty texts first would write every entry twice.
    arg_array.reserve(size_of_arg_array);
}

CommandLine::CommandLine(const char* new_program) : CommandLine()
{
    set_program(new_program);
}

CommandLine::CommandLine(const char* new_program, int argc, char** argv) : CommandLine()
{
    set_program_and_args(new_program, argc, argv);
}

CommandLine::~CommandLine()
{
    size_of_arg_array = 0;
}

void CommandLine::set_program(const char* new_program)
{
    program = new_program;
}

void CommandLine::set_program_and_args(const char* new_program, int argc, char** argv)
{
    set_program(new_program);
    for (int i = 0; i < argc; ++i)
        process_arg(argv[i]);
}

void CommandLine::process_arg(const char* arg)
{
    if (may_be_option(arg)) {
        if (std::strcmp(arg, "--wrapper-verbose") == 0) {
            verbose = true;
            return;
        }
        if (std::strcmp(arg, "--wrapper-disable-exec") == 0) {
            exec_enabled = false;
            return;
        }
    }
    WRAP_ASSERT(num_of_args <= size_of_arg_array);
    if (num_of_args == size_of_arg_array) {
        size_of_arg_array *= 2;
        arg_array.reserve(size_of_arg_array);
    }
    arg_array.emplace_back(arg);
    ++num_of_args;
}

const char* CommandLine::get_arg(int arg_num) const
{
    WRAP_ASSERT(arg_num >= 0 && arg_num < num_of_args);
    return arg_array[arg_num].c_str();
}

void CommandLine::set_arg(int arg_num, const char* value)
{
    WRAP_ASSERT(arg_num >= 0 && arg_num < num_of_args);
    arg_array[arg_num] = value;
}

os::Command CommandLine::build_command()
{
    os::Command command;
    append_words(command);
    return command;
}

std::string CommandLine::build_command_text()
{
    const os::Command command = build_command();
    return render_command_text(command.words, command.option_words, os::facts.program_token);
}

void CommandLine::append_words(os::Command& command) const
{
    // Room for the whole list at once, as for the arguments.
    command.words.reserve(command.words.size() + 1 + num_of_args);
    command.words.push_back(program);
    command.words.insert(command.words.end(), arg_array.begin(), arg_array.begin() + num_of_args);
}

bool CommandLine::make_paths_openable(os::Command&)
{
    return true;
}

bool CommandLine::show_command(const std::string& command_text)
{
    if (verbose)
        echo(command_text);
    return exec_enabled;
}

void CommandLine::enable_verbose_on_err()
{
    if (verbose)
        return;
    verbose = true;
    verbose_on_err = true;
}

void CommandLine::echo(const std::string& line)
{
    os::BrokenPipesFail guard;
    os::Failure failure;
    if (!write_message(verbose_on_err ? err_stream : out_stream, line + "\n", failure) && echo_failure.call == nullptr)
        echo_failure = failure;
}

int CommandLine::end_dry_run()
{
    if (echo_failure.call == nullptr)
        return 0;
    print_err(err_stream, msg::echo_unwritten, os::error_text(echo_failure).c_str());
    return -1;
}

int CommandLine::run()
{
    os::Command command = build_command();
    if (!make_paths_openable(command))
        return -1;
    return show_and_execute(command);
}

int CommandLine::show_and_execute(const os::Command& command)
{
    // The text only for the echo: the OS renders what it needs itself.
    if (verbose)
        echo(os::command_text(command));
    return exec_enabled ? execute(command) : end_dry_run();
}

namespace {

// The OS's text for `error`, on the line after a message that gives its number.
void print_reason(FILE* err, int error)
{
    print_err(err, msg::line, os::error_text(error).c_str());
}

// A Java argument file holding the words of a command after the program,
// open while the object lives (so that no other launcher takes it for a
// killed one's) and deleted when it dies unless kept. For a program that
// replaces this process it is a file without a name, which stays open for
// that program (the object dies only when the replacement failed).
class ArgumentFile {
public:
    ArgumentFile() = default;
    ~ArgumentFile()
    {
        if (file_ != os::invalid_file)
            os::close_file(file_);
        if (!inherited_ && !name_.empty() && !kept_)
            os::delete_file(name_);
    }
    ArgumentFile(const ArgumentFile&) = delete;
    ArgumentFile& operator=(const ArgumentFile&) = delete;

    // Writes the file (`inherited`: one without a name, for a program that
    // replaces this process) and gives the short command that starts the
    // same program with it. Returns false, with a message on `err`, when
    // the file cannot be made.
    bool write(const os::Command& command, os::Command& short_command, FILE* err, bool inherited = false)
    {
        // Each word in the encoding java reads the file in, escaped byte by
        // byte there, as java's reader takes the file byte by byte.
        std::string content;
        for (std::size_t i = 1; i < command.words.size(); ++i)
            append_argument_file_word(content, os::to_child_encoding(command.words[i]));
        os::Failure failure;
        inherited_ = inherited;
        if (!(inherited ? os::create_inherited_file(name_, file_, failure)
                        : os::create_argument_file(name_, file_, failure))) {
            print_err(err, msg::call_failed, failure.call, failure.error);
            print_reason(err, failure.error);
            return false;
        }
        if (!os::write_file(file_, content, failure)) {
            print_err(err, msg::argument_file_unwritten, name_.c_str(), failure.error);
            print_reason(err, failure.error);
            return false;
        }
        // java opens the file by the name it is given, in its code page.
        std::string openable = name_;
        if (!os::path_for_child(openable)) {
            print_err(err, msg::unopenable_path, name_.c_str());
            return false;
        }
        short_command.words = {command.words[0], "@" + openable};
        short_command.option_words = 0;
        return true;
    }

    const std::string& name() const { return name_; }
    // For a child that is not waited for: it reads the file after execute.
    void keep() { kept_ = true; }

private:
    std::string name_;
    bool kept_ = false;
    os::FileHandle file_ = os::invalid_file;
    bool inherited_ = false;
};

}  // namespace

void CommandLine::report_launch_failure(const os::Command& command, int error)
{
    if (!report_launch_errors)
        return;
    print_err(err_stream, msg::failed_to_launch, os::command_text(command).c_str());
    if (error != 0)
        print_err(err_stream, msg::line, os::error_text(error, command.words[0]).c_str());
}

int CommandLine::replace_process(const os::Command& command)
{
    // Whatever stdio still holds would be lost with this process, and the
    // echo must come before the program's own output.
    std::fflush(nullptr);
    os::Failure failure;
    bool too_long = false;
    os::replace_process(command, failure, too_long);
    ArgumentFile argument_file;
    if (too_long && argument_file_allowed) {
        os::Command short_command;
        if (argument_file.write(command, short_command, err_stream, true)) {
            if (verbose)
                echo(msg::argument_file_note + argument_file.name());
            std::fflush(nullptr);
            os::replace_process(short_command, failure, too_long);
        }
    }
    report_launch_failure(command, failure.error);
    return -1;
}

int CommandLine::execute(const os::Command& command)
{
    // Nothing remains to do once the program has ended, so where the OS
    // allows it, it takes this process over.
    if (process_replacement_allowed && os::facts.replaces_process && wait_for_exit && !capture_output)
        return replace_process(command);

    os::ChildLaunch launch;
    launch.hide_window = hide_window;
    // A child that is not waited for may outlive the launcher.
    launch.tie_to_launcher = wait_for_exit;
    launch.started = child_started;

    os::FileHandle capture_file = os::invalid_file;
    if (capture_output) {
        if (create_tmp_file(&capture_file) != 0)
            return -1;
        launch.stdout_file = capture_file;
    }

    // What the launcher wrote so far must come before the child's output
    // when both go to the same pipe or file.
    std::fflush(out_stream);
    std::fflush(err_stream);

    os::Child child;
    ArgumentFile argument_file;
    bool started = child.start(command, launch);
    if (!started && child.too_long() && argument_file_allowed) {
        os::Command short_command;
        if (argument_file.write(command, short_command, err_stream)) {
            if (verbose)
                echo(msg::argument_file_note + argument_file.name());
            started = child.start(short_command, launch);
        }
    }
    int exit_code = 0;
    bool ended = started && wait_for_exit && child.wait(exit_code);

    if (!started || (wait_for_exit && !ended)) {
        report_launch_failure(command, child.failure().error);
        if (capture_file != os::invalid_file) {
            os::close_file(capture_file);
            delete_tmp_file();
        }
        return -1;
    }
    if (!wait_for_exit)
        argument_file.keep();

    if (capture_file != os::invalid_file) {
        os::close_file(capture_file);
        if (ended)
            read_tmp_file();
        delete_tmp_file();
    }
    return exit_code;
}

int CommandLine::create_tmp_file(os::FileHandle* handle_out)
{
    os::Failure failure;
    if (!os::create_temp_file(tmp_file_name, *handle_out, failure)) {
        print_err(err_stream, msg::call_failed, failure.call, failure.error);
        print_reason(err_stream, failure.error);
        return -1;
    }
    tmp_file_exists = true;
    return 0;
}

int CommandLine::delete_tmp_file()
{
    if (!tmp_file_exists)
        return -1;
    os::delete_file(tmp_file_name);
    tmp_file_exists = false;
    return 0;
}

int CommandLine::read_tmp_file()
{
    std::string text;
    os::Failure failure;
    if (!os::read_file_start(tmp_file_name, max_captured_bytes, text, failure)) {
        print_err(err_stream, msg::capture_unread, tmp_file_name.c_str(), failure.error);
        print_reason(err_stream, failure.error);
        return 0;
    }
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    // The captured text is a C string: it ends at the first zero byte.
    captured_output.assign(text.c_str());
    if (verbose)
        echo(captured_output);
    return 0;
}
