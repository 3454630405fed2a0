// Writing and reading Windows command texts.
//
// A child on Windows receives one command text and splits it into argv by the
// rules of the Microsoft C runtime (java.exe applies the same rules). These
// two functions are the inverse of each other: every list of arguments that
// append_quoted_arg writes comes back unchanged from split_command_text.
// They know no OS: the caller says how the program token is written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// How the program token, the first of a command text, is written and read.
enum class ProgramToken {
    // In double quotes as it is, read up to the next double quote, where
    // backslashes are never doubled: the C runtime reads the first token so
    // (Windows paths cannot hold '"').
    quoted,
    // Escaped like an argument and read back by the argument rules: POSIX
    // paths may hold '"' or end in a backslash.
    escaped,
};

// Appends `arg` to `text` as one token in double quotes, escaped so that the
// C runtime gives back exactly `arg`. A text without double quotes and without
// trailing backslashes is written byte for byte between the quotes.
void append_quoted_arg(std::string& text, const std::string& arg);

// Appends a JVM option word: as it is when it holds no space, tab or double
// quote (so option texts keep their familiar unquoted form), otherwise, and
// when it is empty, quoted as append_quoted_arg does, so that it stays one
// word for the reader.
void append_option_word(std::string& text, const std::string& word);

// Appends the program token as `token` says (the port's: os::facts.program_token).
void append_quoted_program(std::string& text, const std::string& program, ProgramToken token);

// The command `words` as one text: words[0] as the program token, words[1]
// .. words[option_words] as option words, then every other word quoted,
// each token followed by one space. Byte for byte: the Windows port
// converts the words to its code page first.
std::string render_command_text(const std::vector<std::string>& words, std::size_t option_words,
                                ProgramToken token);

// Splits a command text into argv the way the Microsoft C runtime does,
// argv[0] by the program-name rules and the rest by the argument rules; an
// escaped program token by the argument rules too, as append_quoted_program
// wrote it.
std::vector<std::string> split_command_text(const std::string& text, ProgramToken token);

// Appends `word` to the text of a Java argument file (the "@file" of the JDK
// launcher) as one double-quoted token followed by a line feed, escaped so
// that java reads back exactly `word`: a backslash, a double quote and the
// line breaks, tab and form feed are written as backslash sequences.
void append_argument_file_word(std::string& text, const std::string& word);
