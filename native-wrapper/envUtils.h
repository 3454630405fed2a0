// The launcher's environment: wrapper variables and their expansion inside
// texts, the launcher and current directories, path normalisation, POSIX
// path conversion (switched off in this launcher), the writers of the
// process environment, and the machine-wide environment in the registry.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class CommandLine;

// ---- Wrapper variables ------------------------------------------------------

// One wrapper variable. Its value is resolved the first time a text names
// it and then kept, normalised, for the rest of the process.
struct WrapperVar {
    const char* name;
    int name_len;
    bool resolved;
    const char* value;
    int value_len;
};

struct WrapperVarTable {
    int num_of_vars;
    WrapperVar* var;
};

// The six wrapper variables, in search order: DRAVON_ROOTDIR, DRAVON_BINDIR,
// TILDR_KIT_VORNI2, NATIVE_WRAP_EXE_DIR, NATIVE_WRAP_CURRENT_DIR,
// NATIVE_WRAP_DRAVON_ROOTDIR_JRE_OFFSET.
extern WrapperVarTable wrapper_var_table;

// Resolves one name: the wrapper variables by their override and derivation
// rules, any other name from the environment. An undefined variable gives the
// empty text, or, with exit_if_undefined, ends the process with
// "ERROR: <name> - Undefined variable" and status -1.
std::string get_wrapper_var(const char* name, bool exit_if_undefined);

// Returns `text` with the first occurrence of each variable name of `tbl`
// replaced by its normalised value, entries taken in table order, each
// searching the text as the earlier ones left it. A named variable must be
// defined (see get_wrapper_var). CAUTION: names are found anywhere, without
// delimiters, and DRAVON_ROOTDIR lies inside the name of the offset variable.
std::string expand_wrapper_vars(const char* text, WrapperVarTable& tbl);

// A copy of `text` that lives until the process ends, for the resolved
// wrapper-variable values and the expanded profile texts that the launcher
// keeps for good.
const char* keep_until_exit(std::string text);

// ---- Directories ------------------------------------------------------------

// The directory of the launcher's executable, without a trailing separator;
// computed once. Ends the process with a message if the OS cannot tell.
const std::string& get_exe_dir();

// The current directory as the OS reports it, asked afresh on every call.
std::string get_current_dir();

// On Windows: backslashes become '/', letters lower case, a drive letter
// upper case (C:/tools/suite). On Linux, where case matters, the path stays
// as it is. Returns -1 for the empty path, else the path conversion status.
int normalize_path(std::string& path);

bool is_directory(const char* path);

// The normalised launcher directory cut before the last occurrence of
// `marker`; ends the process with a message when there is none.
std::string discover_root_dir(const char* marker);

// The suite root derived from the built-in destination offset, or "" when
// the offset is the placeholder or the directory does not exist.
std::string get_dest_offset_root();

// ---- POSIX path conversion --------------------------------------------------

// Whether paths are converted through cygpath; never in this launcher.
bool use_cygpath();

// Converts a path that begins with "/" in place when conversion is on.
// Returns 0 when the path is converted or left alone, -1 for a null path or
// a converted path that is not shorter than `capacity`.
int convert_posix_path(std::string* path, std::size_t capacity);

// Converts the arguments of `cmd` that are POSIX paths, or name=/path, when
// conversion is on.
void convert_posix_args(CommandLine& cmd);

// The converter behind the two operations above: answers true with the
// converted path in `output` on success. The *_with forms run with the
// conversion switched on and the given converter.
using PathConverter = std::function<bool(const std::string& path, std::string& output)>;
bool run_cygpath(const std::string& path, std::string& output);
int convert_posix_path_with(std::string* path, std::size_t capacity, const PathConverter& converter);
void convert_posix_args_with(CommandLine& cmd, const PathConverter& converter);

// ---- Process environment ----------------------------------------------------

// Sets a variable; a name ending in "PATH" is a list, and the value is put in
// front of the current one.
void set_env_var(const char* name, const char* value);
// Sets a variable, or with `prepend` puts the value in front of the current
// one, joined by the list separator.
void update_env_var(const char* name, const char* value, bool prepend);
// Writes name=value into the process environment; an empty value removes.
void put_env_var(const char* name, const char* value);
// "NAME=VALUE" (the value may hold "=" and be empty) or "NAME" (value "1"),
// applied with set_env_var.
void apply_env_assignment(const std::string& assignment);
// Removes a variable; an empty name does nothing.
void unset_env_var(const char* name);

// ---- Machine-wide environment (Windows registry) ----------------------------

// The value of `name` in the machine-wide environment that Windows keeps in
// the registry (HKEY_LOCAL_MACHINE, opened for reading only), whole however
// long and NUL-terminated even when the stored data is not. The caller owns
// the result. Null when the value does not exist and on every other failure;
// always null on Linux, which has no registry.
std::unique_ptr<char[]> get_system_env_var(const char* name);

// Sets `name` to `value` in the process environment first, whatever follows;
// then stores it in the machine-wide environment as REG_SZ (references to
// other variables stay unexpanded) and, after a successful store, tells
// running programs with a WM_SETTINGCHANGE "Environment" broadcast. Returns 0,
// or -1 when the registry step fails (the process environment stays changed).
// On Linux the registry step always fails: the result is -1.
int set_system_env_var(const char* name, const char* value);

// The registry steps of set_system_env_var: `store` answers whether the value
// was stored, `announce` is called only after a successful store. The *_with
// form runs the writer with the given steps.
struct MachineEnvSteps {
    std::function<bool(const std::string& name, const std::string& value)> store;
    std::function<void()> announce;
};
int set_system_env_var_with(const char* name, const char* value, const MachineEnvSteps& steps);
