// A property of the launcher's quoting: random argument lists from a fixed
// seed, rendered by CommandLine, come back equal from the splitter, and
// lists chosen to meet every rule come back as the argv of a real child.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "commandLine.h"
#include "launch/commandText.h"
#include "os/platform.h"
#include "testSupport.h"
#include "unitHelpers.h"

namespace {

using namespace testing_support;

// Mostly the characters that the quoting treats specially, and multi-byte
// UTF-8 text that every code page of the tests carries unchanged.
const char* const pieces[] = {"\"", "\"", " ", "\t", "\\", "\\", "a", "Z", "-", "=", "*",
                              "\n", "\xc3\xa9", "\xd0\x96", "\xe4\xb8\xad", "\xf0\x9f\x98\x80"};
const int piece_count = sizeof pieces / sizeof pieces[0];
const int first_program_piece = 2;  // a program path holds no double quote

class RandomLists {
public:
    // Lists of up to 6 arguments of up to 8 pieces each.
    std::vector<std::string> next_args()
    {
        std::vector<std::string> args(count_(rng_));
        for (std::string& arg : args)
            arg = next_text(0);
        return args;
    }
    std::string next_program() { return next_text(first_program_piece); }

private:
    std::string next_text(int first_piece)
    {
        std::uniform_int_distribution<int> piece(first_piece, piece_count - 1);
        std::string text;
        for (int n = length_(rng_); n > 0; --n)
            text += pieces[piece(rng_)];
        return text;
    }

    std::mt19937 rng_{20261208};
    std::uniform_int_distribution<int> count_{0, 6};
    std::uniform_int_distribution<int> length_{0, 8};
};

std::unique_ptr<CommandLine> command_of(const std::string& program, const std::vector<std::string>& args)
{
    std::unique_ptr<CommandLine> cmd(new CommandLine(program.c_str()));
    for (const std::string& arg : args)
        cmd->process_arg(arg.c_str());
    return cmd;
}

TEST(QuoteRoundTrip, MillionRandomListsComeBackFromTheSplitter)
{
    RandomLists lists;
    for (int n = 0; n < 1000000; ++n) {
        const std::string program = lists.next_program();
        std::vector<std::string> expected = lists.next_args();
        const std::string text = command_of(program, expected)->build_command_text();
        expected.insert(expected.begin(), program);
        ASSERT_EQ(expected, split_command_text(text, os::facts.program_token)) << "list " << n << ", text: " << text;
    }
}

// Lists that meet every quoting rule at least once: backslash runs before a
// quote, before the closing quote and alone; quotes inside, at either end and
// alone; blanks; empty arguments; non-ASCII text (of code page 1252, which
// a Windows child gets whole; ChildLaunch has the characters it lacks). A
// real child's argv is the judge, where a process start is what costs (tens
// of milliseconds under Wine), so chosen lists stand in for a random sample.
TEST(QuoteRoundTrip, ChosenListsComeBackAsTheArgvOfARealChild)
{
    const std::vector<std::vector<std::string>> lists = {
        {},
        {""},
        {"", "", ""},
        {"a", "", "b"},
        {" "},
        {"a b", "  two  spaces  "},
        {"\t", "tab\there", "\ttab at both ends\t"},
        {"line\nbreak", "\n"},
        {"\""},
        {"\"\"", "\"\"\""},
        {"a\"b", "\"quoted\"", "x=\"y z\""},
        {"\\"},
        {"\\\\", "\\\\\\"},
        {"dir\\", "C:\\dir\\", "\\\\server\\share\\"},
        {"C:\\dir\\\\", "trailing run \\\\\\"},
        {"\\\"", "\\\\\"", "\\\\\\\""},
        {"a\\\"b", "a\\\\\"b", "a\\\\\\\"b"},
        {"\\a\\b\\c", "no\\quote\\here"},
        {"\"\\", "\\\"\\"},
        {" \\", "\\ ", "\" \""},
        {"*", "?.txt", "*.jar"},
        {"-Dx=1", "--", "'single'", "%PATH%", "$HOME", "a&b|c<d>e^f"},
        {"caf\xc3\xa9", "\xc5\x93\xc3\xbc", "\xe2\x82\xac"},
        {"\xc3\xa9 \"\xe2\x82\xac\" \\"},
        {"mixed \t\"\\\" \\\\ end\\"},
        std::vector<std::string>(8, "\""),
        std::vector<std::string>(6, ""),
        {"x\\\"\"\\\"y", "\"\\\\\"\\\\\\\"\\"},
    };
    TempDir dir;
    const std::string report_path = dir / "report";
    ScopedEnv report("TEST_CHILD_REPORT", report_path);
    const std::string child = unit_helpers::program_beside_tests("test_child");
    for (std::size_t n = 0; n < lists.size(); ++n) {
        std::unique_ptr<CommandLine> cmd = command_of(child, lists[n]);
        remove_tree(report_path);
        // Wine fails a process start now and then (seen once in thousands,
        // on a busy machine); a list whose start fails twice is a fault.
        int status = cmd->run();
        if (status == -1)
            status = cmd->run();
        ASSERT_EQ(0, status) << "list " << n;
        ChildReport seen = read_child_report(report_path);
        ASSERT_TRUE(seen.found) << "list " << n;
        EXPECT_EQ(lists[n], seen.args) << "list " << n << ", text: " << cmd->build_command_text();
    }
}

}  // namespace
