#include "cacheTestSupport.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "testSupport.h"

namespace cache_testing {

using namespace testing_support;

const char cache_variable[] = "NATIVE_WRAP_CLASS_CACHE";
const char list_option[] = "-XX:DumpLoadedClassList=";
const char use_option[] = "-XX:SharedArchiveFile=";

namespace {

// Whether a class list with classes in it waits in the cache: only such a
// list starts the detached run, which removes it when done.
bool list_waits(const std::string& cache)
{
    // On a disk with less than 256 MB free no archive is made.
    std::error_code error;
    if (std::filesystem::space(cache, error).available < (256u << 20) && !error)
        return false;
    for (const std::string& name : cache_files(cache, ".list")) {
        std::error_code size_error;
        if (std::filesystem::file_size(join(own_dir_of(cache), name), size_error) > 0 && !size_error)
            return true;
    }
    return false;
}

}  // namespace

std::string option_in(const std::string& text, const std::string& prefix)
{
    std::size_t at = text.find(prefix);
    if (at == std::string::npos)
        return "(none)";
    at += prefix.size();
    return text.substr(at, text.find(' ', at) - at);
}

std::string own_dir_of(const std::string& cache)
{
    return join(cache, "brumlet-classes");
}

std::vector<std::string> cache_files(const std::string& cache, const std::string& suffix, bool of_processes)
{
    std::vector<std::string> found;
    for (const std::string& name : list_dir(own_dir_of(cache))) {
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
            of_processes == (name.find(".pid") != std::string::npos))
            found.push_back(name);
    }
    return found;
}

void wait_for_archive_run(const std::string& cache)
{
    // A list kept after a failure of the moment waits for a later run: the
    // wait ends too once no attempt's file has been there for ten seconds.
    int idle = 0;
    for (int i = 0; i < 1200 && list_waits(cache) && idle < 100; ++i) {
        const bool attempt = !cache_files(cache, ".args").empty() || !cache_files(cache, ".tmp", true).empty();
        idle = attempt ? 0 : idle + 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace cache_testing
