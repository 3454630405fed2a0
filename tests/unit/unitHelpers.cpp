#include "unitHelpers.h"

#include <gtest/gtest.h>

#include "os/platform.h"
#include "testSupport.h"

namespace unit_helpers {

std::vector<std::string> args_of(const CommandLine& cmd)
{
    std::vector<std::string> args;
    for (int i = 0; i < cmd.get_num_of_args(); ++i)
        args.push_back(cmd.get_arg(i));
    return args;
}

std::string classpath_of(const std::vector<std::string>& jars)
{
    std::string classpath;
    for (std::size_t i = 0; i < jars.size(); ++i) {
        if (i > 0)
            classpath += testing_support::list_separator;
        classpath += jars[i];
    }
    return classpath;
}

std::string program_beside_tests(const std::string& name)
{
    return testing_support::join(testing_support::own_dir(), name + testing_support::exe_suffix);
}

std::string read_stream(FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string content;
    char buffer[512];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        content.append(buffer, count);
    return content;
}

std::string env_value(const std::string& name)
{
    std::string value;
    return testing_support::get_env(name, value) ? value : "(unset)";
}

void expect_run_ends_with(CommandLine& cmd, int status)
{
    if (os::facts.replaces_process)
        EXPECT_EXIT(cmd.run(), testing::ExitedWithCode(status), "");
    else
        EXPECT_EQ(status, cmd.run());
}

}  // namespace unit_helpers
