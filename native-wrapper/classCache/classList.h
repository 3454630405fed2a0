// The lists of classes that the cache's archives are made from, as the
// JVM writes them (one class a line, "NAME id: N", a class of a loader of
// the tool's own with "super:", "interfaces:" and "source:"; lines that
// begin with '@' name classes to link or resolve; '#' begins a comment),
// and what an archive that is still young keeps of its list. Internal to
// the cache (see classCache.h).
#pragma once

#include <cstddef>
#include <string>

namespace class_cache {

// A young archive: made from `classes`, the `generation`th made for its key
// (1: the first), and looked at `quiet` times since without the runs'
// lists having grown by enough for another. Runs that map a young archive
// list the classes they load too; its job merges that list into
// `classes` and makes the archive again once it has grown (see
// has_grown). It settles (it is no longer young) after last_generation
// archives or quiet_looks quiet looks.
struct YoungArchive {
    int generation = 1;
    int quiet = 0;
    std::string classes;
};
inline constexpr int last_generation = 4;
inline constexpr int quiet_looks = 2;

// The text of KEY.classes for `young`: a comment line with its state, then
// its classes.
std::string young_archive_text(const YoungArchive& young);

// Reads `text` written by young_archive_text; false when it is not one.
bool read_young_archive(const std::string& text, YoungArchive& young);

// `archived` with the classes of `listed` that it lacks appended, their ids
// beyond those of `archived` and their super classes and interfaces named
// by the ids of the merged list (a class whose super class or interfaces
// are in neither is left out, as are lines of `listed` cut short), and the
// '@' lines it lacks. A class is the same when its name and its source
// are.
std::string merged_class_list(const std::string& archived, const std::string& listed);

// The number of classes in a list.
std::size_t class_count(const std::string& list);

// Whether a list of `merged` classes holds enough more than the `archived`
// ones of a young archive for another to be made.
bool has_grown(std::size_t archived, std::size_t merged);

}  // namespace class_cache
