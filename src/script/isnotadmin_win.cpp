#include "script/foldermacro.h"

#include <windows.h>

namespace {

// Everything the test obtains; released in one place whichever step failed.
struct AdminCheck {
    HANDLE token = nullptr;
    HANDLE impersonation = nullptr;
    PSID admins = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL acl = nullptr;

    ~AdminCheck()
    {
        if (acl)
            LocalFree(acl);
        if (descriptor)
            LocalFree(descriptor);
        if (admins)
            FreeSid(admins);
        if (impersonation)
            CloseHandle(impersonation);
        if (token)
            CloseHandle(token);
    }
};

int OpenCallerToken(AdminCheck *check)
{
    const DWORD access = TOKEN_DUPLICATE | TOKEN_QUERY;
    if (OpenThreadToken(GetCurrentThread(), access, TRUE, &check->token))
        return 1;
    check->token = nullptr;
    if (GetLastError() != ERROR_NO_TOKEN)
        return 0;
    if (OpenProcessToken(GetCurrentProcess(), access, &check->token))
        return 1;
    check->token = nullptr;
    return 0;
}

// A descriptor that grants read and write to BUILTIN\Administrators only.
int BuildAdminsOnlyDescriptor(AdminCheck *check)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                  0, 0, 0, 0, &check->admins)) {
        check->admins = nullptr;
        return 0;
    }
    check->descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (!check->descriptor || !InitializeSecurityDescriptor(check->descriptor, SECURITY_DESCRIPTOR_REVISION))
        return 0;
    DWORD aclSize = GetLengthSid(check->admins) + sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    check->acl = (PACL)LocalAlloc(LPTR, aclSize);
    if (!check->acl || !InitializeAcl(check->acl, aclSize, ACL_REVISION2) ||
        !AddAccessAllowedAce(check->acl, ACL_REVISION2, 3, check->admins))
        return 0;
    if (!SetSecurityDescriptorDacl(check->descriptor, TRUE, check->acl, FALSE))
        return 0;
    SetSecurityDescriptorGroup(check->descriptor, check->admins, FALSE);
    SetSecurityDescriptorOwner(check->descriptor, check->admins, FALSE);
    return IsValidSecurityDescriptor(check->descriptor) ? 1 : 0;
}

} // namespace

int IsNotAdmin(void)
{
    AdminCheck check;
    if (!OpenCallerToken(&check))
        return 1;
    if (!DuplicateToken(check.token, SecurityImpersonation, &check.impersonation)) {
        check.impersonation = nullptr;
        return 1;
    }
    if (!BuildAdminsOnlyDescriptor(&check))
        return 1;
    GENERIC_MAPPING mapping = {1, 2, 0, 3};
    DWORD privileges[5];  // a privilege set of 20 bytes
    DWORD privilegesLength = sizeof(privileges);
    DWORD granted = 0;
    BOOL status = FALSE;
    if (!AccessCheck(check.descriptor, check.impersonation, 1, &mapping, (PPRIVILEGE_SET)privileges,
                     &privilegesLength, &granted, &status))
        status = FALSE;
    return status ? 0 : 1;
}
