// The merging of class lists, and the state of a young archive.
#include "classCache/classList.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace class_cache {

namespace {

const char youth_format[] = "# generation %d quiet %d\n";
const char source_field[] = " source: ";
// A young archive is made again only for this many classes more at least,
// or a tenth more where that is more: a tool whose runs differ by a few
// classes would gain less than the making costs.
const std::size_t least_growth = 16;

// Calls `take` with each line of `text` that a newline ends (a last one
// cut short is not).
template <typename Take>
void for_each_line(const std::string& text, Take take)
{
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        take(text.substr(start, end - start));
}

std::vector<std::string> words_of(const std::string& text)
{
    std::vector<std::string> words;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        if (end > start)
            words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

bool read_id(const std::string& word, long& id)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (word.empty() || word.size() > 9 || !std::all_of(word.begin(), word.end(), digit))
        return false;
    id = std::stol(word);
    return true;
}

// A class line split at its source (which may hold spaces): the part
// before, and " source: PATH" or nothing.
std::pair<std::string, std::string> split_at_source(const std::string& line)
{
    const std::size_t at = line.find(source_field);
    return at == std::string::npos ? std::make_pair(line, std::string())
                                   : std::make_pair(line.substr(0, at), line.substr(at));
}

// Whether `line` is a class, with its name and source in `identity` and
// its id in `id` (-1 for a class of the runtime's loaders in a list of a
// runtime that gives those none).
bool read_class(const std::string& line, std::string& identity, long& id)
{
    if (line.empty() || line[0] == '#' || line[0] == '@')
        return false;
    const auto parts = split_at_source(line);
    const std::vector<std::string> words = words_of(parts.first);
    identity = words.empty() ? std::string() : words[0] + parts.second;
    id = -1;
    return (words.size() == 1 && parts.second.empty()) ||
           (words.size() >= 3 && words[1] == "id:" && read_id(words[2], id));
}

// The class `line` with the id `own_id` and the ids of its super class and
// interfaces as `ids` maps them; false when one of them is not there.
bool renumbered(const std::string& line, const std::map<long, long>& ids, long own_id, std::string& result)
{
    const auto parts = split_at_source(line);
    const std::vector<std::string> words = words_of(parts.first);
    std::string field;
    result.clear();
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string word = words[i];
        long id = 0;
        if (i == 2) {
            word = std::to_string(own_id);
        } else if ((field == "super:" || field == "interfaces:") && read_id(word, id)) {
            const auto found = ids.find(id);
            if (found == ids.end())
                return false;
            word = std::to_string(found->second);
        } else if (word.back() == ':') {
            field = word;
        }
        result += (i == 0 ? "" : " ") + word;
    }
    result += parts.second;
    return true;
}

}  // namespace

std::string young_archive_text(const YoungArchive& young)
{
    char line[64];
    std::snprintf(line, sizeof line, youth_format, young.generation, young.quiet);
    return line + young.classes;
}

bool read_young_archive(const std::string& text, YoungArchive& young)
{
    const std::size_t end = text.find('\n');
    int generation = 0, quiet = 0;
    char check[64];
    if (end == std::string::npos || std::sscanf(text.c_str(), youth_format, &generation, &quiet) != 2 ||
        generation < 1 || quiet < 0)
        return false;
    // The line must be the whole of it: nothing else begins so.
    std::snprintf(check, sizeof check, youth_format, generation, quiet);
    if (text.compare(0, end + 1, check) != 0)
        return false;
    young = YoungArchive{generation, quiet, text.substr(end + 1)};
    return true;
}

std::string merged_class_list(const std::string& archived, const std::string& listed)
{
    std::map<std::string, long> merged_ids;  // of each class, by name and source
    std::set<std::string> other_lines;
    long next_id = 0;
    std::string merged;
    for_each_line(archived, [&](const std::string& line) {
        std::string identity;
        long id = 0;
        if (read_class(line, identity, id)) {
            merged_ids.emplace(identity, id);
            next_id = std::max(next_id, id + 1);
        } else if (!line.empty() && line[0] == '@') {
            other_lines.insert(line);
        }
        merged += line + '\n';
    });
    std::map<long, long> ids;  // the listed ids in the merged list
    for_each_line(listed, [&](const std::string& line) {
        std::string identity, line_there;
        long id = 0;
        if (read_class(line, identity, id)) {
            const auto found = merged_ids.find(identity);
            if (found != merged_ids.end()) {
                if (id >= 0 && found->second >= 0)
                    ids[id] = found->second;
            } else if (id < 0) {
                merged_ids.emplace(identity, id);
                merged += line + '\n';
            } else if (renumbered(line, ids, next_id, line_there)) {
                ids[id] = merged_ids[identity] = next_id++;
                merged += line_there + '\n';
            }
        } else if (!line.empty() && line[0] == '@' && other_lines.insert(line).second) {
            merged += line + '\n';
        }
    });
    return merged;
}

std::size_t class_count(const std::string& list)
{
    std::size_t count = 0;
    for_each_line(list, [&](const std::string& line) {
        std::string identity;
        long id = 0;
        count += read_class(line, identity, id) ? 1 : 0;
    });
    return count;
}

bool has_grown(std::size_t archived, std::size_t merged)
{
    return merged >= archived + std::max(least_growth, archived / 10);
}

}  // namespace class_cache
