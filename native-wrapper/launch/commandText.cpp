#include "launch/commandText.h"

#include <cstring>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

void append_quoted_arg(std::string& text, const std::string& arg)
{
    text += '"';
    // Most arguments need no escape at all: copied whole, they cost a
    // launch with many arguments next to nothing.
    if (std::memchr(arg.data(), '"', arg.size()) == nullptr && (arg.empty() || arg.back() != '\\')) {
        text += arg;
        text += '"';
        return;
    }
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"') {
                // n backslashes before a quote: write 2n+1, so the reader
                // gets the n backslashes and a literal quote.
                text.append(backslashes + 1, '\\');
            }
            backslashes = 0;
        }
        text += c;
    }
    // A run of backslashes before the closing quote is doubled, otherwise the
    // last one would escape the quote and swallow the next argument.
    text.append(backslashes, '\\');
    text += '"';
}

void append_option_word(std::string& text, const std::string& word)
{
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos)
        text += word;
    else
        append_quoted_arg(text, word);
}

void append_quoted_program(std::string& text, const std::string& program, ProgramToken token)
{
    if (token == ProgramToken::escaped) {
        append_quoted_arg(text, program);
        return;
    }
    text += '"';
    text += program;
    text += '"';
}

std::string render_command_text(const std::vector<std::string>& words, std::size_t option_words,
                                ProgramToken token)
{
    // One allocation for the usual text: every token, its quotes and a space.
    std::size_t length = 0;
    for (const std::string& word : words)
        length += word.size() + 3;
    std::string text;
    text.reserve(length);
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i == 0)
            append_quoted_program(text, words[0], token);
        else if (i <= option_words)
            append_option_word(text, words[i]);
        else
            append_quoted_arg(text, words[i]);
        text += ' ';
    }
    return text;
}

std::vector<std::string> split_command_text(const std::string& text, ProgramToken token)
{
    std::vector<std::string> argv;
    std::size_t i = 0;
    const std::size_t n = text.size();

    // The program name: quotes toggle quoting and are dropped, backslashes
    // are plain characters. An escaped program token is read by the
    // argument rules below, like every other token.
    bool in_quotes = false;
    if (token == ProgramToken::quoted) {
        std::string program;
        while (i < n && (in_quotes || !is_blank(text[i]))) {
            if (text[i] == '"')
                in_quotes = !in_quotes;
            else
                program += text[i];
            ++i;
        }
        argv.push_back(program);
    }

    for (;;) {
        while (i < n && is_blank(text[i]))
            ++i;
        if (i >= n)
            break;

        std::string arg;
        in_quotes = false;
        while (i < n) {
            std::size_t backslashes = 0;
            while (i < n && text[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < n && text[i] == '"') {
                // 2n backslashes and a quote: n backslashes, and the quote
                // opens or closes a quoted part; 2n+1: n and a literal quote.
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    arg += '"';
                } else if (in_quotes && i + 1 < n && text[i + 1] == '"') {
                    // "" inside quotes is a literal quote.
                    arg += '"';
                    ++i;
                } else {
                    in_quotes = !in_quotes;
                }
                ++i;
                continue;
            }
            // Backslashes not followed by a quote are literal.
            arg.append(backslashes, '\\');
            if (i >= n || (!in_quotes && is_blank(text[i])))
                break;
            arg += text[i];
            ++i;
        }
        argv.push_back(arg);
    }
    if (argv.empty())
        argv.emplace_back();  // there is always a program, if only an empty one
    return argv;
}

void append_argument_file_word(std::string& text, const std::string& word)
{
    text += '"';
    for (char c : word) {
        switch (c) {
        case '\\': text += "\\\\"; break;
        case '"': text += "\\\""; break;
        // java ends a token at a raw line break even inside quotes.
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        case '\f': text += "\\f"; break;
        default: text += c;
        }
    }
    text += "\"\n";
}
