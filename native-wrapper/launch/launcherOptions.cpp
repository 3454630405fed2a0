#include "launch/launcherOptions.h"

#include <cstring>
#include <iterator>

#include "message.h"
#include "os/trustedFiles.h"

namespace {

// Options that end java's own option list: java refuses them in
// JDK_JAVA_OPTIONS, where no command line follows.
const char* const terminal_options[] = {"-jar", "-m", "--module", "--dry-run", "-h", "-?", "-help", "--help", "-X",
                                        "--help-extra", "-version", "--version", "-fullversion", "--full-version"};

// The module options that take their value as the next word; the JVM takes
// only their "NAME=VALUE" forms.
const char* const module_options[] = {"--module-path", "-p", "--upgrade-module-path", "--add-modules",
                                      "--enable-native-access", "--limit-modules", "--add-exports", "--add-opens",
                                      "--add-reads", "--patch-module"};
const char* const class_path_options[] = {"--class-path", "-classpath", "-cp"};
// java's launcher options that take the next word as their value.
const char* const launcher_value_options[] = {"--class-path", "-classpath", "-cp", "--module", "-m",
                                              "--describe-module", "-d", "--source"};

// The old spellings that java's launcher still knows, per runtime version:
// what the JVM gets for each (null: nothing) and the warning java prints.
// A word that the version's java no longer knows goes to the JVM as it is,
// which refuses it where it does not know it either.
enum class OldWarning { none, deprecated, unsupported };
struct OldSpelling {
    const char* word;
    const char* option;  // "-X" + the word without its "-": the word is a prefix ("-ss512k")
    OldWarning warning;
};
const char prefixed[] = "-X";
const OldSpelling java17_spellings[] = {
    {"-noclassgc", "-Xnoclassgc", OldWarning::none},  {"-verify", "-Xverify:all", OldWarning::none},
    {"-verifyremote", "-Xverify:remote", OldWarning::none}, {"-noverify", "-Xverify:none", OldWarning::none},
    {"-verbosegc", "-verbose:gc", OldWarning::none},  {"-t", "-Xt", OldWarning::none},
    {"-tm", "-Xtm", OldWarning::none},                {"-debug", "-Xdebug", OldWarning::none},
    {"-Xfuture", "-Xverify:all", OldWarning::deprecated}, {"-checksource", nullptr, OldWarning::unsupported},
    {"-cs", nullptr, OldWarning::unsupported},        {"-noasyncgc", nullptr, OldWarning::unsupported},
    {"-ss", prefixed, OldWarning::none},              {"-oss", prefixed, OldWarning::none},
    {"-ms", prefixed, OldWarning::none},              {"-mx", prefixed, OldWarning::none},
};
// Java 25 warns about the rest, and no longer knows -t, -tm, -oss, -Xfuture,
// -checksource, -cs and -noasyncgc.
const OldSpelling java25_spellings[] = {
    {"-noclassgc", "-Xnoclassgc", OldWarning::deprecated},  {"-verify", "-Xverify:all", OldWarning::deprecated},
    {"-verifyremote", "-Xverify:remote", OldWarning::deprecated}, {"-noverify", "-Xverify:none", OldWarning::none},
    {"-verbosegc", "-verbose:gc", OldWarning::deprecated},  {"-debug", nullptr, OldWarning::deprecated},
    {"-ss", prefixed, OldWarning::deprecated},               {"-ms", prefixed, OldWarning::deprecated},
    {"-mx", prefixed, OldWarning::deprecated},
};
// The first runtime version whose java has the later rules above and
// reports an argument file it cannot read in other words.
const int java25 = 25;

// java's smallest stack for the thread of main: less could overflow before
// the JVM gets to check the size itself.
const std::uint64_t min_stack_size = 64 * 1024;
// java reads argument files of at most this many bytes.
const std::uint64_t max_argument_file_size = 0x7fffffff;

template <std::size_t N>
bool is_one_of(const std::string& word, const char* const (&list)[N])
{
    for (const char* item : list) {
        if (word == item)
            return true;
    }
    return false;
}

bool starts_with(const std::string& word, const char* prefix)
{
    return word.compare(0, std::strlen(prefix), prefix) == 0;
}

bool is_terminal(const std::string& word)
{
    return is_one_of(word, terminal_options) || starts_with(word, "--module=");
}

bool is_value_option(const std::string& word)
{
    return is_one_of(word, module_options) || is_one_of(word, launcher_value_options);
}

// The old spelling `word` is for the java of runtime version `version`, or
// null when that java passes it on as it is.
const OldSpelling* old_spelling(const std::string& word, int version)
{
    const OldSpelling* first = version >= java25 ? std::begin(java25_spellings) : std::begin(java17_spellings);
    const OldSpelling* last = version >= java25 ? std::end(java25_spellings) : std::end(java17_spellings);
    for (const OldSpelling* old = first; old != last; ++old) {
        if (old->option == prefixed ? starts_with(word, old->word) : word == old->word)
            return old;
    }
    return nullptr;
}

// What an option lacks when no value follows it (worded as java words it,
// but for the two paths).
const char* missing_value(const std::string& option)
{
    if (is_one_of(option, class_path_options))
        return "a class path";
    if (option == "-p" || option == "--module-path" || option == "--upgrade-module-path")
        return "a module path";
    if (option == "--describe-module" || option == "-d" || option == "--module" || option == "-m")
        return "module name";
    if (option == "--source")
        return "source version";
    return "modules to be specified";
}

// java's check of each word it takes from the variable, after the word
// that names the main class: a word without "-" that is no option's value.
class MainClassCheck {
public:
    // False when `word` would be the main class.
    bool take(const std::string& word)
    {
        const bool value = expecting_value_;
        expecting_value_ = false;
        if (word.empty() || word[0] != '-')
            return value;
        // -jar and -m take the main class along: refused as ending the list.
        expecting_value_ = is_value_option(word) && word != "-m" && word != "--module";
        if (word == "--disable-@files")
            stop_expansion = true;
        return true;
    }
    bool stop_expansion = false;

private:
    bool expecting_value_ = false;
};

// The words of the argument file `path`, or java's message.
bool read_argument_file(const std::string& path, int java_version, std::vector<std::string>& words,
                        std::string& error)
{
    os::FileStatus status;
    std::string content;
    os::Failure open_error;
    if (!os::file_status(path, status)) {
        error = formatted(msg::java_cannot_open, path.c_str());
        return false;
    }
    if (status.size > max_argument_file_size) {
        error = formatted(msg::java_file_too_large, std::to_string(max_argument_file_size).c_str());
        return false;
    }
    if (status.is_directory) {
        // Opened, but not read.
        error = formatted(java_version >= java25 ? msg::java_cannot_read : msg::java_cannot_load, path.c_str());
        return false;
    }
    if (!os::read_file_start(path, static_cast<std::size_t>(status.size), content, open_error)) {
        error = formatted(msg::java_cannot_open, path.c_str());
        return false;
    }
    words = argument_file_words(content);
    return true;
}

}  // namespace

