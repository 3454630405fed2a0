#include "classCache/jvmOutput.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "message.h"
#include "os/error.h"
#include "os/files.h"
#include "os/platform.h"
#include "os/trustedFiles.h"

namespace class_cache {

namespace {

// What the trial start says of every jar of the archive's class path (see
// reported_jars).
const char expected_classpath[] = "Expecting -Djava.class.path=";
// Up to Java 21, a jar that a manifest's Class-Path named and that was not
// there when the archive was made: the JVM checks that it still is not.
const char expected_missing[] = "should be non-existent: ";
const char app_entry[] = "(app";
const char entry_path[] = "] = ";

// What the JVM says when it cannot have memory or room on the disk: the
// next attempt may well succeed.
// A file larger than the caller's limit of file sizes (ulimit -f) is one of
// these too: the next run may have another limit.
const char* const transient_phrases[] = {"reserve",       "insufficient memory", "allocate",        "OutOfMemoryError",
                                         "Out of Memory", "No space left",       "Unable to write", "File too large"};
// Exit statuses of a JVM that another program ended (128 + SIGHUP, SIGINT,
// SIGKILL, SIGTERM): a sweep of build processes, a service stop, the
// kernel's out-of-memory killer; and of one that wrote past the limit of
// file sizes (SIGXFSZ).
const int ended_from_outside[] = {129, 130, 137, 143, 153};
// The lines of a failed JVM's output that KEY.bad keeps.
const int reason_lines = 5;

}  // namespace

std::vector<std::string> reported_jars(const std::string& output, const std::vector<std::string>& fallback)
{
    std::vector<std::string> jars;
    std::size_t at = output.find(expected_classpath);
    if (at != std::string::npos) {
        at += std::strlen(expected_classpath);
        const std::string list = output.substr(at, output.find_first_of("\r\n", at) - at);
        for (std::size_t begin = 0;;) {
            const std::size_t end = list.find(os::facts.list_separator, begin);
            jars.push_back(list.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
            if (end == std::string::npos)
                break;
            begin = end + 1;
        }
        for (at = output.find(expected_missing); at != std::string::npos; at = output.find(expected_missing, at)) {
            at += std::strlen(expected_missing);
            jars.push_back(output.substr(at, output.find_first_of("\r\n", at) - at));
        }
        return jars;
    }
    for (std::size_t line = 0; line < output.size();) {
        const std::size_t end = std::min(output.find_first_of("\r\n", line), output.size());
        const std::string text = output.substr(line, end - line);
        const std::size_t entry = text.find(app_entry), path = text.find(entry_path);
        if (entry != std::string::npos && path != std::string::npos && entry < path)
            jars.push_back(text.substr(path + std::strlen(entry_path)));
        line = end + 1;
    }
    return jars.empty() ? fallback : jars;
}

std::string lasting_failure_reason(int status, const std::string& output)
{
    if (status < 0 || std::find(std::begin(ended_from_outside), std::end(ended_from_outside), status) !=
                          std::end(ended_from_outside))
        return std::string();
    for (const char* phrase : transient_phrases) {
        if (output.find(phrase) != std::string::npos)
            return std::string();
    }
    if (status == 0)
        return msg::made_nothing_reason;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < output.size();) {
        std::size_t end = output.find('\n', at);
        end = end == std::string::npos ? output.size() : end;
        std::string line = output.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        at = end + 1;
    }
    std::string reason;
    for (std::size_t i = lines.size() > reason_lines ? lines.size() - reason_lines : 0; i < lines.size(); ++i)
        reason += lines[i] + '\n';
    return reason + formatted(msg::signal_reason, std::to_string(status));
}

}  // namespace class_cache
