#pragma once
// Whether a token is an administrator's filtered one. Under UAC an
// administrator's programs start with a limited token in which
// Administrators is deny-only; its linked token is the full one. Such a
// user gets what the service keeps for administrators by starting the
// program again elevated; a standard user does not.

#include <windows.h>

// GetTokenInformation, unless a test answers for the token.
using TokenInformationQuery = decltype(&::GetTokenInformation);

// A limited token (TokenElevationTypeLimited) whose linked token has
// Administrators enabled. Other filtered tokens (a backup operator's) and
// unfiltered ones are not.
bool IsFilteredAdministrator(HANDLE token, TokenInformationQuery query = &::GetTokenInformation);
