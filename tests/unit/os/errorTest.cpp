// The OS layer's error texts.
#include <gtest/gtest.h>

#include "os/error.h"
#include "testSupport.h"

namespace {

// The OS's text for a failed start stands on a line of its own after the
// launcher's message: one line, no insert such as "%1" left in it.
TEST(ErrorText, OneLineWithoutInserts)
{
    for (int error : {2, 5, 193}) {  // not found, access denied, not an executable (Windows)
        const std::string text = os::error_text(error);
        EXPECT_FALSE(text.empty()) << error;
        EXPECT_EQ(std::string::npos, text.find_first_of("\r\n%")) << error << ": " << text;
    }
    // A subject takes the place the text has for its file.
    if (testing_support::on_windows) {
        EXPECT_NE(std::string::npos, os::error_text(193, "C:\\j\\java.exe").find("C:\\j\\java.exe"));
    }
    // A failure's own words, where the OS gave some, before its number's.
    EXPECT_EQ("no such library", os::error_text(os::Failure("dlopen", 0, "no such library")));
    EXPECT_EQ(os::error_text(2), os::error_text(os::Failure("open", 2)));
}

}  // namespace
