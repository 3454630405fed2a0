// The key of a class-data archive, and what the cache makes of the JVM's
// option words: those that keep it out, and those an archive must be made
// with. Internal to the cache (see classCache.h).
#pragma once

#include <string>
#include <vector>

namespace class_cache {

// The variables whose options java gives the JVM besides its command line.
inline constexpr const char* option_variables[] = {"JDK_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};

// The options the cache gives a JVM: one maps an archive, one writes the
// list of classes (each followed by a path).
inline constexpr char use_option[] = "-XX:SharedArchiveFile=";
inline constexpr char list_option[] = "-XX:DumpLoadedClassList=";

// The key of an archive: the runtime's directory and the size and last
// write (to the second) of its release file, JVM library and lib/modules,
// every class-path entry's path, size and last write, and the JVM options
// with the values of java's option variables. Any difference gives another
// key: 16 hexadecimal digits. A copy at the same path with the same sizes
// and times gives the same key; the archive's record tells it apart by
// its contents.
std::string class_cache_key(const std::string& jre_dir, const std::vector<std::string>& classpath,
                            const std::vector<std::string>& jvm_options);

// Whether a JVM option word (of the command line or of java's option
// variables) keeps the cache out: one that chooses class-data sharing or
// archives itself, reads options from a file the launcher does not see, or
// logs class loading, whose output would show the archive. Matched by the
// option's name, never by its value.
bool keeps_cache_out(const std::string& option);

// The first option word that keeps the cache out (see keeps_cache_out),
// quoted, with where it came from: "'-Xlog:gc' of JDK_JAVA_OPTIONS", "of
// the launcher's options" for `jvm_options`; empty when none does.
std::string option_keeping_cache_out(const std::vector<std::string>& jvm_options);

// The JVM options followed by the words of java's option variables, as the
// JVM gets them all (a variable whose quotes do not match gives what it
// has before them).
std::vector<std::string> all_option_words(const std::vector<std::string>& jvm_options);

// Of all_option_words, those that change the layout of objects and classes
// (the heap's size, the collector, compressed pointers, and the options that
// unlock such options), in their order: the archive's JVM gets them too, as
// an archive must be made with the layout of the runs that map it.
std::vector<std::string> layout_options(const std::vector<std::string>& jvm_options);

}  // namespace class_cache
