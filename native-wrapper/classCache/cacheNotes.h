// The class cache's texts that a user reads: the notes that --wrapper-verbose
// shows (see ClassCacheUse::note) and the reasons that KEY.bad keeps. Each
// has one %s at most. Internal to the cache (see classCache.h).
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace class_cache {

inline constexpr char not_supported_note[] =
    "Class cache not used: the runtime at '%s' is older than Java 13 or its release file cannot be read.";
inline constexpr char unusable_dir_note[] =
    "Class cache not used: '%s' cannot be made or opened, is a link, or another user can change it.";
inline constexpr char separator_note[] =
    "Class cache not used: the JVM cannot take the path '%s' (a list separator in it).";
inline constexpr char foreign_name_note[] =
    "Class cache not used: java.exe cannot be given the path '%s' in the ANSI code page.";
inline constexpr char own_sharing_note[] =
    "Class cache not used: the JVM options choose class-data sharing, read options from a file, or log class loading.";
inline constexpr char runtime_archive_note[] =
    "Class cache not used: java warns that it cannot use the runtime's own archive '%s'.";
inline constexpr char foreign_file_note[] = "Class cache not used: '%s' is not this user's own file.";
inline constexpr char unmade_note[] = "Class cache not used: '%s' cannot be made: ";
inline constexpr char superuser_note[] =
    "Class cache not used: '%s' is not the superuser's own, and a run as the superuser would leave its files there.";
inline constexpr char few_files_note[] =
    "Class cache not used: the hard limit of open files is below %s, and the cache keeps two of them open.";
inline constexpr char closed_streams_note[] =
    "Class cache not used: a standard stream is closed, and a file of the cache would take its place.";
inline constexpr char failed_note[] = "Class cache not used: the archive of this launch could not be made (%s).";
inline constexpr char lasting_failure_note[] =
    "Class cache not used: making the archive of this launch failed within the last day, and would again:\n%s";
// The reasons a JVM of the archive's run failed for good, as KEY.bad holds them.
inline constexpr char made_nothing_reason[] = "The JVM made no archive.";
inline constexpr char signal_reason[] = "The JVM ended with status %s.";
inline constexpr char listing_note[] = "Class cache: this run lists the classes it loads in '%s'.";
inline constexpr char busy_note[] = "Class cache: another run lists the classes or makes the archive '%s'.";
inline constexpr char job_note[] = "Class cache: the archive is made in the background from '%s'.";

// `format` (one of the texts above) with `subject` in place of its %s.
inline std::string formatted(const char* format, const std::string& subject)
{
    std::vector<char> buffer(std::strlen(format) + subject.size() + 1);
    std::snprintf(buffer.data(), buffer.size(), format, subject.c_str());
    return buffer.data();
}

}  // namespace class_cache
