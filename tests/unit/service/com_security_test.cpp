// What the service asks of COM's process-wide security: the descriptor of
// who may call it, the authentication and impersonation levels, and the
// hardening flags.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "service/com_security.h"

namespace krvn_test {
namespace {

struct SecurityCall {
    int calls = 0;
    std::wstring sddl;
    LONG authServices = 0;
    DWORD authnLevel = 0;
    DWORD impLevel = 0;
    DWORD capabilities = 0;
    bool extraArguments = false;
    bool valid = false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
};

SecurityCall g_seen;

HRESULT WINAPI RecordSecurity(PSECURITY_DESCRIPTOR descriptor, LONG authServices,
                              SOLE_AUTHENTICATION_SERVICE* services, void* reserved1,
                              DWORD authnLevel, DWORD impLevel, void* authList, DWORD capabilities,
                              void* reserved3) {
    ++g_seen.calls;
    DWORD revision = 0;
    g_seen.valid = ::IsValidSecurityDescriptor(descriptor) &&
                   ::GetSecurityDescriptorControl(descriptor, &g_seen.control, &revision);
    wchar_t* text = nullptr;
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts,
                                                               &text, nullptr)) {
        g_seen.sddl = text;
        ::LocalFree(text);
    }
    g_seen.authServices = authServices;
    g_seen.authnLevel = authnLevel;
    g_seen.impLevel = impLevel;
    g_seen.capabilities = capabilities;
    g_seen.extraArguments = services || reserved1 || authList || reserved3;
    return S_OK;
}

TEST(ComSecurityTest, OnlyLocalSystemAdministratorsAndInteractiveUsersAndNoDelegation) {
    ASSERT_EQ(S_OK, InitializeComSecurity(&RecordSecurity));
    ASSERT_EQ(1, g_seen.calls);
    // CC, DC and SW: COM_RIGHTS_EXECUTE, _EXECUTE_LOCAL and _ACTIVATE_LOCAL;
    // nothing remote.
    EXPECT_EQ(L"O:BAG:BAD:(A;;CCDCSW;;;SY)(A;;CCDCSW;;;BA)(A;;CCDCSW;;;IU)", g_seen.sddl);
    EXPECT_EQ(-1, g_seen.authServices);
    EXPECT_EQ(static_cast<DWORD>(RPC_C_AUTHN_LEVEL_PKT_PRIVACY), g_seen.authnLevel);
    EXPECT_EQ(static_cast<DWORD>(RPC_C_IMP_LEVEL_IDENTIFY), g_seen.impLevel);
    EXPECT_EQ(static_cast<DWORD>(EOAC_SECURE_REFS | EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL),
              g_seen.capabilities);
    EXPECT_FALSE(g_seen.extraArguments);
    // Windows refuses a self-relative descriptor here; Wine takes any.
    ASSERT_TRUE(g_seen.valid);
    EXPECT_EQ(0, g_seen.control & SE_SELF_RELATIVE);
    EXPECT_NE(0, g_seen.control & SE_DACL_PRESENT);
}

} // namespace
} // namespace krvn_test
