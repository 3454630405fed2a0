// Windows: the access check on lists built here (Wine has none such), and the pause.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "os/windows/childThreads.h"
#include "os/windows/security.h"

namespace {

// A SID of the NT authority (the world's with `world`).
std::vector<char> sid(std::vector<DWORD> parts, bool world = false)
{
    std::vector<char> bytes = {1, static_cast<char>(parts.size()), 0, 0, 0, 0, 0, static_cast<char>(world ? 1 : 5)};
    for (DWORD part : parts)
        bytes.insert(bytes.end(), reinterpret_cast<char*>(&part), reinterpret_cast<char*>(&part) + sizeof part);
    return bytes;
}

const std::vector<char> user = sid({21, 1, 2, 3, 1001}), other = sid({21, 1, 2, 3, 1002}), everyone = sid({0}, true),
                        installer = sid({80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u});

// An access list of one entry; `guids`: an object kind's GUID flags.
std::vector<char> acl_of(BYTE type, BYTE flags, DWORD mask, const std::vector<char>& to, int guids = -1)
{
    const DWORD fields[] = {mask, static_cast<DWORD>(guids)};
    std::vector<char> ace(sizeof(ACE_HEADER), '\0');
    ace.insert(ace.end(), reinterpret_cast<const char*>(fields), reinterpret_cast<const char*>(fields + (guids >= 0) + 1));
    ace.insert(ace.end(), guids < 0 ? 0 : ((guids & 1) + (guids >> 1 & 1)) * sizeof(GUID), '\x7f');
    ace.insert(ace.end(), to.begin(), to.end());
    const ACE_HEADER header = {type, flags, static_cast<WORD>(ace.size())};
    std::memcpy(ace.data(), &header, sizeof header);
    const ACL acl = {ACL_REVISION_DS, 0, static_cast<WORD>(sizeof(ACL) + ace.size()), 1, 0};
    ace.insert(ace.begin(), reinterpret_cast<const char*>(&acl), reinterpret_cast<const char*>(&acl) + sizeof acl);
    return ace;
}

TEST(AccessCheck, WeighsEveryKindOfGrantToAnother)
{
    const DWORD writing = os::detail::writing_rights, replacing = os::detail::replacing_rights;
    struct Row { std::vector<char> acl; DWORD rights; bool others_may; } rows[] = {
        {acl_of(ACCESS_ALLOWED_ACE_TYPE, 0, FILE_WRITE_ATTRIBUTES, everyone), writing, true},
        {acl_of(ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ | FILE_EXECUTE, other), writing, false},
        {acl_of(ACCESS_ALLOWED_ACE_TYPE, INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE, FILE_ALL_ACCESS, other), writing, false},
        {acl_of(ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, FILE_APPEND_DATA, other), writing, true},
        {acl_of(ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, DELETE, other, 0), writing, true},
        {acl_of(ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, DELETE, user, ACE_OBJECT_TYPE_PRESENT), writing, false},
        {acl_of(ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, 0, WRITE_DAC, user, 3), writing, false},
        {acl_of(ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, 0, GENERIC_ALL, other, 3), writing, true},
        // Above the cache: adding entries replaces nothing, deleting them does.
        {acl_of(ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_WRITE, everyone), replacing, false},
        {acl_of(ACCESS_ALLOWED_ACE_TYPE, 0, FILE_DELETE_CHILD, other), replacing, true},
        {acl_of(ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, installer), replacing, false},
    };
    for (Row& row : rows)
        EXPECT_EQ(row.others_may, os::detail::grants_others(reinterpret_cast<ACL*>(row.acl.data()), row.rights,
                                                            const_cast<char*>(user.data()))) << &row - rows;
}

// A snapshot's thread id that now names another process's thread is never
// held (a thread of this process stands for it: reuse cannot be staged).
TEST(ChildPause, HoldsAThreadOnlyWhenItIsTheChilds)
{
    const DWORD rights = THREAD_SUSPEND_RESUME | THREAD_QUERY_LIMITED_INFORMATION;
    EXPECT_TRUE(CloseHandle(os::detail::open_thread_of(GetCurrentThreadId(), GetCurrentProcessId(), rights)));
    EXPECT_EQ(nullptr, os::detail::open_thread_of(GetCurrentThreadId(), GetCurrentProcessId() + 4, rights));
}

}  // namespace
#endif
