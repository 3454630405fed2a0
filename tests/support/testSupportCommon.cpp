#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "testSupport.h"

namespace testing_support {

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

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream file(path, std::ios::binary);
    file << content;
}

std::string read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

bool file_exists(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return file.good();
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
    }
    return report;
}

}  // namespace testing_support
