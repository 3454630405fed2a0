#include "launcherTestSupport.h"

#include <stdexcept>
#include <utility>

namespace launcher_testing {

using namespace testing_support;

std::string built_launcher()
{
    return join(own_dir(), std::string("brumlet") + exe_suffix);
}

std::string built_test_child()
{
    return join(own_dir(), std::string("test_child") + exe_suffix);
}

std::vector<EnvVar> clean_launcher_env()
{
    std::vector<EnvVar> env;
    for (const char* name : {"DRAVON_ROOTDIR", "DRAVON_ROOTDIR_OVERRIDE", "DRAVON_BINDIR", "DRAVON_BINDIR_OVERRIDE",
                             "NATIVE_WRAP_JRE_DIR_OVERRIDE", "TILDR_KIT_VORNI2", "TILDR_KIT_VORNI2_OVERRIDE",
                             "VLK_DISABLE_CYGPATH", "TEST_CHILD_REPORT", "TEST_CHILD_EXIT", "TEST_CHILD_SIGNAL",
                             "TEST_CHILD_STDOUT_HEX", "TEST_CHILD_STDOUT_REPEAT", "TEST_CHILD_HOOK",
                             "TEST_CHILD_READY", "TEST_CHILD_SLEEP_MS"})
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
                           const std::string& launcher_name)
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
    copy_file(built_launcher(), launcher());
    for (const std::string& jar : jars)
        write_file(join(bin_dir(), jar), "");
    if (on_windows) {
        // No Windows Java runtime exists here: the test child stands in for java.exe.
        make_fake_runtime(jre_dir());
    } else {
#ifdef BRUMLET_TEST_JDK_HOME
        if (!make_symlink(BRUMLET_TEST_JDK_HOME, jre_dir()))
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

std::string Installation::jre_dir() const
{
    return join(bin_dir(), "jre64");
}

RunResult Installation::run(const std::vector<std::string>& args, std::vector<EnvVar> env) const
{
    return start(args, std::move(env))->wait();
}

std::unique_ptr<BackgroundProgram> Installation::start(const std::vector<std::string>& args,
                                                       std::vector<EnvVar> env) const
{
    std::vector<EnvVar> all = clean_launcher_env();
    all.push_back({"DRAVON_ROOTDIR", root_});
    all.insert(all.end(), env.begin(), env.end());
    std::vector<std::string> argv = {launcher()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::unique_ptr<BackgroundProgram>(new BackgroundProgram(argv, all));
}

}  // namespace launcher_testing
