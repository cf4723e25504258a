// What the program asks of COM's process-wide security for the service's
// callbacks into it.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alarm_ui/callback_security.h"
#include "common/unique_handle.h"

namespace {

struct SecurityCall {
    int calls = 0;
    std::wstring sddl;
    bool valid = false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    bool ownerSet = false;
    bool groupSet = false;
    LONG authServices = 0;
    DWORD authnLevel = 0;
    DWORD impLevel = 0;
    DWORD capabilities = 0;
    bool extraArguments = false;
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
    PSID sid = nullptr;
    BOOL defaulted = FALSE;
    g_seen.ownerSet = ::GetSecurityDescriptorOwner(descriptor, &sid, &defaulted) && sid;
    sid = nullptr;
    g_seen.groupSet = ::GetSecurityDescriptorGroup(descriptor, &sid, &defaulted) && sid;
    KRVN::unique_hlocal_string text;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            text.put(), nullptr)) {
        g_seen.sddl = text.get();
    }
    g_seen.authServices = authServices;
    g_seen.authnLevel = authnLevel;
    g_seen.impLevel = impLevel;
    g_seen.capabilities = capabilities;
    g_seen.extraArguments = services || reserved1 || authList || reserved3;
    return S_OK;
}

std::wstring OwnUserSid() {
    KRVN::unique_handle token;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put());
    std::vector<BYTE> user(256);
    DWORD size = 0;
    KRVN::unique_hlocal_string text;
    if (!::GetTokenInformation(token.get(), TokenUser, user.data(), static_cast<DWORD>(user.size()),
                               &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid,
                                  text.put())) {
        return L"?";
    }
    return text.get();
}

TEST(CallbackSecurityTest, OnlySystemAndTheProgramsUserAtPacketIntegrityOrBetterIdentifyOnly) {
    ASSERT_EQ(S_OK, InitializeCallbackSecurity(&RecordSecurity));
    ASSERT_EQ(1, g_seen.calls);
    // CC and DC: COM_RIGHTS_EXECUTE and COM_RIGHTS_EXECUTE_LOCAL; nobody but
    // SYSTEM (the service) and the user (the service run by hand).
    const std::wstring user = OwnUserSid();
    EXPECT_EQ(L"O:" + user + L"G:" + user + L"D:(A;;CCDC;;;SY)(A;;CCDC;;;" + user + L")",
              g_seen.sddl);
    // Windows refuses a self-relative descriptor, or one without owner and
    // group; Wine takes any.
    ASSERT_TRUE(g_seen.valid);
    EXPECT_EQ(0, g_seen.control & SE_SELF_RELATIVE);
    EXPECT_NE(0, g_seen.control & SE_DACL_PRESENT);
    EXPECT_TRUE(g_seen.ownerSet && g_seen.groupSet);
    EXPECT_GE(g_seen.authnLevel, static_cast<DWORD>(RPC_C_AUTHN_LEVEL_PKT_INTEGRITY));
    // Enough for the service to tell who calls; not enough to act as us.
    EXPECT_EQ(static_cast<DWORD>(RPC_C_IMP_LEVEL_IDENTIFY), g_seen.impLevel);
    EXPECT_EQ(-1, g_seen.authServices);
    EXPECT_EQ(static_cast<DWORD>(EOAC_SECURE_REFS | EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL),
              g_seen.capabilities);
    EXPECT_FALSE(g_seen.extraArguments);
}

} // namespace
