#include "alarm_ui/token_elevation.h"

#include "common/unique_handle.h"

namespace {

// CheckTokenMembership takes impersonation tokens only; what the linked
// token is depends on the caller's privileges, so a primary one is
// duplicated at identification level (enough to read its groups).
bool HasAdministratorsEnabled(HANDLE token) {
    TOKEN_TYPE type = TokenPrimary;
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenType, &type, sizeof(type), &size)) {
        return false;
    }
    KRVN::unique_handle duplicate;
    if (type == TokenPrimary && !::DuplicateToken(token, SecurityIdentification, duplicate.put())) {
        return false;
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    size = sizeof(administrators);
    BOOL member = FALSE;
    return ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
           ::CheckTokenMembership(duplicate ? duplicate.get() : token, administrators, &member) &&
           member;
}

} // namespace

bool IsFilteredAdministrator(HANDLE token, TokenInformationQuery query) {
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!query(token, TokenElevationType, &type, sizeof(type), &size) ||
        type != TokenElevationTypeLimited) {
        return false;
    }
    TOKEN_LINKED_TOKEN linked = {};
    if (!query(token, TokenLinkedToken, &linked, sizeof(linked), &size)) {
        return false;
    }
    // The handle is ours to close.
    const KRVN::unique_handle full(linked.LinkedToken);
    return HasAdministratorsEnabled(full.get());
}
