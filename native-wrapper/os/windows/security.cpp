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

}  // namespace

bool only_user_writes(HANDLE object)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!security().bound() ||
        security().get_security_info(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    std::vector<char> user = user_sid();
    const DWORD writing = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD | DELETE |
                          WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    auto trusted = [&](PSID sid) {
        return security().equal_sid(sid, user.data()) || security().is_well_known_sid(sid, WinLocalSystemSid) ||
               security().is_well_known_sid(sid, WinBuiltinAdministratorsSid);
    };
    // A missing list grants everyone everything.
    bool only_user = dacl != nullptr && !user.empty() && owner != nullptr &&
                     (security().equal_sid(owner, user.data()) ||
                      security().is_well_known_sid(owner, WinBuiltinAdministratorsSid));
    for (DWORD i = 0; only_user && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!security().get_ace(dacl, i, reinterpret_cast<void**>(&header)))
            only_user = false;
        else if (header->AceType == ACCESS_ALLOWED_ACE_TYPE && (header->AceFlags & INHERIT_ONLY_ACE) == 0) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            if ((ace->Mask & writing) != 0 && !trusted(&ace->SidStart))
                only_user = false;
        }
    }
    LocalFree(descriptor);
    return only_user;
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
