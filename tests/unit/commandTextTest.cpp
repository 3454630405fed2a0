#include <gtest/gtest.h>

#include "commandText.h"

namespace {

struct QuoteCase {
    const char* arg;
    const char* quoted;
};

// Each rule of the quoting, one case a line.
const QuoteCase quote_cases[] = {
    {"", R"("")"},                      // an empty argument still is one
    {"plain", R"("plain")"},            // quoted even without spaces
    {"a b\tc", "\"a b\tc\""},           // blanks need no escape inside quotes
    {R"(C:\dir\file)", R"("C:\dir\file")"},  // inner backslashes stay single
    {R"(C:\dir\)", R"("C:\dir\\")"},    // a trailing backslash is doubled
    {R"(a\\)", R"("a\\\\")"},           // every trailing backslash is doubled
    {R"(say "hi")", R"("say \"hi\"")"},  // a quote is escaped
    {R"(a\"b)", R"("a\\\"b")"},         // backslashes before a quote: 2n+1
    {R"(\\"x)", R"("\\\\\"x")"},
    {"*?", R"("*?")"},                  // wildcards are plain characters
};

TEST(QuoteArg, FollowsTheRuntimeRules)
{
    for (const QuoteCase& c : quote_cases) {
        std::string text;
        append_quoted_arg(text, c.arg);
        EXPECT_EQ(c.quoted, text) << "argument: " << c.arg;
    }
}

TEST(QuoteProgram, LeavesBackslashesAlone)
{
    std::string text;
    append_quoted_program(text, R"(C:\j\bin\java.exe)");
    EXPECT_EQ(R"("C:\j\bin\java.exe")", text);
}

struct SplitCase {
    const char* text;
    std::vector<std::string> argv;
};

TEST(SplitCommandText, ReadsLikeTheCRuntime)
{
    const SplitCase cases[] = {
        {R"("prog" )", {"prog"}},
        {R"(prog a b)", {"prog", "a", "b"}},
        {R"("C:\dir\" x)", {R"(C:\dir\)", "x"}},  // program name: quotes only
        {R"(p "a b"  c)", {"p", "a b", "c"}},
        {"p a\tb", {"p", "a", "b"}},
        {R"(p "")", {"p", ""}},
        {R"(p a\b)", {"p", R"(a\b)"}},             // lone backslashes are literal
        {R"(p a\\"b c")", {"p", R"(a\b c)"}},      // 2n backslashes + quote
        {R"(p a\\\"b)", {"p", R"(a\"b)"}},         // 2n+1 backslashes + quote
        {R"(p "a""b")", {"p", R"(a"b)"}},          // "" inside quotes
        {R"(p ab"c d"e)", {"p", "abc de"}},        // quotes inside a word
        {R"(p "unterminated)", {"p", "unterminated"}},
        {"", {""}},
    };
    for (const SplitCase& c : cases)
        EXPECT_EQ(c.argv, split_command_text(c.text)) << "text: " << c.text;
}

}  // namespace
