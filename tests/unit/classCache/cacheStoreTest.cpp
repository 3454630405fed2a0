// The files of the cache's own directory: which it may delete, the record's
// escapes, the trim.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "classCache/cacheStore.h"
#include "os/files.h"
#include "os/platform.h"
#include "os/trustedFiles.h"
#include "testSupport.h"

namespace {

using namespace class_cache;
using namespace testing_support;

// The cache deletes only files by names it gives: a key of 16 lower-case
// hexadecimal digits and one of its suffixes, or a list or archive of one
// process.
TEST(ClassCache, OnlyTheCachesOwnNamesAreItsFiles)
{
    const std::string key = "0123456789abcdef";
    struct Case {
        std::string name;
        bool ours;
        bool of_process;
    };
    const Case cases[] = {
        {key + ".jsa", true, false},  {key + ".sum", true, false}, {key + ".list", true, false},
        {key + ".bad", true, false},  {key + ".tmp", true, false}, {key + ".out", true, false},
        {key + ".args", true, false}, {key + ".new", true, false}, {key + ".lines", true, false},
        {key + ".classes", true, false},
        // Of one process: its list, or the archive it makes; nothing else.
        {key + ".pid42.list", true, true}, {key + ".pid7.tmp", true, true}, {key + ".pid42.jsa", false, false},
        {key + ".pid.list", false, false}, {key + ".pid42", false, false},
        {key + ".jsa.old", false, false},  {key + ".txt", false, false},     {key, false, false},
        {"0123456789ABCDEF.jsa", false, false}, {"0123456789abcde.jsa", false, false}, {key + "0.jsa", false, false},
        {"runs.lock", false, false},            {"old.jsa", false, false},
    };
    for (const Case& c : cases) {
        std::string found_key;
        bool of_process = false;
        EXPECT_EQ(c.ours, is_cache_file(c.name, &found_key, &of_process)) << c.name;
        EXPECT_EQ(c.ours ? key : "", found_key) << c.name;
        EXPECT_EQ(c.of_process, of_process) << c.name;
    }
}

// A path in a line of the record: tabs, line breaks and backslashes
// escaped, so that the field holds none of the record's separators, and
// read back whole.
TEST(ClassCache, RecordFieldsHoldAnyPath)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/opt/tool/a.jar", "/opt/tool/a.jar"},
        {"C:\\suite\\bin64\\a.jar", "C:\\\\suite\\\\bin64\\\\a.jar"},
        {"/x\ty/a\nb\rc.jar", "/x\\ty/a\\nb\\rc.jar"},
        {"/a\\t.jar", "/a\\\\t.jar"},
        {"ends in \\", "ends in \\\\"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, record_field(c.first)) << c.first;
        EXPECT_EQ(c.first, record_path(record_field(c.first))) << c.first;
    }
    // A field cut after a backslash keeps it.
    EXPECT_EQ("a\\", record_path("a\\"));
}

