// Who may change a file on Windows, for the files that only this user may
// read or change (the class cache's, the argument files).
#pragma once

#include <windows.h>

#include <vector>

namespace os::detail {

// Whether the open object is this user's (or the Administrators', which
// own what an elevated user makes) and its access-control list lets only
// this user, SYSTEM and the Administrators write, delete or re-permit it:
// Windows has no single owner who alone decides, so a grant to anyone else
// counts as "another user can write". Deny entries are not weighed against
// grants. False also when it cannot be told.
bool only_user_writes(HANDLE object);

// A security descriptor of one entry, full access for this user, with
// nothing inherited from the parent: for a new file or directory that only
// this user may read or change.
class UserOnlySecurity {
public:
    // `inherit`: the entry's inheritance flags, for a directory.
    explicit UserOnlySecurity(DWORD inherit = 0);
    UserOnlySecurity(const UserOnlySecurity&) = delete;
    UserOnlySecurity& operator=(const UserOnlySecurity&) = delete;

    // Null when it could not be made.
    SECURITY_ATTRIBUTES* attributes();

private:
    std::vector<char> acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool made_ = false;
};

}  // namespace os::detail
