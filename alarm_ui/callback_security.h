#pragma once
// The program's process-wide COM security. The service calls the program
// back (IChangeIconEvents, IRedButtonEvents) from LocalSystem, or, run by
// hand as a plain local server, as the user who started it: those two, and
// nobody else, may call into the program, and only over authenticated,
// integrity-checked packets. The program's own calls let the service read
// who calls (identify), never act as the caller.

#include <windows.h>
#include <objbase.h>

#include <string>

// The shape of CoInitializeSecurity, so a test can see what is asked for.
using InitializeSecurityCall = HRESULT(WINAPI*)(PSECURITY_DESCRIPTOR, LONG,
                                                SOLE_AUTHENTICATION_SERVICE*, void*, DWORD, DWORD,
                                                void*, DWORD, void*);

// Privacy is the service's own level; anything below packet integrity would
// let a forged callback through.
inline constexpr DWORD kCallbackAuthenticationLevel = RPC_C_AUTHN_LEVEL_PKT_PRIVACY;
// The service tells callers apart at identify level; more would lend it our identity.
inline constexpr DWORD kCallbackImpersonationLevel = RPC_C_IMP_LEVEL_IDENTIFY;
inline constexpr DWORD kCallbackCapabilities =
    EOAC_SECURE_REFS | EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL;

// Owner and group the user; execute rights (local and any) for SYSTEM and
// the user.
std::wstring CallbackAccessSddl(const std::wstring& userSid);

// Sets the process's COM security for the user the process runs as; once
// per process, before any interface crosses an apartment.
HRESULT InitializeCallbackSecurity(InitializeSecurityCall call = &::CoInitializeSecurity);
