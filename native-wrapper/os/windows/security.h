// Who may change a file on Windows, for the files that only this user may
// read or change (the class cache's, the argument files).
#pragma once

#include <windows.h>

#include <vector>

namespace os::detail {

// The rights that change a file or directory of the class cache: its
// data, attributes or extended attributes, its entries, its name, its
// access list and its owner.
const DWORD writing_rights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                             FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;
// The rights by which another user could put something else in the place
// of a directory or of an entry in it: renaming or deleting the directory
// or its entries, or taking those rights by its access list or owner.
// Adding an entry is not among them (each is its maker's, as in a sticky
// directory).
const DWORD replacing_rights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;

// Whether `sid` is this user's (`user`), SYSTEM's, the Administrators' or
// TrustedInstaller's: those that may change anything anyway.
bool is_trusted_sid(PSID sid, PSID user);

// Whether an entry of `acl` that applies to the object itself grants any of
// `rights` (generic rights mapped as for files) to a SID that is not
// trusted (is_trusted_sid). Every kind of allowing entry is weighed: plain,
// callback, object and callback object ones; a compound one, which names
// two SIDs, counts as a grant to another. Deny entries are not weighed
// against grants. True also for an entry that cannot be read, and for a
// missing list (which grants everyone everything).
bool grants_others(const ACL* acl, DWORD rights, PSID user);

// Whether the open object is this user's (or the Administrators', which
// own what an elevated user makes) and its access-control list lets only
// this user, SYSTEM, the Administrators and TrustedInstaller change it
// (writing_rights): Windows has no single owner who alone decides, so a
// grant to anyone else counts as "another user can write". False also when
// it cannot be told.
bool only_user_writes(HANDLE object);

// Whether the open object's owner is trusted (is_trusted_sid) and its
// access-control list lets no one else rename, delete or replace it or
// what is in it (replacing_rights): a directory above the class cache's
// that no other user can re-point. False also when it cannot be told.
bool only_trusted_replace(HANDLE object);

// Whether the open object's owner is this user or trusted (is_trusted_sid);
// false when it cannot be told.
bool owned_by_trusted(HANDLE object);

// Whether this process runs elevated or as SYSTEM, so that it may change
// what other users own.
bool running_privileged();

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
