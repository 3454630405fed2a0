#include "envUtils.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <utility>

#include "commandLine.h"
#include "message.h"
#include "os/environment.h"
#include "os/files.h"
#include "os/platform.h"
#include "vlkConfig.h"
#include "wrapAssert.h"

namespace {

const char root_dir_var[] = "DRAVON_ROOTDIR";
const char bin_dir_var[] = "DRAVON_BINDIR";
const char kit_var[] = "TILDR_KIT_VORNI2";
const char exe_dir_var[] = "NATIVE_WRAP_EXE_DIR";
const char current_dir_var[] = "NATIVE_WRAP_CURRENT_DIR";
const char jre_offset_var[] = "NATIVE_WRAP_DRAVON_ROOTDIR_JRE_OFFSET";

// The launcher's destination offset below the suite; a real one begins with
// "/dravon". This build carries the placeholder.
const char wrapper_dest_offset[] = "TOVA_WRAPPER_DEST_OFFSET";
const char dest_offset_prefix[] = "/dravon";

constexpr int length_of(const char* text) { return *text ? 1 + length_of(text + 1) : 0; }

WrapperVar wrapper_vars[] = {
    {root_dir_var, length_of(root_dir_var), false, nullptr, 0},
    {bin_dir_var, length_of(bin_dir_var), false, nullptr, 0},
    {kit_var, length_of(kit_var), false, nullptr, 0},
    {exe_dir_var, length_of(exe_dir_var), false, nullptr, 0},
    {current_dir_var, length_of(current_dir_var), false, nullptr, 0},
    {jre_offset_var, length_of(jre_offset_var), false, nullptr, 0},
};

// Answers whether the variable is set (also to the empty text), with its
// value as found. Windows matches names without regard to case.
bool read_env(const char* name, std::string& value)
{
    const char* found = std::getenv(name);
    if (found == nullptr)
        return false;
    value = found;
    return true;
}

[[noreturn]] void exit_with_error(const char* format, const char* detail)
{
    print_err(stderr, format, detail);
    std::exit(-1);
}

// The override when it is set and not empty, else the variable itself when
// it is set (also when empty).
bool read_with_override(const char* name, const char* override_name, std::string& value)
{
    if (read_env(override_name, value) && !value.empty())
        return true;
    return read_env(name, value);
}

// Answers whether `name` is defined, with its value.
bool resolve_wrapper_var(const char* name, bool exit_if_undefined, std::string& value)
{
    if (std::strcmp(name, exe_dir_var) == 0) {
        value = get_exe_dir();
        return true;
    }
    if (std::strcmp(name, current_dir_var) == 0) {
        value = get_current_dir();
        return true;
    }
    if (std::strcmp(name, jre_offset_var) == 0) {
        value = get_jre_offset();
        return true;
    }
    if (std::strcmp(name, root_dir_var) == 0)
        return read_with_override(root_dir_var, "DRAVON_ROOTDIR_OVERRIDE", value);
    if (std::strcmp(name, kit_var) == 0)
        return read_with_override(kit_var, "TILDR_KIT_VORNI2_OVERRIDE", value);
    if (std::strcmp(name, bin_dir_var) == 0) {
        // Derived from the root; an environment variable DRAVON_BINDIR is
        // deliberately never consulted.
        if (read_env("DRAVON_BINDIR_OVERRIDE", value) && !value.empty())
            return true;
        std::string root = get_wrapper_var(root_dir_var, exit_if_undefined);
        if (root.empty())
            return false;
        value = root + os::facts.bin_dir_below_root;
        return true;
    }
    return read_env(name, value);
}

bool starts_with(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

const char* keep_until_exit(std::string text)
{
    // Owned here so that the texts stay reachable; a deque never moves the
    // texts it already holds.
    static std::deque<std::string> kept_texts;
    kept_texts.push_back(std::move(text));
    return kept_texts.back().c_str();
}

WrapperVarTable wrapper_var_table = {6, wrapper_vars};

std::string get_wrapper_var(const char* name, bool exit_if_undefined)
{
    std::string value;
    if (resolve_wrapper_var(name, exit_if_undefined, value))
        return value;
    if (exit_if_undefined)
        exit_with_error(msg::undefined_variable, name);
    return std::string();
}

std::string expand_wrapper_vars(const char* text, WrapperVarTable& tbl)
{
    std::string expanded = text;
    for (int i = 0; i < tbl.num_of_vars; ++i) {
        WrapperVar& var = tbl.var[i];
        std::size_t found = expanded.find(var.name);
        if (found == std::string::npos)
            continue;
        if (!var.resolved) {
            std::string value = get_wrapper_var(var.name, true);
            std::string normalised = value;
            if (normalize_path(normalised) == 0)
                value = normalised;
            var.value = keep_until_exit(value);
            var.value_len = static_cast<int>(value.size());
            var.resolved = true;
        }
        WRAP_ASSERT(tbl.var[i].value != NULL);
        expanded.replace(found, var.name_len, var.value, var.value_len);
    }
    return expanded;
}

// ---- Directories ------------------------------------------------------------

const std::string& get_exe_dir()
{
    static const std::string* exe_dir = nullptr;
    if (exe_dir == nullptr) {
        std::string path;
        os::Failure failure;
        if (!os::get_executable_path(path, failure))
            exit_with_error(msg::call_failed_fatally, failure.call);
        std::size_t separator = path.rfind(os::facts.path_separator);
        if (separator != std::string::npos)
            path.erase(separator);
        exe_dir = new std::string(path);
    }
    return *exe_dir;
}

std::string get_current_dir()
{
    std::string dir;
    os::Failure failure;
    if (!os::get_current_directory(dir, failure))
        exit_with_error(msg::call_failed_fatally, failure.call);
    return dir;
}

int normalize_path(std::string& path)
{
    if (path.empty())
        return -1;
    std::string copy = path;
    int status = convert_posix_path(&copy, copy.size());
    path = copy;
    if (os::facts.folds_path_case) {
        for (char& c : path)
            c = (c == '\\') ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (path.size() >= 2 && path[1] == ':' && path[0] >= 'a' && path[0] <= 'z')
            path[0] = static_cast<char>(path[0] - 'a' + 'A');
    }
    return status;
}

bool is_directory(const char* path)
{
    return os::is_directory(path);
}

std::string discover_root_dir(const char* marker)
{
    std::string dir = get_exe_dir();
    normalize_path(dir);
    std::size_t found = dir.rfind(marker);
    if (found == std::string::npos)
        exit_with_error(msg::no_root_directory, dir.c_str());
    return dir.substr(0, found);
}

std::string get_dest_offset_root()
{
    std::string offset = wrapper_dest_offset;
    if (!starts_with(offset, dest_offset_prefix))
        return std::string();
    std::string root = discover_root_dir(offset.c_str() + std::strlen(dest_offset_prefix));
    if (!is_directory(root.c_str()))
        return std::string();
    return root;
}

// ---- POSIX path conversion --------------------------------------------------

bool use_cygpath()
{
    return false;
}

bool run_cygpath(const std::string& path, std::string& output)
{
    CommandLine converter("cygpath");
    converter.process_arg("--mixed");
    converter.process_arg(path.c_str());
    converter.disable_launch_error_reports();
    converter.enable_output_capture();
    if (converter.run() != 0)
        return false;
    output = converter.get_captured_output();
    return true;
}

int convert_posix_path(std::string* path, std::size_t capacity)
{
    if (path == nullptr)
        return -1;
    if (!starts_with(*path, "/") || !use_cygpath())
        return 0;
    return convert_posix_path_with(path, capacity, run_cygpath);
}

int convert_posix_path_with(std::string* path, std::size_t capacity, const PathConverter& converter)
{
    if (path == nullptr)
        return -1;
    if (!starts_with(*path, "/"))
        return 0;
    std::string output;
    if (!converter(*path, output) || output.empty() || output == *path)
        return 0;
    if (output.size() >= capacity)
        return -1;
    *path = output;
    return 0;
}

void convert_posix_args(CommandLine& cmd)
{
    if (!use_cygpath())
        return;
    convert_posix_args_with(cmd, run_cygpath);
}

void convert_posix_args_with(CommandLine& cmd, const PathConverter& converter)
{
    for (int i = 0; i < cmd.get_num_of_args(); ++i) {
        const std::string arg = cmd.get_arg(i);
        std::size_t abspath_divider = 0;
        if (!starts_with(arg, "/")) {
            std::size_t assignment = arg.find("=/");
            if (assignment == std::string::npos)
                continue;
            abspath_divider = assignment + 1;
            WRAP_ASSERT(abspath_divider > 0);
        }
        const std::string path_part = arg.substr(abspath_divider);
        if (starts_with(path_part, "/mnt"))
            continue;
        std::string output;
        if (!converter(path_part, output) || output.empty() || output == arg)
            continue;
        cmd.set_arg(i, (arg.substr(0, abspath_divider) + output).c_str());
    }
}

// ---- Process environment ----------------------------------------------------

void set_env_var(const char* name, const char* value)
{
    static const char list_suffix[] = "PATH";
    const std::size_t length = std::strlen(name);
    const bool is_list = length >= 4 && std::strcmp(name + length - 4, list_suffix) == 0;
    update_env_var(name, value, is_list);
}

void update_env_var(const char* name, const char* value, bool prepend)
{
    if (!prepend) {
        put_env_var(name, value);
        return;
    }
    std::string current = get_wrapper_var(name, false);
    if (current.empty())
        put_env_var(name, value);
    else
        put_env_var(name, (std::string(value) + os::facts.list_separator + current).c_str());
}

void put_env_var(const char* name, const char* value)
{
    os::put_env(name, value);
}

void apply_env_assignment(const std::string& assignment)
{
    std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
        set_env_var(assignment.c_str(), "1");
        return;
    }
    const std::string name = assignment.substr(0, equals);
    set_env_var(name.c_str(), assignment.c_str() + equals + 1);
}

void unset_env_var(const char* name)
{
    if (name[0] != '\0')
        put_env_var(name, "");
}

// ---- Machine-wide environment (Windows registry) ----------------------------

std::unique_ptr<char[]> get_system_env_var(const char* name)
{
    std::string value;
    if (!os::read_machine_env(name, value))
        return nullptr;
    std::unique_ptr<char[]> copy(new char[value.size() + 1]);
    std::memcpy(copy.get(), value.c_str(), value.size() + 1);
    return copy;
}

int set_system_env_var(const char* name, const char* value)
{
    return set_system_env_var_with(name, value, {os::store_machine_env, os::announce_env_change});
}

int set_system_env_var_with(const char* name, const char* value, const MachineEnvSteps& steps)
{
    update_env_var(name, value, false);
    if (!steps.store(name, value))
        return -1;
    steps.announce();
    return 0;
}
