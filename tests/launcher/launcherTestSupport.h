// Runs the built launcher as a user would, from an installed layout.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "testSupport.h"

namespace launcher_testing {

using testing_support::EnvVar;
using testing_support::RunResult;

// The options of a dry run (print the java command text, start nothing) in
// front of `args`.
std::vector<std::string> dry(std::vector<std::string> args);

// `text` with every "\r\n" turned into "\n": the C runtime writes "\r\n" for
// a line feed on Windows.
std::string plain_newlines(const std::string& text);

// The text up to its first line break, without a "\r" before it.
std::string first_line(const std::string& text);
// No byte past 127: what a short (8.3) name consists of.
bool is_ascii(const std::string& text);

#ifdef BRUMLET_TEST_JDK_HOME
// The real JDK the tests run: BRUMLET_TEST_JDK when set (ctest sets it for
// the run with each further JDK of the machine), else the one the tests
// were built with.
std::string test_jdk_home();
// Its major version, from its release file (17, 25, ...).
int test_jdk_version();
#endif

// bin/java(.exe) below a Java runtime directory.
std::string java_below(const std::string& jre_dir);

// A directory as the launcher substitutes it for a wrapper variable: on
// Windows with forward slashes, in lower case, with an upper-case drive
// letter; on Linux as it is.
std::string as_substituted(std::string path);

// The main class as it stands in every java command text.
extern const std::string main_class_token;

// The launcher and the test child as built, beside the test program (on
// Windows the child built as a stand-in java.exe, without a UTF-8 manifest).
std::string built_launcher();
std::string built_test_child();
// The status of the console_host fixture where no console can be had.
extern const int no_console_status;

// The launcher with test profiles (BRUMLET_TEST_PROFILE, -Xcheck:jni).
std::string built_test_launcher();

// Arguments that a naive launcher would break; only UTF-8 text for the real
// JVM, which decodes its arguments by the locale.
extern const std::vector<std::string> awkward_text_args;

// The tool's jar: on Linux the Java test tool, on Windows an empty file
// (the test child stands in for java.exe and reads no jar).
extern const std::string tool_jar;

// A Java runtime directory whose bin/java(.exe) is the test child.
void make_fake_runtime(const std::string& jre_dir);

// The variables that decide where the launcher looks, all removed, so a
// test starts from a clean environment and adds what it needs.
std::vector<EnvVar> clean_launcher_env();

// An installation: ROOT/bin64/brumlet(.exe) with the given jars beside it
// (empty files, but for tool_jar, which is the real tool where there is one;
// by default the tool's jar alone) and a Java runtime at ROOT/bin64/jre64: on Linux the
// machine's JDK, on Windows the test child as java.exe. ROOT is a fresh
// directory, or `exact_root` when given; either is removed afterwards. The
// launcher installed is `launcher_program` (default: the built launcher).
class Installation {
public:
    explicit Installation(const std::vector<std::string>& jars = {tool_jar}, const std::string& exact_root = "",
                          const std::string& launcher_name = "", const std::string& launcher_program = "");
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    const std::string& root() const { return root_; }
    std::string bin_dir() const;
    std::string launcher() const;
    std::string jre_dir() const;
    // The class path words of the java command text when tool_jar is the
    // only jar: -cp and the jar as the launcher writes it.
    std::string classpath_words() const;

    // Runs the installed launcher with DRAVON_ROOTDIR set to the root and
    // the given further changes to the environment.
    // The same, started in the background. Both start in `cwd` when it is
    // not empty.
    RunResult run(const std::vector<std::string>& args, std::vector<EnvVar> env = {}, const std::string& cwd = "") const;
    std::unique_ptr<testing_support::BackgroundProgram> start(const std::vector<std::string>& args,
                                                              std::vector<EnvVar> env = {},
                                                              const std::string& cwd = "") const;
    // Windows: runs it on a console of its own (the console_host fixture);
    // out and err hold what each stream's screen buffer shows, in UTF-8.
    // The status is 125 with a note on err where no console can be had.
    RunResult run_on_console(const std::vector<std::string>& args, std::vector<EnvVar> env = {}) const;

private:
    std::unique_ptr<testing_support::TempDir> dir_;
    std::string root_;
    std::string launcher_name_;
};

}  // namespace launcher_testing
