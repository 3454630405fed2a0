// Text as the programs that the launcher starts read it.
#include <gtest/gtest.h>

#include "launch/commandText.h"
#include "os/platform.h"
#include "os/process.h"
#include "os/text.h"
#include "testSupport.h"

namespace {

// java.exe reads its command line in the system's ANSI code page (1252 in
// the unit tests' runs under Wine): a character the page lacks is '?' there,
// never a look-alike quote or backslash, and the quoting counts what java
// reads. On POSIX the words are shown as they are.
TEST(CommandText, IsWhatTheChildReads)
{
    const std::string quote = "\xef\xbc\x82", backslash = "\xef\xbc\xbc";
    const os::Command command{{"C:\\j\\java.exe", "-Dx=" + quote, "a" + quote + " b", "c" + backslash, "\xc5\x82\xc3\xa9"}, 1};
    EXPECT_EQ(testing_support::on_windows
                  ? "\"C:\\j\\java.exe\" -Dx=? \"a? b\" \"c?\" \"?\xc3\xa9\" "
                  : render_command_text(command.words, command.option_words, os::facts.program_token),
              os::command_text(command));
    EXPECT_EQ(testing_support::on_windows ? "?\xe9" : "\xc5\x82\xc3\xa9", os::to_child_encoding("\xc5\x82\xc3\xa9"));
}

}  // namespace
