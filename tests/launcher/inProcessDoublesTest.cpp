// The in-process launch on Windows, against stand-ins for the runtime's
// jvm.dll and splashscreen.dll that log every call the launcher makes.
#include <gtest/gtest.h>

#include <algorithm>

#include "launcherTestSupport.h"
#include "os/error.h"
#include "os/files.h"

#ifdef _WIN32
#include <windows.h>

namespace {

using namespace launcher_testing;
using namespace testing_support;

const char in_process[] = "--wrapper-load-jvm-in-process";

// Wine takes its own C runtime for these names wherever the file lies, which
// Windows does not: from the test program's start, every launcher of the
// tests (brumlet.exe) loads the files there too.
[[maybe_unused]] const bool c_runtime_as_files = [] {
    const char key[] = "Software\\Wine\\AppDefaults\\brumlet.exe\\DllOverrides";
    for (const char* name : {"vcruntime140", "msvcp140"}) {
        if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr)
            RegSetKeyValueA(HKEY_CURRENT_USER, key, name, REG_SZ, "native", sizeof "native");
    }
    return true;
}();

std::string built_double(const std::string& name)
{
    return join(join(own_dir(), "runtime-doubles"), name);
}

// A runtime of stand-ins: bin\java.exe the test child, bin\server\jvm.dll a
// JVM double that imports a DLL found only in bin, bin\splashscreen.dll a
// splash double; beside the test launcher, one jar and the splash image.
struct DoubleRuntime {
    Installation installation{{"a.jar"}, "", "", built_test_launcher()};
    TempDir scratch;
    std::string jre = scratch / "jre";
    std::string log = scratch / "log";
    std::string image = as_substituted(installation.bin_dir()) + "/splash.png";

    // An empty name leaves that library out.
    DoubleRuntime(const std::string& jvm = "jvm_double.dll", const std::string& splash = "splash_double.dll")
    {
        make_fake_runtime(jre);
        const std::string bin = join(jre, "bin");
        make_dir(join(bin, "server"));
        copy_dependencies(bin);
        if (!jvm.empty())
            copy_file(built_double(jvm), join(join(bin, "server"), "jvm.dll"));
        if (!splash.empty())
            copy_file(built_double(splash), join(bin, "splashscreen.dll"));
        write_file(join(installation.bin_dir(), "splash.png"), "");
    }

    // The DLLs that jvm.dll imports: the one found only in bin, the C runtime.
    void copy_dependencies(const std::string& dir) const
    {
        copy_file(built_double("runtime_dependency.dll"), join(dir, "runtime_dependency.dll"));
        for (const char* name : {"vcruntime140.dll", "msvcp140.dll"})  // one stand-in under both names
            copy_file(built_double("vcruntime140.dll"), join(dir, name));
    }

    RunResult run(std::vector<std::string> args, const std::string& mode = "", std::vector<EnvVar> env = {},
                  const std::string& cwd = "")
    {
        args.insert(args.begin(), in_process);
        env.insert(env.end(), {{"NATIVE_WRAP_JRE_DIR_OVERRIDE", jre},
                               {"BRUMLET_TEST_PROFILE", "splash"},
                               {"RUNTIME_DOUBLE_LOG", log},
                               {"JVM_DOUBLE_MODE", mode}});
        return installation.run(args, env, cwd);
    }

