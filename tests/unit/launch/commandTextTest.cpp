// Command texts as the C runtime reads them, and Java argument files.
#include <gtest/gtest.h>

#include "launch/commandText.h"

namespace {

struct QuoteCase {
    const char* arg;
    const char* quoted;
};

// Each rule of the quoting, one case a line; every argument also splits
// back whole.
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
    {R"(x="y z"\)", R"("x=\"y z\"\\")"},
    {"*?", R"("*?")"},                  // wildcards are plain characters
    {"\xe9\xfc\x80\xff", "\"\xe9\xfc\x80\xff\""},  // bytes of any encoding pass as they are
};

TEST(QuoteArg, FollowsTheRuntimeRulesAndSplitsBack)
{
    for (const QuoteCase& c : quote_cases) {
        std::string text;
        append_quoted_arg(text, c.arg);
        EXPECT_EQ(c.quoted, text) << "argument: " << c.arg;
        for (ProgramToken token : {ProgramToken::quoted, ProgramToken::escaped})
            EXPECT_EQ((std::vector<std::string>{"p", c.arg}), split_command_text("p " + text + " ", token)) << text;
    }
}

// A Windows path is written as it is (the C runtime reads the program token
// up to the next quote); POSIX names may hold a quote or end in a backslash,
// and every program comes back whole from the split.
TEST(QuoteProgram, PathsStayAsTheyAreAndSplitBackWhole)
{
    const struct {
        ProgramToken token;
        const char* program;
        const char* quoted;
    } cases[] = {
        {ProgramToken::quoted, R"(C:\j\bin\java.exe)", R"("C:\j\bin\java.exe")"},
        {ProgramToken::quoted, R"(C:\j\)", R"("C:\j\")"},  // no backslash doubled
        {ProgramToken::quoted, "/opt/jre 17/bin/java", R"("/opt/jre 17/bin/java")"},
        {ProgramToken::escaped, R"(C:\j\bin\java.exe)", R"("C:\j\bin\java.exe")"},
        {ProgramToken::escaped, "/opt/jre 17/bin/java", R"("/opt/jre 17/bin/java")"},
        {ProgramToken::escaped, R"(/opt/jre"x/bin/java)", R"("/opt/jre\"x/bin/java")"},
        {ProgramToken::escaped, R"(/opt/odd\)", R"("/opt/odd\\")"},
    };
    for (const auto& c : cases) {
        std::string text;
        append_quoted_program(text, c.program, c.token);
        EXPECT_EQ(c.quoted, text);
        EXPECT_EQ((std::vector<std::string>{c.program, "a"}), split_command_text(text + R"( "a")", c.token)) << text;
    }
}

struct SplitCase {
    const char* text;
    std::vector<std::string> argv;
};

// Each case reads so whichever rule the program token follows; the last ones
// tell the two rules apart.
TEST(SplitCommandText, ReadsLikeTheCRuntime)
{
    const SplitCase cases[] = {
        {R"("prog" )", {"prog"}},
        {R"(prog a b)", {"prog", "a", "b"}},
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
    for (const SplitCase& c : cases) {
        for (ProgramToken token : {ProgramToken::quoted, ProgramToken::escaped})
            EXPECT_EQ(c.argv, split_command_text(c.text, token)) << "text: " << c.text;
    }
    // The program token up to the next quote, its backslashes plain; or by
    // the argument rules.
    const struct {
        ProgramToken token;
        SplitCase split;
    } by_rule[] = {
        {ProgramToken::quoted, {R"("C:\dir\" x)", {R"(C:\dir\)", "x"}}},
        {ProgramToken::escaped, {R"("C:\dir\" x)", {R"(C:\dir" x)"}}},
        {ProgramToken::quoted, {R"(C:\a\\"b c" d)", {R"(C:\a\\b c)", "d"}}},
        {ProgramToken::escaped, {R"(C:\a\\"b c" d)", {R"(C:\a\b c)", "d"}}},
    };
    for (const auto& c : by_rule)
        EXPECT_EQ(c.split.argv, split_command_text(c.split.text, c.token)) << "text: " << c.split.text;
}

}  // namespace

namespace {

// The JDK launcher reads an argument file by these rules; the real java
// reads such a file back in the launcher tests.
TEST(ArgumentFileWord, IsQuotedAndEscapedForTheJavaLauncher)
{
    const QuoteCase cases[] = {
        {"", "\"\"\n"},                           // an empty word still is one
        {"a b 'c' # d @e", "\"a b 'c' # d @e\"\n"},  // no special meaning inside quotes
        {R"(C:\dir\)", "\"C:\\\\dir\\\\\"\n"},    // every backslash is doubled
        {R"(say "hi")", "\"say \\\"hi\\\"\"\n"},  // a quote is escaped
        {"l1\nl2\r\t\f", "\"l1\\nl2\\r\\t\\f\"\n"},  // line breaks would end the token
    };
    for (const QuoteCase& c : cases) {
        std::string text;
        append_argument_file_word(text, c.arg);
        EXPECT_EQ(c.quoted, text);
    }
}

}  // namespace
