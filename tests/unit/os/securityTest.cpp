// Windows: who the class cache's access check lets change a file or a
// directory above it, weighed on access lists built here (Wine gives files
// none of these kinds of entries), and the pause's hold on a thread only
// when it is the child's.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "os/windows/childThreads.h"
#include "os/windows/security.h"

namespace {

using os::detail::grants_others;

// A SID of the NT authority (or the world's, with `world`) with these parts.
std::vector<char> sid(std::vector<DWORD> parts, bool world = false)
{
    std::vector<char> bytes = {1, static_cast<char>(parts.size()), 0, 0, 0, 0, 0, static_cast<char>(world ? 1 : 5)};
    for (DWORD part : parts)
        bytes.insert(bytes.end(), reinterpret_cast<char*>(&part), reinterpret_cast<char*>(&part) + sizeof part);
    return bytes;
}

const std::vector<char> user = sid({21, 1, 2, 3, 1001}), other = sid({21, 1, 2, 3, 1002}), everyone = sid({0}, true),
                        system_sid = sid({18}), installer = sid({80, 956008885u, 3418522649u, 1831038044u,
                                                                 1853292631u, 2271478464u});

struct Entry {
    BYTE type;
    BYTE flags;
    DWORD mask;
    const std::vector<char>* to;
    DWORD object_flags;  // object kinds: which GUIDs come before the SID
};

// An access list of one entry, laid out as Windows lays them.
std::vector<char> acl_of(const Entry& entry)
{
    const bool object = entry.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                        entry.type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
    std::vector<char> ace(sizeof(ACE_HEADER) + sizeof(DWORD));
    std::memcpy(&ace[sizeof(ACE_HEADER)], &entry.mask, sizeof(DWORD));
    if (object) {
        ace.insert(ace.end(), reinterpret_cast<const char*>(&entry.object_flags),
                   reinterpret_cast<const char*>(&entry.object_flags) + sizeof(DWORD));
        const int guids = ((entry.object_flags & ACE_OBJECT_TYPE_PRESENT) != 0) +
                          ((entry.object_flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0);
        ace.insert(ace.end(), guids * sizeof(GUID), '\x7f');
    }
    ace.insert(ace.end(), entry.to->begin(), entry.to->end());
    ACE_HEADER header = {entry.type, entry.flags, static_cast<WORD>(ace.size())};
    std::memcpy(ace.data(), &header, sizeof header);
    ACL acl = {ACL_REVISION_DS, 0, static_cast<WORD>(sizeof(ACL) + ace.size()), 1, 0};
    std::vector<char> bytes(reinterpret_cast<char*>(&acl), reinterpret_cast<char*>(&acl) + sizeof acl);
    bytes.insert(bytes.end(), ace.begin(), ace.end());
    return bytes;
}

TEST(AccessCheck, WeighsEveryKindOfGrantToAnother)
{
    const DWORD both = ACE_OBJECT_TYPE_PRESENT | ACE_INHERITED_OBJECT_TYPE_PRESENT;
    struct Row {
        Entry entry;
        DWORD rights;
        bool others_may;
    } rows[] = {
        {{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_WRITE_DATA, &other, 0}, os::detail::writing_rights, true},
        {{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_WRITE_ATTRIBUTES, &everyone, 0}, os::detail::writing_rights, true},
        {{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ | FILE_EXECUTE, &other, 0}, os::detail::writing_rights, false},
        {{ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, &user, 0}, os::detail::writing_rights, false},
        {{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, &system_sid, 0}, os::detail::writing_rights, false},
        {{ACCESS_ALLOWED_ACE_TYPE, INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE, FILE_ALL_ACCESS, &other, 0},
         os::detail::writing_rights, false},
        {{ACCESS_DENIED_ACE_TYPE, 0, FILE_ALL_ACCESS, &other, 0}, os::detail::writing_rights, false},
        {{ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, FILE_APPEND_DATA, &other, 0}, os::detail::writing_rights, true},
        {{ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, DELETE, &other, 0}, os::detail::writing_rights, true},
        {{ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, DELETE, &user, ACE_OBJECT_TYPE_PRESENT}, os::detail::writing_rights,
         false},
        {{ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, 0, WRITE_DAC, &user, both}, os::detail::writing_rights, false},
        {{ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, 0, WRITE_OWNER, &other, both}, os::detail::writing_rights, true},
        // Above the cache: adding entries replaces nothing, deleting them does.
        {{ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_WRITE, &everyone, 0}, os::detail::replacing_rights, false},
        {{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_DELETE_CHILD, &other, 0}, os::detail::replacing_rights, true},
        {{ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, &other, 0}, os::detail::replacing_rights, true},
        {{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, &installer, 0}, os::detail::replacing_rights, false},
    };
    for (const Row& row : rows) {
        std::vector<char> acl = acl_of(row.entry);
        EXPECT_EQ(row.others_may,
                  grants_others(reinterpret_cast<ACL*>(acl.data()), row.rights, const_cast<char*>(user.data())))
            << "type " << int(row.entry.type) << " mask " << std::hex << row.entry.mask;
    }
    EXPECT_TRUE(grants_others(nullptr, os::detail::writing_rights, const_cast<char*>(user.data())));
}

// A thread id from a snapshot that now names a thread of another process
// than the child's is never held (reuse of ids cannot be staged, so a
// thread of this process stands for that thread).
TEST(ChildPause, HoldsAThreadOnlyWhenItIsTheChilds)
{
    const DWORD rights = THREAD_SUSPEND_RESUME | THREAD_QUERY_LIMITED_INFORMATION;
    HANDLE own = os::detail::open_thread_of(GetCurrentThreadId(), GetCurrentProcessId(), rights);
    EXPECT_NE(nullptr, own);
    CloseHandle(own);
    EXPECT_EQ(nullptr, os::detail::open_thread_of(GetCurrentThreadId(), GetCurrentProcessId() + 4, rights));
}

}  // namespace
#endif
