// What java's own launcher makes of its options before the JVM sees them,
// for the in-process launch: the words of JDK_JAVA_OPTIONS (argument files
// expanded, the options java refuses there refused), and java's launcher
// options turned into the options the JVM takes, or into work for the
// launcher itself (a splash image, a version line, a module listing). The
// messages are java's, word for word.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// JVM options as java hands them to JNI_CreateJavaVM, and what java's
// launcher does itself around the JVM.
struct JvmLaunchOptions {
    int java_version = 0;                    // the runtime's major version, whose java's rules apply (0: unknown, 17's)
    std::vector<std::string> options;        // for the JVM, in order
    std::string splash_image;                // of the last "-splash:IMAGE"; empty: none
    std::vector<std::string> warnings;       // java's lines for options it ignores
    std::uint64_t stack_size = 0;            // of the last "-Xss" java can read; 0: none
    std::uint64_t initial_heap_size = 0;     // of the last "-Xms"; 0: none
    std::uint64_t max_heap_size = 0;         // of the last "-Xmx"; 0: none
    std::string show_settings;               // the "-XshowSettings..." option; empty: none
    bool show_resolved_modules = false;      // --show-module-resolution
    bool list_modules = false;               // --list-modules: list, then end
    std::string describe_module;             // --describe-module NAME: describe, then end
    int show_version = 0;                    // 0: none; 1: -showversion (stderr); 2: --show-version (stdout)
    bool validate_modules = false;           // --validate-modules: the JVM checks, then end
};

// The words of `text`, an option variable's value, split as java splits
// it: at white space, single or double quotes holding a part together.
// False at an unmatched quote; `words` then holds the words before it.
bool split_java_options(const std::string& text, std::vector<std::string>& words);

// The words of the environment variable `name` of value `text` as java
// takes them: split at white space, single or double quotes holding a part
// together, and each "@FILE" word replaced by the words of that argument
// file ("@@x" stands for "@x"). Returns false with java's message in
// `error` (without line break) where java refuses the variable: an
// unmatched quote, a file it cannot read, an option that ends java's option
// list (-jar, -version, --help...) or a word that would name the main class;
// the messages are those of the java of runtime version `java_version`.
bool read_java_options_variable(const std::string& name, const std::string& text, int java_version,
                                std::vector<std::string>& words, std::string& error);

// The words of an argument file's content as java reads them: white space
// separates, quotes hold a part together, a backslash inside quotes escapes
// (\n \r \t \f, and a line break continues the word on the next line's
// first non-blank), "#" starts a comment up to the end of the line.
std::vector<std::string> argument_file_words(const std::string& content);

// Turns java's launcher options among `words` into `launch`: the space forms
// of the module options become the "NAME=VALUE" forms the JVM takes ("-p"
// is --module-path), class-path options and -server/-client are dropped,
// the old spellings (-ss, -mx, -verify...) take their -X forms, with the
// warnings, as the java of launch.java_version has them. Every other word
// goes to the JVM unchanged. Returns false with java's message in
// `error` when an option lacks its value.
bool translate_launcher_options(const std::vector<std::string>& words, JvmLaunchOptions& launch, std::string& error);

// A size as java's launcher reads "-Xss" and the heap sizes: digits and at
// most one of the units k, m, g, t (either case). False when it is not one.
bool parse_java_size(const std::string& text, std::uint64_t& size);