std::vector<std::string> argument_file_words(const std::string& content)
{
    // java's reader, state by state: `parts` is what the word has so far,
    // `pending` what it read since then, both ending in the word.
    enum State { find_next, skip_lead_blanks, in_token, in_quote, in_escape, in_comment };
    std::vector<std::string> words;
    std::string parts, pending;
    bool has_parts = false;
    State state = find_next;
    char quote = '"';
    auto commit = [&] {
        parts += pending;
        pending.clear();
        has_parts = true;
    };
    for (char c : content) {
        if (state == find_next || state == skip_lead_blanks) {
            if (std::strchr(" \t\n\r\f", c) != nullptr)
                continue;
            state = state == find_next ? in_token : in_quote;
        } else if (state == in_escape) {
            if (c == '\n' || c == '\r') {
                // A line break after a backslash joins the next line's word on.
                state = skip_lead_blanks;
            } else {
                const char* escapes = "n\nr\rt\tf\f";
                const char* found = std::strchr(escapes, c);
                parts += found != nullptr && (found - escapes) % 2 == 0 ? found[1] : c;
                has_parts = true;
                state = in_quote;
            }
            continue;
        } else if (state == in_comment) {
            if (c == '\n' || c == '\r')
                state = find_next;
            continue;
        }
        switch (c) {
        case ' ':
        case '\t':
        case '\f':
            if (state == in_quote) {
                pending += c;
                continue;
            }
            [[fallthrough]];
        case '\n':
        case '\r':
            // A line break ends a word even inside quotes.
            words.push_back(parts + pending);
            parts.clear();
            pending.clear();
            has_parts = false;
            state = find_next;
            continue;
        case '#':
            if (state == in_quote)
                break;
            // As java: what the word read since its last quote goes with the comment.
            pending.clear();
            state = in_comment;
            continue;
        case '\\':
            if (state != in_quote)
                break;
            commit();
            state = in_escape;
            continue;
        case '\'':
        case '"':
            if (state == in_quote && c != quote)
                break;
            if (!pending.empty())
                commit();
            if (state == in_token) {
                quote = c;
                state = in_quote;
            } else {
                state = in_token;
            }
            continue;
        default:
            break;
        }
        pending += c;
    }
    // A last word without a line break (an open quote just ends).
    if (state == in_token || state == in_quote) {
        if (!pending.empty())
            commit();
        if (has_parts)
            words.push_back(parts);
    }
    return words;
}

bool split_java_options(const std::string& text, std::vector<std::string>& words)
{
    const char* const spaces = " \t\n\v\f\r";  // isspace of the C locale, as java's launcher splits
    std::size_t at = 0;
    while ((at = text.find_first_not_of(spaces, at)) != std::string::npos) {
        std::string word;
        while (at < text.size() && std::strchr(spaces, text[at]) == nullptr) {
            const char c = text[at++];
            if (c != '"' && c != '\'') {
                word += c;
                continue;
            }
            const std::size_t end = text.find(c, at);
            if (end == std::string::npos)
                return false;
            word.append(text, at, end - at);
            at = end + 1;
        }
        words.push_back(word);
    }
    return true;
}

