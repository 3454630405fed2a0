// Access control of the files only this user may change (os/windows/security.h).
#include "os/windows/security.h"

#include <aclapi.h>

#include "os/windows/systemLibraries.h"

namespace os::detail {

namespace {

// The security entries of advapi32 that the class cache needs.
struct SecurityFunctions {
    decltype(&OpenProcessToken) open_process_token;
    decltype(&GetTokenInformation) get_token_information;
    decltype(&GetLengthSid) get_length_sid;
    decltype(&GetSecurityInfo) get_security_info;
    decltype(&GetAce) get_ace;
    decltype(&EqualSid) equal_sid;
    decltype(&IsWellKnownSid) is_well_known_sid;
    decltype(&InitializeAcl) initialize_acl;
    decltype(&AddAccessAllowedAceEx) add_access_allowed_ace_ex;
    decltype(&InitializeSecurityDescriptor) initialize_security_descriptor;
    decltype(&SetSecurityDescriptorDacl) set_security_descriptor_dacl;
    decltype(&SetSecurityDescriptorControl) set_security_descriptor_control;
    bool bound() const
    {
        return open_process_token && get_token_information && get_length_sid && get_security_info && get_ace &&
               equal_sid && is_well_known_sid && initialize_acl && add_access_allowed_ace_ex &&
               initialize_security_descriptor && set_security_descriptor_dacl && set_security_descriptor_control;
    }
};

const SecurityFunctions& security()
{
    static const SecurityFunctions functions = [] {
        const HMODULE advapi32 = load_system_library("advapi32.dll");
        SecurityFunctions bound;
        bind_entry(advapi32, "OpenProcessToken", bound.open_process_token);
        bind_entry(advapi32, "GetTokenInformation", bound.get_token_information);
        bind_entry(advapi32, "GetLengthSid", bound.get_length_sid);
        bind_entry(advapi32, "GetSecurityInfo", bound.get_security_info);
        bind_entry(advapi32, "GetAce", bound.get_ace);
        bind_entry(advapi32, "EqualSid", bound.equal_sid);
        bind_entry(advapi32, "IsWellKnownSid", bound.is_well_known_sid);
        bind_entry(advapi32, "InitializeAcl", bound.initialize_acl);
        bind_entry(advapi32, "AddAccessAllowedAceEx", bound.add_access_allowed_ace_ex);
        bind_entry(advapi32, "InitializeSecurityDescriptor", bound.initialize_security_descriptor);
        bind_entry(advapi32, "SetSecurityDescriptorDacl", bound.set_security_descriptor_dacl);
        bind_entry(advapi32, "SetSecurityDescriptorControl", bound.set_security_descriptor_control);
        return bound;
    }();
    return functions;
}

// The SID of the user this process runs as, in a buffer of its own;
// empty when the token cannot be read.
std::vector<char> user_sid()
{
    std::vector<char> sid;
    HANDLE token = nullptr;
    if (!security().bound() || !security().open_process_token(GetCurrentProcess(), TOKEN_QUERY, &token))
        return sid;
    DWORD size = 0;
    security().get_token_information(token, TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    if (size > 0 && security().get_token_information(token, TokenUser, buffer.data(), size, &size)) {
        PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        sid.assign(static_cast<char*>(user), static_cast<char*>(user) + security().get_length_sid(user));
    }
    CloseHandle(token);
    return sid;
}

// TrustedInstaller, which owns the system's own directories (the root of
// the system volume among them): NT SERVICE\TrustedInstaller.
struct {
    BYTE revision = SID_REVISION;
    BYTE count = 6;
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    DWORD parts[6] = {SECURITY_SERVICE_ID_BASE_RID, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u};
} trusted_installer;

// What an entry grants, its generic rights mapped as for files.
DWORD mapped(DWORD mask)
{
    if (mask & GENERIC_READ)
        mask |= FILE_GENERIC_READ;
    if (mask & GENERIC_WRITE)
        mask |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_EXECUTE)
        mask |= FILE_GENERIC_EXECUTE;
    if (mask & GENERIC_ALL)
        mask |= FILE_ALL_ACCESS;
    return mask;
}

// The SID that the allowing entry `header` grants to, null for one that
// grants nothing; `mask` gets what it grants. The object kinds carry one
// or two GUIDs before the SID, as their flags say.
PSID granted_sid(ACE_HEADER* header, DWORD& mask)
{
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        mask = ace->Mask;
        return &ace->SidStart;
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_OBJECT_ACE*>(header);
        mask = ace->Mask;
        char* sid = reinterpret_cast<char*>(&ace->ObjectType);
        if (ace->Flags & ACE_OBJECT_TYPE_PRESENT)
            sid += sizeof(GUID);
        if (ace->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT)
            sid += sizeof(GUID);
        return sid;
    }
    default:
        mask = 0;
        return nullptr;
    }
}

