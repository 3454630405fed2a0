// The record of an archive (KEY.sum): what vouches that an archive and the
// files it was made from are still what they were. Each file by its
// identity, which a stat gives at once, and by a digest of its contents,
// read only when the identity differs: a copy of the same bytes (a cache
// restored, a suite unpacked again, another container's view) is the same
// file, a file of other bytes never is, whatever its size and times.
// Internal to the cache (see classCache.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "os/trustedFiles.h"

namespace class_cache {

// The identity of a file with no file there: a record vouches that it is
// still missing (a jar a manifest's Class-Path names, which the JVM checks
// the archive for too).
inline constexpr char missing_identity[] = "missing";

// A digest of a file's contents, fed in pieces of any size: 64-bit FNV-1a
// over 8-byte words in four lanes (so that it goes at the speed of the
// reads, several GB/s), each word's high bits folded back into the low.
// Meant to tell a changed file from the one it replaced, not to withstand
// one made to look alike.
class ContentDigest {
public:
    void add(const char* bytes, std::size_t count);
    // The digest of all that was added: 16 hexadecimal digits.
    std::string hex() const;

private:
    void add_block(const unsigned char* block);
    std::uint64_t lanes_[4] = {14695981039346656037ull, 14695981039346656037ull ^ 1, 14695981039346656037ull ^ 2,
                               14695981039346656037ull ^ 3};
    std::uint64_t length_ = 0;
    std::string pending_;  // the start of a block, until it is whole
};

// The digest of what `file` holds, read in large pieces; empty when it
// cannot be read.
std::string content_digest(const os::OwnFile& file);

// One file a record vouches for: its path (empty for the archive itself),
// its identity (see os::FileStatus; missing_identity where there is no
// file) and the digest of its contents ("directory" for a directory,
// empty where missing).
struct Vouched {
    std::string path;
    std::string identity;
    std::string digest;
};

// Takes the identity and digest of the file at `path`, links followed as
// the JVM opens a class-path entry; a file not there is vouched for as
// missing. False when it cannot be read whole or changed while it was
// read: nothing can be vouched for it.
bool vouch_for(const std::string& path, Vouched& vouched);

// Takes (see vouch_for) each of `paths` that `taken` does not hold yet,
// adding it there; false when one cannot be taken.
bool vouch_for_new(const std::vector<std::string>& paths, std::vector<Vouched>& taken);

// Whether `taken` holds each of `paths`.
bool all_taken(const std::vector<std::string>& paths, const std::vector<Vouched>& taken);

// Of `taken`, those of `paths`, in their order, into `files`; false when
// one of them was not taken or is no longer as it was then (another
// identity, or there where it was missing).
bool still_as_taken(const std::vector<std::string>& paths, const std::vector<Vouched>& taken,
                    std::vector<Vouched>& files);

// `path` as one field of a line of the record: a tab, a line break or a
// backslash in it written as \t, \n, \r, \\, so that any path reads back whole.
std::string record_field(const std::string& path);

// The path that record_field wrote as `field`.
std::string record_path(const std::string& field);

// The text of the record of the `archive` (as it was placed: every later
// write, cut or replacement changes its identity) and of every file it was
// made from, one line each, and a last line that tells it whole.
std::string archive_record(const Vouched& archive, const std::vector<Vouched>& files);

// What the record of an archive says of it now.
struct RecordCheck {
    // Every file is what it was: those whose identity differs (a restored
    // or copied cache or suite) hold the same bytes.
    bool holds = false;
    // Where `holds` but some identity differed: the record with the
    // identities the files have now, for the next run to check at once.
    std::string renewed;
    // Where it does not hold: the file that changed (the archive's own
    // path for the archive), or empty for a record that cannot be read.
    std::string changed;
};

// Checks the open `archive` and the files of its `record`: each by its
// identity, and by its contents where that differs. Reads nothing but the
// files whose identity differs.
RecordCheck check_record(const os::OwnFile& archive, const std::string& record);

}  // namespace class_cache
