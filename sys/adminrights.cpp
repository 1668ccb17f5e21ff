#include "sys/adminrights.h"

#include <windows.h>

#include "base/ownedhandle.h"

namespace {
// TokenElevation, declared from Vista on: the program is built against XP's headers, and XP's
// GetTokenInformation refuses the class. Its answer is one DWORD, non-zero when elevated.
constexpr int kTokenElevation = 20;
}  // namespace

bool queryAdministratorToken(bool* administratorsMember, bool* elevated) {
    *administratorsMember = false;
    *elevated = false;
    SID_IDENTIFIER_AUTHORITY authority = {SECURITY_NT_AUTHORITY};
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        return false;
    }
    BOOL member = FALSE;
    bool asked = CheckTokenMembership(nullptr, administrators, &member) != FALSE;
    FreeSid(administrators);
    HANDLE token = nullptr;
    if (!asked || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    OwnedHandle owned(token);
    DWORD elevation = 0;
    DWORD length = 0;
    *administratorsMember = member != FALSE;
    *elevated = !GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(kTokenElevation),
                                     &elevation, sizeof elevation, &length) ||
                elevation != 0;
    return true;
}
