// Each kind of message of the launcher in its stream and with its bytes:
// written to a pipe, and on Windows also shown on a console, where it reads
// as the Unicode text it is.
#include <gtest/gtest.h>

#include "launcherTestSupport.h"

namespace {

using namespace launcher_testing;
using namespace testing_support;

// Two of its letters are outside code page 1252, Wine's default.
const std::string lodz = "\xc5\x81\xc3\xb3" "d\xc5\xba";

// `text` as the launcher writes it to a file or a pipe: on Windows in the
// system's ANSI code page, each character that page lacks as '?'.
std::string in_code_page(std::string text)
{
    if (!on_windows)
        return text;
    for (std::size_t at; (at = text.find(lodz)) != std::string::npos;)
        text.replace(at, lodz.size(), "?\xf3" "d?");
    return text;
}

// A runtime of the JVM double (Windows: bin\server\jvm.dll) in `jre`.
void make_double_runtime(const std::string& jre)
{
    const std::string bin = join(jre, "bin"), doubles = join(own_dir(), "runtime-doubles");
    make_fake_runtime(jre);
    make_dir(join(bin, "server"));
    copy_file(join(doubles, "runtime_dependency.dll"), join(bin, "runtime_dependency.dll"));
    copy_file(join(doubles, "vcruntime140.dll"), join(bin, "vcruntime140.dll"));
    copy_file(join(doubles, "jvm_double.dll"), join(join(bin, "server"), "jvm.dll"));
}

struct Case {
    const char* what;
    std::vector<std::string> args;
    std::vector<EnvVar> env;
    bool on_out;       // else on standard error
    std::string text;  // what the stream starts with, in UTF-8
    bool other_empty;  // the other stream holds nothing
    int status;
    bool without_jars = false;  // run in the installation without jars
};

// The installations' runtime is the JVM double on Windows, the machine's
// JDK on Linux.
std::vector<Case> cases(const Installation& with_jars, const Installation& no_jars, const TempDir& scratch)
{
    const std::string in_process = "--wrapper-load-jvm-in-process";
    const std::string jvm = on_windows ? scratch / "jvm" : with_jars.jre_dir();
    if (on_windows)
        make_double_runtime(jvm);
    const std::string missing = scratch / lodz;
    const std::string fake = scratch / ("fake-" + lodz);
    make_fake_runtime(fake);
    const std::string library = on_windows ? "\\bin\\server\\jvm.dll" : "/lib/server/libjvm.so";
    return {
        {"a launcher error", {"x"}, {}, false,
         "Error - no jar files found in '" + as_substituted(no_jars.bin_dir()) + "'.\n", true, failure_exit_status(),
         true},
        {"a fatal environment error", {"x"}, {unset("DRAVON_ROOTDIR")}, false,
         "ERROR: DRAVON_ROOTDIR - Undefined variable\n", true, failure_exit_status()},
        // the loader's reason follows, in its own words
        {"a JVM library that cannot be loaded", {in_process}, {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", missing}}, false,
         "Cannot load library: '" + missing + library + "'\n", true, failure_exit_status()},
        // the double fails on demand, the JDK on the heap size (after its message on standard error)
        {"a JVM that does not start", {in_process, "--jvm-max-heap-size=64q"},
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jvm}, {"JVM_DOUBLE_MODE", "create-fails"}}, true,
         "\nJavaCommandLine: Unable to Launch JVM with JNI\n", false, failure_exit_status()},
        {"java's note on the options it picked up", {in_process},
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jvm}, {"JDK_JAVA_OPTIONS", "-Dcity=" + lodz}}, false,
         "NOTE: Picked up JDK_JAVA_OPTIONS: -Dcity=" + lodz + "\n", false, 0},
        {"a class-cache note", dry({}),
         {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", fake}, {"NATIVE_WRAP_CLASS_CACHE", scratch / "cache"}}, true,
         "Class cache not used: the runtime at '" + fake +
             "' is older than Java 13 or its release file cannot be read.\n",
         true, 0},
    };
}

void expect_message(const Case& c, const RunResult& result, const std::string& text)
{
    const std::string& stream = c.on_out ? result.out : result.err;
    const std::string& other = c.on_out ? result.err : result.out;
    EXPECT_EQ(c.status, result.exit_code);
    EXPECT_EQ(text, stream.substr(0, text.size()));
    if (c.other_empty) {
        EXPECT_EQ("", other);
    }
}

// Runs each case in an installation of its own making, to a pipe or on a
// console (Windows), and checks its message.
void check_each_kind(bool on_console)
{
    Installation with_jars;
    TempDir parent, scratch;
    Installation no_jars({}, parent / lodz);
    for (const Case& c : cases(with_jars, no_jars, scratch)) {
        SCOPED_TRACE(c.what);
        const Installation& installation = c.without_jars ? no_jars : with_jars;
        if (!on_console) {
            RunResult result = installation.run(c.args, c.env);
            result.out = plain_newlines(result.out);
            result.err = plain_newlines(result.err);
            expect_message(c, result, in_code_page(c.text));
            continue;
        }
        RunResult result = installation.run_on_console(c.args, c.env);
        if (result.exit_code == no_console_status)
            GTEST_SKIP() << result.err << "(scripts/test.sh runs the Windows tests under Xvfb)";
        expect_message(c, result, c.text);
    }
}

TEST(Messages, EachKindInItsStreamWithItsBytes)
{
    check_each_kind(false);
}

// A console shows every message as the text it is, whatever the code page.
TEST(Messages, EachKindOnAConsoleAsUnicode)
{
    if (!on_windows)
        GTEST_SKIP() << "a terminal gets the bytes that a pipe gets";
    check_each_kind(true);
}

}  // namespace
