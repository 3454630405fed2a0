#include <gtest/gtest.h>

#include "commandText.h"
#include "testSupport.h"

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
        EXPECT_EQ((std::vector<std::string>{"p", c.arg}), split_command_text("p " + text + " ")) << text;
    }
}

// A Windows path is written as it is (the C runtime reads the program token
// up to the next quote); POSIX names may hold a quote or end in a backslash,
// and every program comes back whole from the split.
TEST(QuoteProgram, PathsStayAsTheyAreAndSplitBackWhole)
{
    std::vector<std::string> programs = {R"(C:\j\bin\java.exe)", "/opt/jre 17/bin/java"};
    if (!testing_support::on_windows)
        programs.insert(programs.end(), {R"(/opt/jre"x/bin/java)", R"(/opt/odd\)"});
    for (const std::string& program : programs) {
        std::string text;
        append_quoted_program(text, program);
        if (program.find('"') == std::string::npos && program.back() != '\\') {
            EXPECT_EQ('"' + program + '"', text);
        }
        EXPECT_EQ((std::vector<std::string>{program, "a"}), split_command_text(text + R"( "a")")) << text;
    }
    if (testing_support::on_windows) {
        EXPECT_EQ((std::vector<std::string>{R"(C:\dir\)", "x"}), split_command_text(R"("C:\dir\" x)"));
    }
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
