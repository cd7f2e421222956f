#include "production/win/owner_only.h"

#include <windows.h>
// After <windows.h>, which these use.
#include <aclapi.h>
#include <sddl.h>

#include <filesystem>

namespace farsend::testing {

std::string OwnerOnlyProblem(const std::string& path) {
    PSID owner = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring name = std::filesystem::path(path).wstring();
    const DWORD read = GetNamedSecurityInfoW(
        name.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        &owner, nullptr, &acl, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) return "its security cannot be read: error " + std::to_string(read);
    std::string problem;
    if (acl == nullptr) {
        problem = "it has no access list: everyone may open it";
    } else if (acl->AceCount == 0) {
        problem = "its access list is empty";
    } else {
        for (DWORD i = 0; i < acl->AceCount && problem.empty(); ++i) {
            void* entry = nullptr;
            GetAce(acl, i, &entry);
            const auto* header = static_cast<ACE_HEADER*>(entry);
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            PSID who = reinterpret_cast<PSID>(&allowed->SidStart);
            // The owner itself, the "owner rights" SID that stands for it,
            // or the system, which reads every file anyway.
            SID_IDENTIFIER_AUTHORITY creator = SECURITY_CREATOR_SID_AUTHORITY;
            SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
            PSID ownerRights = nullptr;
            PSID system = nullptr;
            AllocateAndInitializeSid(&creator, 1, SECURITY_CREATOR_OWNER_RIGHTS_RID, 0, 0, 0, 0, 0,
                                     0, 0, &ownerRights);
            AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                     &system);
            const bool isOwner =
                EqualSid(who, owner) || EqualSid(who, ownerRights) || EqualSid(who, system);
            FreeSid(ownerRights);
            FreeSid(system);
            if (!isOwner) {
                wchar_t* text = nullptr;
                ConvertSidToStringSidW(who, &text);
                problem = "its access list lets another account in: " +
                          std::filesystem::path(text != nullptr ? text : L"?").string();
                LocalFree(text);
            }
        }
    }
    LocalFree(descriptor);
    return problem;
}

}  // namespace farsend::testing
