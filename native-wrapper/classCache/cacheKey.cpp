#include "classCache/cacheKey.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "classCache/cacheStore.h"
#include "launch/launcherOptions.h"
#include "os/error.h"
#include "os/files.h"
#include "os/platform.h"
#include "os/trustedFiles.h"

namespace class_cache {

namespace {

// The names of -XX options that keep the cache out.
const char* const sharing_names[] = {"Shared", "ArchiveClasses", "DumpLoadedClassList", "VMOptionsFile", "Flags", "CDS"};
// More -XX options that keep it out: one prints the cache's options, one
// warns through the log that the cache silences; and every option of the
// ahead-of-time cache (JDK 24 on), which the JVM takes with none of the
// cache's options.
const char* const own_output_names[] = {"PrintVMOptions", "RecordDynamicDumpInfo"};
const char ahead_of_time_prefix[] = "AOT";
// Options that change the layout of objects and classes, which an archive
// must be made with to be taken: the archive's JVM gets them too.
// The collector's choice counts (ZGC has no compressed oops), and so do
// compact object headers; the unlocking options go along for the options
// that need them.
const char* const layout_names[] = {"ObjectAlignmentInBytes",     "UseCompressedOops",          "UseCompressedClassPointers",
                                    "MaxHeapSize",                "UseLargePages",              "UseCompactObjectHeaders",
                                    "UseSerialGC",                "UseParallelGC",              "UseG1GC",
                                    "UseZGC",                     "UseShenandoahGC",            "UseEpsilonGC",
                                    "UnlockExperimentalVMOptions", "UnlockDiagnosticVMOptions"};

bool starts_with(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The last write's ticks in a second (see os::FileStatus::modified).
const std::int64_t ticks_per_second = 10000000;

// One file of the key: its path, size and last write in whole seconds, or
// that it is missing. Not its inode, device or change time: a copy of the
// suite unpacked or restored at the same path (tar, cp -a, rsync -a keep
// sizes and times, tar to the second), or seen from another container, gives
// the same key, and the record then tells by the contents whether its
// archive still holds (see check_record).
void add_file(std::string& key, const std::string& path)
{
    os::FileStatus status;
    key += path + '|' +
           (os::file_status(path, status)
                ? std::to_string(status.size) + ':' + std::to_string(status.modified / ticks_per_second)
                : "missing") +
           '\n';
}

// 64-bit FNV-1a as 16 hexadecimal digits: a short, fixed file name.
std::string digest(const std::string& text)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// The name of a -XX option: "-XX:+Name", "-XX:-Name", "-XX:Name=value"
// give Name; empty for any other word.
std::string xx_name(const std::string& option)
{
    if (!starts_with(option, "-XX:"))
        return std::string();
    std::string name = option.substr(4, option.find('=') == std::string::npos ? std::string::npos : option.find('=') - 4);
    if (!name.empty() && (name[0] == '+' || name[0] == '-'))
        name.erase(0, 1);
    return name;
}

}  // namespace

std::vector<std::string> all_option_words(const std::vector<std::string>& jvm_options)
{
    std::vector<std::string> all = jvm_options;
    for (const char* variable : option_variables) {
        const char* value = std::getenv(variable);
        // java refuses a value with an unmatched quote: the tool never
        // runs, whatever the cache does.
        if (value != nullptr)
            split_java_options(value, all);
    }
    return all;
}

std::string option_keeping_cache_out(const std::vector<std::string>& jvm_options)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> sources = {{"the launcher's options", jvm_options}};
    for (const char* variable : option_variables) {
        sources.emplace_back(variable, std::vector<std::string>());
        if (const char* value = std::getenv(variable))
            split_java_options(value, sources.back().second);
    }
    for (const auto& source : sources) {
        for (const std::string& option : source.second) {
            if (keeps_cache_out(option))
                return '\'' + option + "' of " + source.first;
        }
    }
    return std::string();
}

std::vector<std::string> layout_options(const std::vector<std::string>& jvm_options)
{
    std::vector<std::string> layout;
    for (const std::string& option : all_option_words(jvm_options)) {
        const std::string name = xx_name(option);
        bool wanted = starts_with(option, "-Xmx");
        for (const char* layout_name : layout_names)
            wanted = wanted || name == layout_name;
        if (wanted)
            layout.push_back(option);
    }
    return layout;
}

bool keeps_cache_out(const std::string& option)
{
    // "@file" names a file of options; -Xlog and -verbose:class tell where
    // each class came from.
    if (starts_with(option, "@") || starts_with(option, "-Xshare") || starts_with(option, "-Xlog") ||
        option == "-verbose" || option == "-verbose:class")
        return true;
    const std::string name = xx_name(option);
    for (const char* sharing_name : sharing_names) {
        if (name.find(sharing_name) != std::string::npos)
            return true;
    }
    for (const char* own_output_name : own_output_names) {
        if (name == own_output_name)
            return true;
    }
    return starts_with(name, ahead_of_time_prefix);
}

std::string class_cache_key(const std::string& jre_dir, const std::vector<std::string>& classpath,
                            const std::vector<std::string>& jvm_options)
{
    std::string key = "runtime\n" + jre_dir + '\n';
    add_file(key, joined(jre_dir, "release"));
    add_file(key, joined(jre_dir, os::facts.jvm_lib_below_jre));
    add_file(key, joined(joined(jre_dir, "lib"), "modules"));
    key += "classpath\n";
    for (const std::string& entry : classpath)
        add_file(key, entry);
    key += "options\n";
    for (const std::string& option : jvm_options)
        key += option + '\n';
    for (const char* variable : option_variables) {
        const char* value = std::getenv(variable);
        // Empty is as unset, to java and to the run that makes the archive.
        key += std::string(variable) + (value != nullptr && value[0] != '\0' ? '=' + std::string(value) : "") + '\n';
    }
    return digest(key);
}

}  // namespace class_cache
