// Fuzzes the launcher's command text: any argument list that CommandLine
// quotes comes back unchanged from split_command_text, and any text at all
// splits without fault and survives being quoted and split again, by either
// rule for the program token.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "commandLine.h"
#include "launch/commandText.h"
#include "os/platform.h"

namespace {

// The input as words separated by zero bytes.
std::vector<std::string> words_of(const std::string& input)
{
    std::vector<std::string> words(1);
    for (char c : input) {
        if (c == '\0')
            words.emplace_back();
        else
            words.back() += c;
    }
    return words;
}

void quoted_list_comes_back(const std::string& input)
{
    std::vector<std::string> words = words_of(input);
    // The first word is the program; a program path holds no double quote.
    std::string program;
    for (char c : words[0])
        if (c != '"')
            program += c;
    CommandLine cmd(program.c_str());
    for (std::size_t i = 1; i < words.size(); ++i)
        cmd.process_arg(words[i].c_str());

    // The wrapper options are consumed; what the command holds must return.
    std::vector<std::string> expected = {program};
    for (int i = 0; i < cmd.get_num_of_args(); ++i)
        expected.push_back(cmd.get_arg(i));
    if (split_command_text(cmd.build_command_text(), os::facts.program_token) != expected)
        std::abort();
}

void any_text_splits_stably(const std::string& text, ProgramToken token)
{
    const std::vector<std::string> argv = split_command_text(text, token);
    std::string again;
    append_quoted_program(again, argv[0], token);
    for (std::size_t i = 1; i < argv.size(); ++i) {
        again += ' ';
        append_quoted_arg(again, argv[i]);
    }
    if (split_command_text(again, token) != argv)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    quoted_list_comes_back(input);
    any_text_splits_stably(input, ProgramToken::quoted);
    any_text_splits_stably(input, ProgramToken::escaped);
    return 0;
}
