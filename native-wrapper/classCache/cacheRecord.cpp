#include "classCache/cacheRecord.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "os/error.h"
#include "os/files.h"

namespace class_cache {

namespace {

const std::uint64_t fnv_prime = 1099511628211ull;
const std::size_t block_size = 32;  // four lanes of one word each
// The archive is read in pieces this large (a few reads for 20 MB).
const std::size_t read_piece = 1 << 20;
const char directory_digest[] = "directory";
// The record's last line: one cut short (two runs that renew it at once
// share the name of the file it is written to first) is never taken whole.
const char record_end[] = "end";

// Eight bytes as one word, in the machine's order (both ports are x86-64,
// so a record reads the same on either).
std::uint64_t word_at(const unsigned char* bytes)
{
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The fields of one line of the record, split at its tabs.
std::vector<std::string> fields_of(const std::string& line)
{
    std::vector<std::string> fields;
    for (std::size_t begin = 0;;) {
        const std::size_t end = line.find('\t', begin);
        fields.push_back(line.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos)
            return fields;
        begin = end + 1;
    }
}

std::string record_line(const Vouched& file)
{
    return (file.path.empty() ? std::string() : record_field(file.path) + '\t') + file.identity + '\t' + file.digest +
           '\n';
}

}  // namespace

void ContentDigest::add_block(const unsigned char* block)
{
    for (int lane = 0; lane < 4; ++lane) {
        std::uint64_t& value = lanes_[lane];
        value = (value ^ word_at(block + 8 * lane)) * fnv_prime;
        value ^= value >> 32;
    }
}

void ContentDigest::add(const char* bytes, std::size_t count)
{
    length_ += count;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(bytes);
    if (!pending_.empty()) {
        const std::size_t taken = std::min(count, block_size - pending_.size());
        pending_.append(bytes, taken);
        at += taken;
        count -= taken;
        if (pending_.size() < block_size)
            return;
        add_block(reinterpret_cast<const unsigned char*>(pending_.data()));
        pending_.clear();
    }
    for (; count >= block_size; at += block_size, count -= block_size)
        add_block(at);
    pending_.assign(reinterpret_cast<const char*>(at), count);
}

std::string ContentDigest::hex() const
{
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : pending_)
        hash = (hash ^ c) * fnv_prime;
    for (std::uint64_t lane : lanes_)
        hash = (hash ^ lane) * fnv_prime;
    // The length tells apart inputs that differ only by trailing zeros.
    hash = (hash ^ length_) * fnv_prime;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash ^ (hash >> 29)));
    return hex;
}

std::string content_digest(const os::OwnFile& file)
{
    ContentDigest digest;
    std::string piece;
    for (std::uint64_t offset = 0;;) {
        piece.assign(read_piece, '\0');
        if (!os::read_at(file, offset, piece))
            return std::string();
        if (piece.empty())
            return digest.hex();
        digest.add(piece.data(), piece.size());
        offset += piece.size();
    }
}

bool vouch_for(const std::string& path, Vouched& vouched)
{
    vouched = Vouched{path, missing_identity, std::string()};
    os::FileStatus before, after;
    if (!os::file_status(path, before))
        return true;
    if (before.is_directory) {
        vouched.identity = before.identity;
        vouched.digest = directory_digest;
        return true;
    }
    // Read whole at once (a jar is a few MB at most), then looked at
    // again: the same identity after the read says these were its bytes.
    std::string content;
    os::Failure error;
    if (!os::read_file_start(path, static_cast<std::size_t>(before.size) + 1, content, error) ||
        content.size() != before.size || !os::file_status(path, after) || after.identity != before.identity)
        return false;
    ContentDigest digest;
    digest.add(content.data(), content.size());
    vouched.identity = before.identity;
    vouched.digest = digest.hex();
    return true;
}

bool vouch_for_new(const std::vector<std::string>& paths, std::vector<Vouched>& taken)
{
    for (const std::string& path : paths) {
        Vouched vouched;
        if (all_taken({path}, taken))
            continue;
        if (!vouch_for(path, vouched))
            return false;
        taken.push_back(vouched);
    }
    return true;
}

bool all_taken(const std::vector<std::string>& paths, const std::vector<Vouched>& taken)
{
    return std::all_of(paths.begin(), paths.end(), [&taken](const std::string& path) {
        return std::any_of(taken.begin(), taken.end(), [&path](const Vouched& file) { return file.path == path; });
    });
}

bool still_as_taken(const std::vector<std::string>& paths, const std::vector<Vouched>& taken,
                    std::vector<Vouched>& files)
{
    files.clear();
    for (const std::string& path : paths) {
        const auto file =
            std::find_if(taken.begin(), taken.end(), [&path](const Vouched& each) { return each.path == path; });
        os::FileStatus status;
        const bool there = os::file_status(path, status);
        if (file == taken.end() || (there ? status.identity : std::string(missing_identity)) != file->identity)
            return false;
        files.push_back(*file);
    }
    return true;
}

std::string record_field(const std::string& path)
{
    std::string field;
    for (char c : path) {
        const char* escaped = c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\\' ? "\\\\" : nullptr;
        field += escaped != nullptr ? std::string(escaped) : std::string(1, c);
    }
    return field;
}

std::string record_path(const std::string& field)
{
    std::string path;
    for (std::size_t at = 0; at < field.size(); ++at) {
        if (field[at] != '\\' || at + 1 == field.size()) {
            path += field[at];
            continue;
        }
        const char next = field[++at];
        path += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return path;
}

std::string archive_record(const Vouched& archive, const std::vector<Vouched>& files)
{
    std::string record = record_line(Vouched{std::string(), archive.identity, archive.digest});
    for (const Vouched& file : files)
        record += record_line(file);
    return record + record_end + '\n';
}

RecordCheck check_record(const os::OwnFile& archive, const std::string& record)
{
    RecordCheck check;
    std::vector<std::vector<std::string>> lines;
    for (std::size_t at = 0; at < record.size();) {
        const std::size_t end = record.find('\n', at);
        if (end == std::string::npos)
            return check;
        lines.push_back(fields_of(record.substr(at, end - at)));
        at = end + 1;
    }
    os::FileStatus status;
    if (lines.size() < 2 || lines.back() != std::vector<std::string>{record_end} || lines[0].size() != 2 ||
        !os::file_status(archive, status))
        return check;
    lines.pop_back();
    Vouched placed{std::string(), status.identity, lines[0][1]};
    if (status.identity != lines[0][0] && content_digest(archive) != placed.digest) {
        check.changed = archive.path();
        return check;
    }
    bool renewed = status.identity != lines[0][0];
    std::vector<Vouched> files;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].size() != 3)
            return check;
        Vouched recorded{record_path(lines[i][0]), lines[i][1], lines[i][2]};
        os::FileStatus now;
        const bool there = os::file_status(recorded.path, now);
        if (there && now.identity == recorded.identity) {
            files.push_back(recorded);
            continue;
        }
        // A file missing then and there now is a change, as to the JVM.
        Vouched current;
        if ((!there && recorded.identity == missing_identity) ||
            (there && recorded.identity != missing_identity && vouch_for(recorded.path, current) &&
             current.digest == recorded.digest)) {
            files.push_back(there ? current : recorded);
            renewed = renewed || there;
            continue;
        }
        check.changed = recorded.path;
        return check;
    }
    check.holds = true;
    if (renewed)
        check.renewed = archive_record(placed, files);
    return check;
}

}  // namespace class_cache