// A record holds while its files hold the bytes it was made from, copied or not; other bytes
// of the same size and times, or a missing jar that came, are a change.
TEST(ClassCache, TheRecordTellsFilesByTheirContents)
{
    // `file` replaced by `bytes` with the same last write, as cp -p and a restore leave it.
    struct Case {
        const char* name;
        const char* file;
        const char* bytes;
        bool holds, renewed;
    };
    const Case cases[] = {
        {"as made", "", "", true, false},
        {"jar copied", "a.jar", "jar bytes", true, true},
        {"archive copied", "c/k.jsa", "archive", true, true},
        {"jar of other bytes", "a.jar", "jar bytez", false, false},
        {"archive of other bytes", "c/k.jsa", "archivE", false, false},
        {"missing jar there", "gone.jar", "x", false, false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        make_dir(dir / "c");
        write_file(dir / "c/k.jsa", "archive");
        write_file(dir / "a.jar", "jar bytes");
        const os::OwnFile opened = os::open_own_directory(dir.path(), "c", false);
        os::OwnFile archive = os::open_in_directory(opened, "k.jsa", false);
        os::FileStatus status;
        std::vector<Vouched> files(2);
        ASSERT_TRUE(os::file_status(archive, status) && vouch_for(dir / "a.jar", files[0]) &&
                    vouch_for(dir / "gone.jar", files[1]));
        const std::string record = archive_record(Vouched{"", status.identity, content_digest(archive)}, files);
        const std::string path = dir / c.file;
        archive.close();  // Windows replaces no open file
        if (*c.file) {
            const auto time = std::filesystem::last_write_time(dir / "a.jar");
            write_file(path + ".new", c.bytes);
            std::filesystem::last_write_time(path + ".new", time);
            std::filesystem::rename(path + ".new", path);
        }
        archive = os::open_in_directory(opened, "k.jsa", false);
        const RecordCheck check = check_record(archive, record);
        EXPECT_EQ(c.holds, check.holds) << c.name;
        EXPECT_EQ(c.renewed, !check.renewed.empty()) << c.name;
        EXPECT_EQ(c.holds ? "" : path == dir / "c/k.jsa" ? archive.path() : path, check.changed) << c.name;
        // Cut after a whole line, it never holds.
        EXPECT_FALSE(check_record(archive, record.substr(0, record.rfind('\n', record.size() - 2) + 1)).holds);
        // The renewed record holds at once.
        if (c.renewed) {
            const RecordCheck again = check_record(archive, check.renewed);
            EXPECT_TRUE(again.holds && again.renewed.empty()) << c.name;
        }
    }
    // Fed in pieces of any size, the same digest.
    const std::string bytes(100, 'z');
    ContentDigest whole, pieces;
    whole.add(bytes.data(), 100);
    for (std::size_t at = 0; at < 100; at += 7)
        pieces.add(bytes.data() + at, std::min<std::size_t>(7, 100 - at));
    EXPECT_EQ(whole.hex(), pieces.hex());
}

// Archives go least recently used first while they take more than the
// limit; the new one stays, and so does every file the cache did not make.
TEST(ClassCache, TrimKeepsTheMostRecentlyUsedWithinTheLimit)
{
    TempDir dir;
    const std::string cache = dir / "cache";
    make_dir(cache);
    const auto now = std::filesystem::file_time_type::clock::now();
    const std::string keys[] = {"000000000000000a", "000000000000000b", "000000000000000c", "000000000000000d"};
    for (int i = 0; i < 4; ++i) {
        // A use touches the record alone: the archives' own times run the other way.
        for (const char* suffix : {".jsa", ".sum"}) {
            write_file(join(cache, keys[i] + suffix), std::string(1000, 'x'));
            const int minutes_ago = suffix == std::string(".sum") ? 10 - i : i;
            std::filesystem::last_write_time(join(cache, keys[i] + suffix), now - std::chrono::minutes(minutes_ago));
        }
    }
    write_file(join(cache, "old.jsa"), std::string(5000, 'x'));
    const os::OwnFile opened = os::open_own_directory(dir.path(), "cache", false);
    os::FileStatus newest;
    ASSERT_TRUE(os::entry_status(opened, keys[3] + ".jsa", newest));
    trim_class_cache(opened, keys[0], 3000, newest.modified);
    std::vector<std::string> kept = list_dir(cache);
    std::sort(kept.begin(), kept.end());
    const std::vector<std::string> expected = {keys[0] + ".jsa", keys[0] + ".sum", keys[2] + ".jsa",
                                               keys[2] + ".sum", keys[3] + ".jsa", keys[3] + ".sum", "old.jsa"};
    EXPECT_EQ(expected, kept);
}

// The unfinished archive of a process that has ended goes; one of a live
// process stays, and counts against the limit as every file does.
TEST(ClassCache, TrimSweepsAndCountsTheUnfinishedArchives)
{
    TempDir dir;
    const std::string cache = dir / "cache";
    make_dir(cache);
    const std::string live = "000000000000000c.pid" + std::to_string(os::process_id()) + ".tmp",
                      ended = "000000000000000c.pid1073741820.tmp";
    for (const std::string& name : {std::string("000000000000000a.jsa"), std::string("000000000000000b.jsa"), live, ended})
        write_file(join(cache, name), std::string(1000, 'x'));
    const os::OwnFile opened = os::open_own_directory(dir.path(), "cache", false);
    trim_class_cache(opened, "000000000000000a", 2500, os::current_time());
    std::vector<std::string> kept = list_dir(cache);
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ((std::vector<std::string>{"000000000000000a.jsa", live}), kept);
}

}  // namespace
