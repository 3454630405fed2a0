// Fuzzes the expansion of wrapper variable names inside a text, with every
// wrapper variable defined, so that each name found is replaced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "envUtils.h"
#include "os/environment.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    os::put_env("DRAVON_ROOTDIR_OVERRIDE", "");
    os::put_env("DRAVON_BINDIR_OVERRIDE", "");
    os::put_env("TILDR_KIT_VORNI2_OVERRIDE", "");
    // Values that hold names of their own, as a careless installation might.
    os::put_env("DRAVON_ROOTDIR", "/fuzz/Suite Root/DRAVON_BINDIR");
    os::put_env("TILDR_KIT_VORNI2", "C:\\Kit\\NATIVE_WRAP_EXE_DIR");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The expansion reads a C string: the text ends at the first zero byte.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string text = input.c_str();
    const std::string expanded = expand_wrapper_vars(text.c_str(), wrapper_var_table);

    bool names_one = false;
    for (int i = 0; i < wrapper_var_table.num_of_vars; ++i)
        names_one = names_one || text.find(wrapper_var_table.var[i].name) != std::string::npos;
    // A text that names no variable is left exactly as it is.
    if (!names_one && expanded != text)
        std::abort();
    return 0;
}
