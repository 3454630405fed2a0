#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "testSupport.h"

namespace testing_support {

namespace fs = std::filesystem;

namespace {

// The tests' paths are UTF-8 on both systems (on Windows the test programs
// run with the UTF-8 code page); a plain narrow path would be read in the
// C runtime's code page there.
fs::path native(const std::string& path) { return fs::u8path(path); }

}  // namespace

std::string join(const std::string& dir, const std::string& name)
{
    if (!dir.empty() && dir.back() == path_separator)
        return dir + name;
    return dir + path_separator + name;
}

std::string make_deep_dir(const std::string& base, std::size_t length)
{
    std::string deep = base;
    for (char c = 'a'; deep.size() <= length; c = c == 'z' ? 'a' : c + 1) {
        deep = join(deep, std::string(100, c));
        make_dir(deep);
    }
    return deep;
}

TempDir::TempDir()
{
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("brumlet-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.u8string();
            return;
        }
        if (error)
            break;  // not merely taken
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::TempDir(const std::string& exact_path) : path_(exact_path)
{
    // Never take over (and later delete) a tree that was there before.
    std::error_code error;
    if (!fs::create_directory(native(path_), error))
        throw std::runtime_error("cannot make a fresh directory (exists?): " + path_);
}

TempDir::~TempDir()
{
    remove_tree(path_);
}

void make_dir(const std::string& path)
{
    std::error_code ignored;
    fs::create_directory(native(path), ignored);
}

void copy_file(const std::string& from, const std::string& to)
{
    std::error_code ignored;
    fs::copy_file(native(from), native(to), fs::copy_options::overwrite_existing, ignored);
    fs::permissions(native(to), static_cast<fs::perms>(0755), ignored);
}

std::vector<std::string> list_dir(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(native(dir), error), end; !error && entry != end; entry.increment(error))
        names.push_back(entry->path().filename().u8string());
    return names;
}

bool make_symlink(const std::string& target, const std::string& link)
{
    // Windows gives symbolic links only to privileged users; the tests that
    // need one are left out there.
    if (on_windows)
        return false;
    std::error_code error;
    fs::create_symlink(native(target), native(link), error);
    return !error;
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream file(native(path), std::ios::binary);
    file << content;
}

std::string read_file(const std::string& path)
{
    std::ifstream file(native(path), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool file_exists(const std::string& path)
{
    std::ifstream file(native(path), std::ios::binary);
    return file.good();
}

std::string BackgroundProgram::out_so_far() const
{
    return read_file(outputs_ / "out");
}

RunResult run_program(const std::vector<std::string>& argv, const std::vector<EnvVar>& env, const std::string& cwd)
{
    return BackgroundProgram(argv, env, cwd).wait();
}

std::string wait_for_file(const std::string& path)
{
    for (int i = 0; i < 6000; ++i) {
        std::string content = read_file(path);
        if (!content.empty())
            return content;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

ScopedEnv::ScopedEnv(const EnvVar& change) : name_(change.name)
{
    had_value_ = get_env(change.name, old_value_);
    if (change.set)
        set_env(change.name, change.value);
    else
        unset_env(change.name);
}

ScopedEnv::~ScopedEnv()
{
    if (had_value_)
        set_env(name_, old_value_);
    else
        unset_env(name_);
}

ScopedEnvs::ScopedEnvs(const std::vector<EnvVar>& changes)
{
    for (const EnvVar& change : changes)
        envs_.emplace_back(new ScopedEnv(change));
}

ScopedEnvs::~ScopedEnvs()
{
    while (!envs_.empty())
        envs_.pop_back();
}

std::string to_hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string from_hex(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

ChildReport read_child_report(const std::string& path)
{
    ChildReport report;
    if (!file_exists(path))
        return report;
    report.found = true;
    std::istringstream lines(read_file(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("cmdline:", 0) == 0)
            report.command_line = from_hex(line.substr(8));
        else if (line.rfind("arg:", 0) == 0)
            report.args.push_back(from_hex(line.substr(4)));
        else if (line.rfind("argfile:", 0) == 0)
            report.argument_files.push_back(from_hex(line.substr(8)));
        else if (line.rfind("env:", 0) == 0)
            report.environment.push_back(from_hex(line.substr(4)));
    }
    return report;
}

}  // namespace testing_support