    std::vector<std::string> calls() const
    {
        std::vector<std::string> lines;
        std::string text = plain_newlines(read_file(log));
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
};

// The UTF-16 code units of ASCII `text` as the JVM double logs them.
std::string hex_units(const std::string& text)
{
    std::string out;
    char unit[8];
    for (char c : text) {
        std::snprintf(unit, sizeof unit, "%s%04x", out.empty() ? "" : " ", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

// The text between the quotes after "-cp " in a verbose echo.
std::string echoed_classpath(const std::string& out)
{
    std::size_t start = out.find(" -cp \"") + 6;
    return out.substr(start, out.find('"', start) - start);
}

TEST(InProcessDoubles, CallsOptionsArgumentsAndSplashInOrder)
{
    DoubleRuntime runtime;
    TempDir current;  // its stand-ins and those beside the launcher are never loaded
    runtime.copy_dependencies(current.path());
    runtime.copy_dependencies(runtime.installation.bin_dir());
    RunResult result = runtime.run(
        {"--wrapper-verbose", "--jvm-init-heap-size=64m", "--jvm-max-heap-size=1g -Dx=y", "a b",
         "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", ""},
        "", {{"JDK_JAVA_OPTIONS", "-Da=1 '-Db=2 3'"}}, current.path());
    EXPECT_EQ(0, result.exit_code) << result.err;
    EXPECT_EQ("NOTE: Picked up JDK_JAVA_OPTIONS: -Da=1 '-Db=2 3'\n", plain_newlines(result.err));
    const std::string classpath = echoed_classpath(result.out);
    // The JVM double finds its own import in the runtime's bin only through
    // the launcher, which has restored the DLL search path once loaded.
    const std::string bin = join(runtime.jre, "bin");
    const std::vector<std::string> expected = {
        "loaded " + join(bin, "vcruntime140.dll"),  // by full path first, as java.exe loads it
        "loaded " + join(bin, "msvcp140.dll"),
        "SplashInit",
        "SplashLoadFile " + runtime.image,
        "SplashSetFileJarName " + runtime.image + " (null)",
        "loaded " + join(bin, "runtime_dependency.dll"),  // with jvm.dll
        // main's thread has the JVM's default stack, asked for as java asks
        "JNI_GetDefaultJavaVMInitArgs version=65537",
        "JNI_CreateJavaVM version=0x10006 nOptions=8 ignoreUnrecognized=0 dlldir= dependency=found stack=3145728",
        "option -Da=1",  // the environment's options first, as java puts them
        "option -Db=2 3",
        "option -Xcheck:jni",
        "option -Xms64m",
        "option -Xmx1g -Dx=y",  // one word, as given
        "option -Dsun.java.command=com.velkor.brumlet.Brumlet a b \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 ",
        "option -Dsun.java.launcher=SUN_STANDARD",
        "option -Djava.class.path=" + classpath,
        "ExceptionOccurred",
        // java's own helper checks the main class and chooses its main
        "FindClass sun/launcher/LauncherHelper",
        "GetStaticMethodID checkAndLoadMain (ZILjava/lang/String;)Ljava/lang/Class;",
        "NewString " + hex_units("com.velkor.brumlet.Brumlet"),
        "CallStaticObjectMethod checkAndLoadMain 1 com.velkor.brumlet.Brumlet",
        "ExceptionCheck",
        "DeleteLocalRef",
        "FindClass java/lang/String",
        "NewObjectArray 3",
        "NewString 0061 0020 0062",
        "SetObjectArrayElement 0",
        "DeleteLocalRef",
        "NewString 00e9 20ac d83d de00",  // é € and an emoji, in the launcher's UTF-8 code page
        "SetObjectArrayElement 1",
        "DeleteLocalRef",
        "NewString ",
        "SetObjectArrayElement 2",
        "DeleteLocalRef",
        "ExceptionCheck",
        // a helper without the word on which main: java's static main(String[])
        "GetStaticFieldID isStaticMain",
        "ExceptionClear",
        "GetStaticFieldID noArgMain",
        "ExceptionClear",
        "GetStaticMethodID main ([Ljava/lang/String;)V",
        "CallStaticVoidMethod main ([Ljava/lang/String;)V [0061 0020 0062] [00e9 20ac d83d de00] []",
        "SplashClose",
        "ExceptionOccurred",
        "DetachCurrentThread",
        "DestroyJavaVM",
    };
    EXPECT_EQ(expected, runtime.calls());
    EXPECT_NE(std::string::npos, classpath.find("a.jar")) << result.out;
}

bool called(const std::vector<std::string>& calls, const std::string& call)
{
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

TEST(InProcessDoubles, MainThreadHasTheStackJavaGivesIt)
{
    const struct {
        const char* what;
        std::string mode, java_options;
        const char* stack;
        bool default_asked;
    } cases[] = {
        {"the last -Xss", "", "-Xss1m -Xss5m", " stack=5242880", false},
        // java.exe's own reserve on x64, where HotSpot names no default
        {"no default of the JVM", "no-default-stack", "", " stack=1048576", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DoubleRuntime runtime;
        RunResult result = runtime.run({}, c.mode, {{"JDK_JAVA_OPTIONS", c.java_options}});
        EXPECT_EQ(0, result.exit_code) << result.err;
        const std::vector<std::string> calls = runtime.calls();
        auto created = std::find_if(calls.begin(), calls.end(),
                                    [](const std::string& call) { return call.rfind("JNI_CreateJavaVM", 0) == 0; });
        ASSERT_NE(calls.end(), created);
        EXPECT_EQ(c.stack, created->substr(created->rfind(' ')));
        EXPECT_EQ(c.default_asked, called(calls, "JNI_GetDefaultJavaVMInitArgs version=65537"));
    }
}

TEST(InProcessDoubles, EachOutcomeWithItsMessageStreamAndStatus)
{
    struct Case {
        const char* what;
        std::string jvm, splash, mode;
        std::string out, err;  // "@" stands for the splash image, "#" for the runtime
        int status;
        bool main_returned;  // then the splash is closed and the JVM destroyed
        bool without_dependency = false;  // the DLL that jvm.dll imports left out
        const char* main_call = "";       // a call that must be among the double's calls
    };
    const Case cases[] = {
        // the loader's reason, and the library that lacks the entry, on the next line
        {"no jvm.dll", "", "splash_double.dll", "", "",
         "Cannot load library: '#\\bin\\server\\jvm.dll'\n" + os::error_text(126) + "\n", -1,
         false},  // ERROR_MOD_NOT_FOUND
        {"jvm.dll without its dependency", "jvm_double.dll", "splash_double.dll", "", "",
         "Cannot load library: '#\\bin\\server\\jvm.dll'\n" + os::error_text(126) +
             " The file is there: a library it needs is missing.\n",
         -1, false, true},
        {"no entry", "jvm_double_without_entry.dll", "splash_double.dll", "", "",
         "Cannot load symbol/function: 'JNI_CreateJavaVM'\nThe library '#\\bin\\server\\jvm.dll' does not export it.\n",
         -1, false},
        {"creation fails", "jvm_double.dll", "splash_double.dll", "create-fails",
         "\nJavaCommandLine: Unable to Launch JVM with JNI\n", "", -1, false},
        {"no class", "jvm_double.dll", "splash_double.dll", "no-class", "",
         "Error: Could not find or load main class com.velkor.brumlet.Brumlet\n", 1, false},
        {"a static main()", "jvm_double.dll", "splash_double.dll", "only-main()", "", "", 0, true, false,
         "CallStaticVoidMethod main ()V"},
        {"an instance main", "jvm_double.dll", "splash_double.dll", "instance-main", "", "", 0, true, false,
         "CallVoidMethod main ([Ljava/lang/String;)V [0078]"},
        {"an instance main's object", "jvm_double.dll", "splash_double.dll", "instance-main", "", "", 0, true, false,
         "NewObject ()V"},
        {"exception escapes main", "jvm_double.dll", "splash_double.dll", "throws", "",
         "Exception in thread \"main\" java.lang.IllegalStateException: thrown out of main\n", 1, true},
        {"no splash library", "jvm_double.dll", "", "", "Could not load splash screen: @\n", "", 0, true},
        {"splash library without SplashSetFileJarName", "jvm_double.dll", "splash_double_without_jar_name.dll", "", "",
         "", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DoubleRuntime runtime(c.jvm, c.splash);
        if (c.without_dependency)
            os::delete_file(join(join(runtime.jre, "bin"), "runtime_dependency.dll"));
        auto fill = [&](std::string text) {
            for (std::size_t at; (at = text.find('@')) != std::string::npos;)
                text.replace(at, 1, runtime.image);
            for (std::size_t at; (at = text.find('#')) != std::string::npos;)
                text.replace(at, 1, runtime.jre);
            return text;
        };
        RunResult result = runtime.run({"x"}, c.mode);
        EXPECT_EQ(c.status, result.exit_code);
        EXPECT_EQ(fill(c.out), plain_newlines(result.out));
        EXPECT_EQ(fill(c.err), plain_newlines(result.err));
        const std::vector<std::string> calls = runtime.calls();
        if (*c.main_call != '\0') {
            EXPECT_TRUE(called(calls, c.main_call)) << c.main_call;
        }
        const bool splash_shown = called(calls, "SplashInit");
        EXPECT_EQ(c.main_returned && splash_shown, called(calls, "SplashClose"));
        EXPECT_EQ(c.main_returned, called(calls, "DestroyJavaVM"));
        if (c.main_returned) {
            // closed after main, before the JVM goes
            auto close = std::find(calls.begin(), calls.end(), "SplashClose");
            auto destroy = std::find(calls.begin(), calls.end(), "DestroyJavaVM");
            auto main = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
                return call.rfind("CallStaticVoidMethod main", 0) == 0 || call.rfind("CallVoidMethod main", 0) == 0;
            });
            EXPECT_TRUE(main < destroy && (!splash_shown || (main < close && close < destroy)));
        }
    }
}

}  // namespace
#endif
