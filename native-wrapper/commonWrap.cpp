#include "commonWrap.h"

#include <cstdio>
#include <string>

#include "commandLine.h"
#include "envUtils.h"
#include "os/platform.h"
#include "wrapAssert.h"

namespace {

template <typename Action>
void for_each_expanded(const char* const* list, Action action)
{
    for (; *list != nullptr; ++list)
        action(expand_wrapper_vars(*list, wrapper_var_table));
}

}  // namespace

void setup_wrapper_env(CommandLine& cmd, const ToolProfile& profile)
{
    const bool conversion_disabled = get_wrapper_var("VLK_DISABLE_CYGPATH", false) == "1";
    if (!conversion_disabled && use_cygpath())
        convert_posix_args(cmd);

    // Each entry is put in front, so the last entry of a list ends up first.
    for_each_expanded(profile.ld_library_path_dirs,
                      [](const std::string& dir) { set_env_var("LD_LIBRARY_PATH", dir.c_str()); });
    for_each_expanded(profile.path_dirs, [](const std::string& dir) { set_env_var("PATH", dir.c_str()); });
    for_each_expanded(profile.extra_args, [&cmd](const std::string& arg) { cmd.process_arg(arg.c_str()); });
    for_each_expanded(profile.env_assignments, [](const std::string& assignment) { apply_env_assignment(assignment); });
}

int run_tolvex(int mode)
{
    const std::string path = get_wrapper_var("DRAVON_BINDIR", false) + os::facts.sibling_tool_file;
    FILE* tool = std::fopen(path.c_str(), "r");
    if (tool == nullptr)
        return -1;
    std::fclose(tool);

    CommandLine cmd(path.c_str());
    if (mode == 1)
        cmd.process_arg("--jtag");
    else if (mode != 0)
        WRAP_ASSERT(0);  // no such mode
    return cmd.run();
}
