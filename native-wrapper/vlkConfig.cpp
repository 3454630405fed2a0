#include "vlkConfig.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "envUtils.h"
#include "message.h"
#include "os/files.h"
#include "os/platform.h"
#include "wrapAssert.h"

namespace {

const char version_marker[] = "Version: ";
const char service_pack_marker[] = " Service Pack ";
// A version file's first line counts only this far.
const int version_line_limit = 255;
// A lookup's path is formatted into a 260-byte buffer: longer ones are cut.
const std::size_t version_path_limit = 259;
const std::size_t version_buffer_size = 256;
// A runtime's release file is read this far, which is more than any has.
const std::size_t release_read_limit = 65536;

// Copies `text` into `out`, cut to fit `out_size` and NUL-terminated.
void copy_bounded(const std::string& text, char* out, std::size_t out_size)
{
    if (out_size == 0)
        return;
    const std::size_t count = text.size() < out_size ? text.size() : out_size - 1;
    text.copy(out, count);
    out[count] = '\0';
}

// The text up to the first space, comma, carriage return or line feed.
std::string up_to_separator(const std::string& text)
{
    return text.substr(0, text.find_first_of(" ,\r\n"));
}

// "Version: 9.1 Service Pack 2 Build 350" -> "9.1sp2". The text before the
// service-pack marker keeps its spaces: "9.1 Build 350 Service Pack 2" gives
// "9.1 Build 350sp2".
std::string version_from_line(const std::string& line)
{
    std::size_t start = line.find(version_marker);
    start = start == std::string::npos ? 0 : start + sizeof version_marker - 1;
    const std::string version = line.substr(start);
    const std::size_t service_pack = version.find(service_pack_marker);
    if (service_pack == std::string::npos)
        return up_to_separator(version);
    const char* service_pack_string_end = version.c_str() + service_pack + sizeof service_pack_marker - 1;
    WRAP_ASSERT(service_pack_string_end != NULL);
    return version.substr(0, service_pack) + "sp" + up_to_separator(service_pack_string_end);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

const char* lookup_version(const char* root, const char* root_var, const char* suffix, const char* fallback,
                           char* buffer)
{
    std::string path = root != nullptr ? root : get_wrapper_var(root_var, false);
    path += suffix;
    if (path.size() > version_path_limit)
        path.resize(version_path_limit);
    if (read_version_file(path.c_str(), buffer, version_buffer_size) == 0)
        copy_bounded(fallback, buffer, version_buffer_size);
    return buffer;
}

}  // namespace

int read_version_file(const char* path, char* out, std::size_t out_size)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "r"));
    if (!file) {
        copy_bounded("unknown", out, out_size);
        return 0;
    }
    // fgets stops after 255 characters however long the line is; an empty
    // file leaves the line empty.
    char line[version_line_limit + 1] = "";
    if (std::fgets(line, sizeof line, file.get()) == nullptr)
        line[0] = '\0';
    copy_bounded(version_from_line(line), out, out_size);
    return 1;
}

const char* get_suite_version(const char* root)
{
    static char suite_version[version_buffer_size];
    return lookup_version(root, "DRAVON_ROOTDIR", "/tildr_builder/version.txt", "dravon-unknown", suite_version);
}

const char* get_kit_version(const char* root)
{
    static char kit_version[version_buffer_size];
    return lookup_version(root, "TILDR_KIT_VORNI2", "/version.txt", "vorni2-unknown", kit_version);
}

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

std::string get_java_runtime_dir()
{
    // A second pass replaces names the first one left, such as a second
    // occurrence of a name in the override.
    const std::string dir = expand_wrapper_vars(get_jre_dir().c_str(), wrapper_var_table);
    // A relative path is the current directory's, as exec and dlopen take
    // it, made full here so that nothing later searches for it (CreateProcess
    // would look for a relative program in the launcher's directory and on
    // PATH).
    std::string full;
    os::Failure failure;
    if (!os::full_path(dir, full, failure)) {
        print_err(stderr, msg::call_failed_fatally, failure.call);
        std::exit(-1);
    }
    return full;
}

std::string java_exe_in(const std::string& jre_dir)
{
    return jre_dir + os::facts.path_separator + os::facts.java_exe_below_jre;
}

std::string get_java_exe()
{
    // The part below the runtime holds no wrapper variable name, and none
    // can span the separator: expanding the joined path is expanding the
    // directory.
    return java_exe_in(get_java_runtime_dir());
}

int release_major_version(const std::string& release_text)
{
    static const std::string marker = "JAVA_VERSION=\"";
    std::size_t at = release_text.find(marker);
    // JAVA_VERSION_DATE and the like share the prefix: only a line's start counts.
    while (at != std::string::npos && at > 0 && release_text[at - 1] != '\n')
        at = release_text.find(marker, at + 1);
    if (at == std::string::npos)
        return 0;
    const char* version = release_text.c_str() + at + marker.size();
    // Before Java 9 the major version came second: "1.8.0_392".
    if (std::strncmp(version, "1.", 2) == 0)
        version += 2;
    return std::atoi(version);
}

int runtime_version(const std::string& jre_dir)
{
    std::string release;
    os::Failure error;
    return os::read_file_start(jre_dir + os::facts.path_separator + "release", release_read_limit, release, error)
               ? release_major_version(release)
               : 0;
}
