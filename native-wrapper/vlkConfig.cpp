#include "vlkConfig.h"

#include "envUtils.h"
#include "osLayer.h"

const char* get_jre_offset()
{
    return os::facts.jre_offset;
}

std::string get_jre_dir()
{
    std::string dir = get_wrapper_var("NATIVE_WRAP_JRE_DIR_OVERRIDE", false);
    if (dir.empty())
        dir = os::facts.default_jre_dir;
    return expand_wrapper_vars(dir.c_str(), wrapper_var_table);
}

std::string get_java_exe()
{
    std::string path = get_jre_dir() + os::facts.path_separator + os::facts.java_exe_below_jre;
    // A second pass replaces names the first one left, such as a second
    // occurrence of a name in the override.
    return expand_wrapper_vars(path.c_str(), wrapper_var_table);
}