bool read_java_options_variable(const std::string& name, const std::string& text, int java_version,
                                std::vector<std::string>& words, std::string& error)
{
    MainClassCheck check;
    // The words before an unmatched quote are taken first, as java takes
    // each word as it reads it.
    std::vector<std::string> split;
    const bool quotes_match = split_java_options(text, split);
    for (const std::string& word : split) {
        bool main_class_free = true;
        if (word.size() > 1 && word[0] == '@' && !check.stop_expansion) {
            std::vector<std::string> from_file;
            if (word[1] == '@') {
                from_file.push_back(word.substr(1));
            } else if (!read_argument_file(word.substr(1), java_version, from_file, error)) {
                return false;
            }
            for (const std::string& item : from_file) {
                if (is_terminal(item)) {
                    error = formatted(msg::java_option_in_file_refused, item.c_str(), word.c_str(), name.c_str());
                    return false;
                }
                main_class_free = check.take(item) && main_class_free;
                words.push_back(item);
            }
        } else {
            if (is_terminal(word)) {
                error = formatted(msg::java_option_refused, word.c_str(), name.c_str());
                return false;
            }
            main_class_free = check.take(word);
            words.push_back(word);
        }
        if (!main_class_free) {
            error = formatted(msg::java_main_class_refused, name.c_str());
            return false;
        }
    }
    if (!quotes_match) {
        error = formatted(msg::java_unmatched_quote, name.c_str());
        return false;
    }
    return true;
}

bool parse_java_size(const std::string& text, std::uint64_t& size)
{
    std::size_t digits = 0;
    std::uint64_t number = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        number = number * 10 + static_cast<std::uint64_t>(text[digits++] - '0');
    if (digits == 0 || text.size() > digits + 1)
        return false;
    const char unit = digits < text.size() ? text[digits] : '\0';
    const char* const units = "kmgt";
    const char* found = unit != '\0' ? std::strchr(units, unit | 0x20) : nullptr;
    if (unit != '\0' && found == nullptr)
        return false;
    size = number << (found != nullptr ? 10 * (found - units + 1) : 0);
    return true;
}

bool translate_launcher_options(const std::vector<std::string>& words, JvmLaunchOptions& launch, std::string& error)
{
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        std::string option;
        if (is_value_option(word)) {
            if (i + 1 == words.size() || starts_with(words[i + 1], "-")) {
                error = formatted(msg::java_value_missing, word.c_str(), missing_value(word));
                return false;
            }
            const std::string& value = words[++i];
            if (is_one_of(word, module_options))
                option = (word == "-p" ? "--module-path" : word) + "=" + value;
            else if (word == "--describe-module" || word == "-d")
                launch.describe_module = value;
            else if (!is_one_of(word, class_path_options))
                option = word + " " + value;  // not java's in this launch: the JVM refuses it
        } else if (starts_with(word, "--describe-module=")) {
            launch.describe_module = word.substr(word.find('=') + 1);
        } else if (starts_with(word, "-splash:")) {
            launch.splash_image = word.substr(std::strlen("-splash:"));
        } else if (word == "-showversion" || word == "--show-version") {
            launch.show_version = word == "-showversion" ? 1 : 2;
        } else if (word == "-Xdiag") {
            option = "-Dsun.java.launcher.diag=true";
        } else if (word == "--show-module-resolution") {
            launch.show_resolved_modules = true;
        } else if (word == "--list-modules") {
            launch.list_modules = true;
        } else if (word == "--validate-modules") {
            launch.validate_modules = true;
            option = "-Djdk.module.validation=true";
        } else if (starts_with(word, "-XshowSettings")) {
            launch.show_settings = word;
        } else if (const OldSpelling* old = old_spelling(word, launch.java_version)) {
            if (old->warning != OldWarning::none)
                launch.warnings.push_back(formatted(old->warning == OldWarning::deprecated
                                                        ? msg::java_option_deprecated
                                                        : msg::java_option_unsupported,
                                                    old->word));
            if (old->option == prefixed)
                option = prefixed + word.substr(1);
            else if (old->option != nullptr)
                option = old->option;
        } else if (word != "-server" && word != "-client" && !starts_with(word, "--class-path=")) {
            option = word;
        }
        if (option.empty())
            continue;
        std::uint64_t size = 0;
        if (starts_with(option, "-Xss") && parse_java_size(option.substr(4), size))
            launch.stack_size = size < min_stack_size ? min_stack_size : size;
        if (starts_with(option, "-Xms") && parse_java_size(option.substr(4), size))
            launch.initial_heap_size = size;
        if (starts_with(option, "-Xmx") && parse_java_size(option.substr(4), size))
            launch.max_heap_size = size;
        launch.options.push_back(std::move(option));
    }
    return true;
}
