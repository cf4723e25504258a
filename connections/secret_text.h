#pragma once
// Password copies in BSTRs: the server objects' own, and those their
// Password property hands out. Both are wiped before the string is freed.
// The wiped strings of other kinds are config/secret_text.h's.

#include <windows.h>
#include <oleauto.h>

#include "common/unique_handle.h"
#include "config/secret_text.h"

// Overwrites a string that is about to be freed.
inline void WipeBstr(BSTR text) noexcept {
    if (text) {
        ::SecureZeroMemory(text, ::SysStringByteLen(text));
    }
}

inline void WipeAndFreeBstr(BSTR text) noexcept {
    WipeBstr(text);
    ::SysFreeString(text);
}

// Owner of a BSTR that holds a password: wiped, then freed.
using SecretBstr = KRVN::unique_any<KRVN::close_with<BSTR, WipeAndFreeBstr>>;
