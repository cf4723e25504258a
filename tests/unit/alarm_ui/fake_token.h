#pragma once
// Answers the program's questions about its own token (GetTokenInformation)
// as a chosen user's token would under UAC; Wine gives every process an
// elevated administrator's token. The linked token handed out is a real one
// of this process, made to match, and the program must close it.

#include <windows.h>

namespace fake_token {

enum class User {
    // Limited token; the linked one has Administrators enabled.
    FilteredAdministrator,
    // The same, with the linked token handed out as a primary token.
    FilteredAdministratorPrimaryLinked,
    // Limited token whose linked one has Administrators deny-only (a
    // backup operator's, say).
    FilteredOtherUser,
    // No linked token at all.
    StandardUser,
};

void Become(User user);
// GetTokenInformation's shape.
BOOL WINAPI Query(HANDLE token, TOKEN_INFORMATION_CLASS kind, void* data, DWORD size,
                  DWORD* needed);
// The linked token last handed out, and how often one was.
HANDLE LastLinked();
int LinkedHandedOut();

} // namespace fake_token
