#pragma once
// The process-wide COM security of the service: who may call it (the same
// descriptor as the AppID's LaunchPermission and AccessPermission), how
// calls are authenticated, and how little the service lends its identity to
// the clients it calls back.

#include <windows.h>
#include <objbase.h>

// The shape of CoInitializeSecurity, so a test can see what is asked for.
using InitializeSecurityCall = HRESULT(WINAPI*)(PSECURITY_DESCRIPTOR, LONG,
                                                SOLE_AUTHENTICATION_SERVICE*, void*, DWORD, DWORD,
                                                void*, DWORD, void*);

// Calls to the service are encrypted (packet privacy); clients the service
// calls back may identify it but never act as it; no secure-reference
// shortcuts, no custom marshalling from callers, no activate-as-activator.
inline constexpr DWORD kAuthenticationLevel = RPC_C_AUTHN_LEVEL_PKT_PRIVACY;
inline constexpr DWORD kImpersonationLevel = RPC_C_IMP_LEVEL_IDENTIFY;
inline constexpr DWORD kCapabilities = EOAC_SECURE_REFS | EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL;

// Sets the process's COM security from the contract's descriptor; once per
// process, before any class object is registered.
HRESULT InitializeComSecurity(InitializeSecurityCall call = &::CoInitializeSecurity);
