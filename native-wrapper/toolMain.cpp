#include "toolMain.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "classCache/classCache.h"
#include "commonWrap.h"
#include "envUtils.h"
#include "javaCommandLine.h"
#include "message.h"
#include "os/environment.h"
#include "vlkConfig.h"

namespace {

const char* const no_entries[] = {nullptr};
const char* const brumlet_jar_dirs[] = {"NATIVE_WRAP_EXE_DIR", nullptr};

const char splash_arg[] = "--splash=";
const char verbose_variable[] = "NATIVE_WRAP_VERBOSE";

// Expanded profile texts live until the process ends.
const char* keep_expanded(const char* text)
{
    return keep_until_exit(expand_wrapper_vars(text, wrapper_var_table));
}

}  // namespace

const ToolProfile brumlet_profile = {
    "com.velkor.brumlet.Brumlet",
    brumlet_jar_dirs,
    no_entries,  // extra_jvm_options
    no_entries,  // splash_options
    no_entries,  // ld_library_path_dirs
    no_entries,  // path_dirs
    no_entries,  // extra_args
    no_entries,  // env_assignments
};

int take_trailing_splash(int& argc, char** argv)
{
    if (argc < 2 || std::strncmp(argv[argc - 1], splash_arg, std::strlen(splash_arg)) != 0)
        return 0;
    // Read as atoi does (leading blanks, a sign, the digits up to the first
    // other character), but a number outside the int range, for which atoi's
    // result is undefined, is clamped to the nearest end of the range.
    const long long number = std::strtoll(argv[argc - 1] + std::strlen(splash_arg), nullptr, 10);
    --argc;
    return static_cast<int>(std::min<long long>(std::max<long long>(number, INT_MIN), INT_MAX));
}

void prepare_launch(JavaCommandLine& cmd, const ToolProfile& profile, int argc, char** argv, int splash_index,
                    bool show_splash)
{
    // For a run whose command line cannot be changed (make, an IDE, a CI
    // template): the same verbose output, on standard error.
    const char* verbose = std::getenv(verbose_variable);
    if (verbose != nullptr && std::strcmp(verbose, "1") == 0 && !cmd.get_verbose()) {
        cmd.enable_verbose_on_err();
        cmd.echo(msg::launcher_version);
    }
    // The runtime's directory is derived once; java and everything else
    // below the runtime are found in it.
    const std::string jre_dir = get_java_runtime_dir();
    cmd.set_jre_dir(jre_dir);
    cmd.set_java_path(java_exe_in(jre_dir).c_str());
    setup_wrapper_env(cmd, profile);

    for (const char* const* dir = profile.classpath_jar_dirs; *dir != nullptr; ++dir)
        cmd.add_classpath_jars_from_dir(keep_expanded(*dir));
    for (const char* const* option = profile.extra_jvm_options; *option != nullptr; ++option)
        cmd.add_jvm_option(keep_expanded(*option));

    // "--help" is looked at, not consumed: the tool still gets it.
    for (int i = 0; i < argc; ++i) {
        if (argv[i][0] == '-' && std::strcmp(argv[i], "--help") == 0)
            show_splash = false;
    }
    if (!show_splash)
        return;
    for (int i = 0; profile.splash_options[i] != nullptr; ++i) {
        if (i == splash_index)
            cmd.add_jvm_option(keep_expanded(profile.splash_options[i]));
    }
}

int tool_main(int argc, char** argv, const ToolProfile& profile)
{
    // The variable that tells the detached run of the launcher its job is
    // for no tool and no java of one to see, whoever set it.
    std::string job;
    if (const char* value = std::getenv(class_cache_job_variable)) {
        job = value;
        os::put_env(class_cache_job_variable, "");
    }
    // Nor is the one that makes a run a preparing one.
    const char* prepare = std::getenv(class_cache_prepare_variable);
    const bool preparing = prepare != nullptr && std::strcmp(prepare, "1") == 0;
    if (prepare != nullptr)
        os::put_env(class_cache_prepare_variable, "");
    const int given = argc;
    int splash_index = take_trailing_splash(argc, argv);
    bool show_splash = true;
    std::unique_ptr<JavaCommandLine> cmd(new JavaCommandLine(profile.main_class, argc - 1, argv + 1));
    if (argc < given)
        cmd->set_taken_splash_arg(argv[argc]);
    prepare_launch(*cmd, profile, argc, argv, splash_index, show_splash);
    // The detached run of the launcher that makes a class-data archive
    // starts no tool; a value that no launcher gives it is nobody's job.
    if (is_class_cache_key(job))
        return cmd->run_class_archive_job(job);
    cmd->set_preparing(preparing);
    return cmd->run();
}
