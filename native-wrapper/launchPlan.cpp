#include "launchPlan.h"

#include "os/platform.h"

std::string joined_classpath(const std::vector<std::string>& entries)
{
    std::string classpath;
    std::size_t length = 0;
    for (const std::string& entry : entries)
        length += entry.size() + 1;
    classpath.reserve(length);  // sized once: growing by doubling touches twice the memory
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0)
            classpath += os::facts.list_separator;
        classpath += entries[i];
    }
    return classpath;
}

os::Command java_command(const LaunchPlan& plan, const std::vector<std::string>& added_options)
{
    os::Command command;
    std::vector<std::string>& words = command.words;
    words.reserve(plan.jvm_options.size() + added_options.size() + 4 + plan.tool_args.size());
    words.push_back(plan.java_path);
    words.insert(words.end(), plan.jvm_options.begin(), plan.jvm_options.end());
    words.insert(words.end(), added_options.begin(), added_options.end());
    command.option_words = words.size() - 1;
    if (!plan.classpath.empty()) {
        words.push_back("-cp");
        ++command.option_words;
        words.push_back(joined_classpath(plan.classpath));
    }
    words.push_back(plan.main_class);
    words.insert(words.end(), plan.tool_args.begin(), plan.tool_args.end());
    return command;
}