// The owner and access list of the open `object`, freed with the object.
struct Security {
    explicit Security(HANDLE object)
    {
        known = security().bound() &&
                security().get_security_info(object, SE_FILE_OBJECT,
                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                                             &dacl, nullptr, &descriptor) == ERROR_SUCCESS &&
                owner != nullptr && !(user = user_sid()).empty();
    }
    ~Security() { LocalFree(descriptor); }
    Security(const Security&) = delete;
    Security& operator=(const Security&) = delete;

    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::vector<char> user;
    bool known = false;
};

}  // namespace

bool is_trusted_sid(PSID sid, PSID user)
{
    return security().bound() &&
           (security().equal_sid(sid, user) || security().is_well_known_sid(sid, WinLocalSystemSid) ||
            security().is_well_known_sid(sid, WinBuiltinAdministratorsSid) ||
            security().equal_sid(sid, &trusted_installer));
}

bool grants_others(const ACL* acl, DWORD rights, PSID user)
{
    if (acl == nullptr || !security().bound())
        return true;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!security().get_ace(const_cast<ACL*>(acl), i, reinterpret_cast<void**>(&header)))
            return true;
        // An entry only for what is made below does not apply here.
        if (header->AceFlags & INHERIT_ONLY_ACE)
            continue;
        DWORD mask = 0;
        PSID sid = granted_sid(header, mask);
        if (header->AceType == ACCESS_ALLOWED_COMPOUND_ACE_TYPE)
            mask = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->Mask;
        else if (sid != nullptr && is_trusted_sid(sid, user))
            continue;
        if ((mapped(mask) & rights) != 0)
            return true;
    }
    return false;
}

bool only_user_writes(HANDLE object)
{
    Security of(object);
    return of.known &&
           (security().equal_sid(of.owner, of.user.data()) ||
            security().is_well_known_sid(of.owner, WinBuiltinAdministratorsSid)) &&
           !grants_others(of.dacl, writing_rights, of.user.data());
}

bool only_trusted_replace(HANDLE object)
{
    Security of(object);
    return of.known && is_trusted_sid(of.owner, of.user.data()) &&
           !grants_others(of.dacl, replacing_rights, of.user.data());
}

bool owned_by_trusted(HANDLE object)
{
    Security of(object);
    return of.known && is_trusted_sid(of.owner, of.user.data());
}

bool running_privileged()
{
    HANDLE token = nullptr;
    if (!security().bound() || !security().open_process_token(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool elevated = security().get_token_information(token, TokenElevation, &elevation, sizeof elevation,
                                                           &size) &&
                          elevation.TokenIsElevated != 0;
    CloseHandle(token);
    std::vector<char> user = user_sid();
    return elevated || (!user.empty() && security().is_well_known_sid(user.data(), WinLocalSystemSid));
}

UserOnlySecurity::UserOnlySecurity(DWORD inherit)
{
    std::vector<char> user = user_sid();
    if (user.empty())
        return;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + user.size());
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    made_ = security().initialize_acl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
            security().add_access_allowed_ace_ex(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, user.data()) &&
            security().initialize_security_descriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
            security().set_security_descriptor_dacl(&descriptor_, TRUE, acl, FALSE) &&
            security().set_security_descriptor_control(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

SECURITY_ATTRIBUTES* UserOnlySecurity::attributes()
{
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    return made_ ? &attributes_ : nullptr;
}

}  // namespace os::detail
