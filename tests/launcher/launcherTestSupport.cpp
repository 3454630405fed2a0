#include "launcherTestSupport.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace launcher_testing {

using namespace testing_support;

const std::string main_class_token = "\"com.velkor.brumlet.Brumlet\" ";
const std::string tool_jar = "brumlet_test_tool.jar";
const int no_console_status = 125;

std::vector<std::string> dry(std::vector<std::string> args)
{
    args.insert(args.begin(), {"--wrapper-verbose", "--wrapper-disable-exec"});
    return args;
}

std::string plain_newlines(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    }
    return out;
}

bool is_ascii(const std::string& text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

std::string first_line(const std::string& text)
{
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

#ifdef BRUMLET_TEST_JDK_HOME
std::string test_jdk_home()
{
    const char* chosen = std::getenv("BRUMLET_TEST_JDK");
    return chosen != nullptr && chosen[0] != '\0' ? chosen : BRUMLET_TEST_JDK_HOME;
}

int test_jdk_version()
{
    static const int version = [] {
        const std::string release = "\n" + read_file(join(test_jdk_home(), "release"));
        const std::size_t at = release.find("\nJAVA_VERSION=\"");
        return at == std::string::npos ? 0 : std::atoi(release.c_str() + at + 15);
    }();
    return version;
}
#endif

std::string java_below(const std::string& jre_dir)
{
    return join(join(jre_dir, "bin"), std::string("java") + exe_suffix);
}

std::string as_substituted(std::string path)
{
    if (on_windows) {
        for (char& c : path)
            c = c == '\\' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        path[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    }
    return path;
}

std::string built_launcher()
{
    return join(own_dir(), std::string("brumlet") + exe_suffix);
}

std::string built_test_child()
{
    // On Windows the build that reads its command line as java.exe does.
    return join(own_dir(), std::string(on_windows ? "test_java" : "test_child") + exe_suffix);
}

std::string built_test_launcher()
{
    return join(own_dir(), std::string("brumlet_test_launcher") + exe_suffix);
}

const std::vector<std::string> awkward_text_args = {
    "", " ", "a b", "tab\there", "C:\\dir\\", "\\\\server\\share\\", "\"", "\\\"", "a\"b\"c", "x=\"y z\"\\",
    "*", "?.txt", "*.jar", "caf\xc3\xa9 \xe2\x82\xac", "--splash=1", "--helpx", "-Dx=1", "--", "'single'",
};

std::vector<EnvVar> clean_launcher_env()
{
    std::vector<EnvVar> env;
    for (const char* name : {"DRAVON_ROOTDIR", "DRAVON_ROOTDIR_OVERRIDE", "DRAVON_BINDIR", "DRAVON_BINDIR_OVERRIDE",
                             "NATIVE_WRAP_JRE_DIR_OVERRIDE", "TILDR_KIT_VORNI2", "TILDR_KIT_VORNI2_OVERRIDE",
                             "VLK_DISABLE_CYGPATH", "TEST_CHILD_REPORT", "TEST_CHILD_EXIT", "TEST_CHILD_SIGNAL",
                             "TEST_CHILD_STDOUT_HEX", "TEST_CHILD_STDOUT_REPEAT", "TEST_TOOL_ACTION",
                             "TEST_TOOL_SLEEP_MS", "BRUMLET_TEST_PROFILE", "RUNTIME_DOUBLE_LOG", "JVM_DOUBLE_MODE",
                             "TEST_CHILD_HOOK", "TEST_CHILD_READY", "TEST_CHILD_SLEEP_MS", "TEST_CHILD_DETACHED",
                             "TEST_CHILD_LATE_WRITE", "NATIVE_WRAP_CLASS_CACHE"})
        env.push_back(unset(name));
    return env;
}

void make_fake_runtime(const std::string& jre_dir)
{
    make_dir(jre_dir);
    make_dir(join(jre_dir, "bin"));
    copy_file(built_test_child(), join(join(jre_dir, "bin"), std::string("java") + exe_suffix));
}

Installation::Installation(const std::vector<std::string>& jars, const std::string& exact_root,
                           const std::string& launcher_name, const std::string& launcher_program)
    : launcher_name_(launcher_name.empty() ? std::string("brumlet") + exe_suffix : launcher_name)
{
    if (exact_root.empty()) {
        dir_.reset(new TempDir);
        root_ = *dir_ / "Suite";
        make_dir(root_);
    } else {
        dir_.reset(new TempDir(exact_root));
        root_ = exact_root;
    }
    make_dir(bin_dir());
    copy_file(launcher_program.empty() ? built_launcher() : launcher_program, launcher());
    const std::string real_tool = join(own_dir(), tool_jar);
    for (const std::string& jar : jars) {
        if (jar == tool_jar && file_exists(real_tool))
            copy_file(real_tool, join(bin_dir(), jar));
        else
            write_file(join(bin_dir(), jar), "");
    }
    if (on_windows) {
        // No Windows Java runtime exists here: the test child stands in for java.exe.
        make_fake_runtime(jre_dir());
    } else {
#ifdef BRUMLET_TEST_JDK_HOME
        if (!make_symlink(test_jdk_home(), jre_dir()))
            throw std::runtime_error("cannot link the JDK into the installation");
#endif
    }
}

std::string Installation::bin_dir() const
{
    return join(root_, "bin64");
}

std::string Installation::launcher() const
{
    return join(bin_dir(), launcher_name_);
}

std::string Installation::classpath_words() const
{
    return "-cp \"" + as_substituted(bin_dir()) + path_separator + tool_jar + "\"";
}

std::string Installation::jre_dir() const
{
    return join(bin_dir(), "jre64");
}

RunResult Installation::run(const std::vector<std::string>& args, std::vector<EnvVar> env, const std::string& cwd) const
{
    return start(args, std::move(env), cwd)->wait();
}

RunResult Installation::run_on_console(const std::vector<std::string>& args, std::vector<EnvVar> env) const
{
    std::vector<std::string> on_console = {join(own_dir(), "console_host.exe"), launcher()};
    on_console.insert(on_console.end(), args.begin(), args.end());
    std::vector<EnvVar> all = clean_launcher_env();
    all.push_back({"DRAVON_ROOTDIR", root_});
    all.insert(all.end(), env.begin(), env.end());
    return BackgroundProgram(on_console, all).wait();
}

std::unique_ptr<BackgroundProgram> Installation::start(const std::vector<std::string>& args, std::vector<EnvVar> env,
                                                       const std::string& cwd) const
{
    std::vector<EnvVar> all = clean_launcher_env();
    all.push_back({"DRAVON_ROOTDIR", root_});
    all.insert(all.end(), env.begin(), env.end());
    std::vector<std::string> argv = {launcher()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::unique_ptr<BackgroundProgram>(new BackgroundProgram(argv, all, cwd));
}

}  // namespace launcher_testing
