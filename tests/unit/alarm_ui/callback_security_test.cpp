// What the program asks of COM's process-wide security for the service's
// callbacks into it.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "alarm_ui/callback_security.h"
#include "common/unique_handle.h"

namespace {

struct SecurityCall {
    std::wstring sddl;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD authnLevel = 0;
    DWORD impLevel = 0;
    DWORD capabilities = 0;
    bool otherArguments = false;
} g_seen;

HRESULT WINAPI RecordSecurity(PSECURITY_DESCRIPTOR descriptor, LONG authServices,
                              SOLE_AUTHENTICATION_SERVICE* services, void* reserved1,
                              DWORD authnLevel, DWORD impLevel, void* authList, DWORD capabilities,
                              void* reserved3) {
    DWORD revision = 0;
    KRVN::unique_hlocal_string text;
    if (::GetSecurityDescriptorControl(descriptor, &g_seen.control, &revision) &&
        ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            text.put(), nullptr)) {
        g_seen.sddl = text.get();
    }
    g_seen.authnLevel = authnLevel;
    g_seen.impLevel = impLevel;
    g_seen.capabilities = capabilities;
    g_seen.otherArguments = authServices != -1 || services || reserved1 || authList || reserved3;
    return S_OK;
}

std::wstring OwnUserSid() {
    KRVN::unique_handle token;
    BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    KRVN::unique_hlocal_string text;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
        !::GetTokenInformation(token.get(), TokenUser, user, sizeof(user), &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, text.put())) {
        return L"?";
    }
    return text.get();
}

TEST(CallbackSecurityTest, OnlySystemAndTheProgramsUserAtPacketIntegrityOrBetterIdentifyOnly) {
    ASSERT_EQ(S_OK, InitializeCallbackSecurity(&RecordSecurity));
    // Owner and group set (Windows demands them); CC and DC are
    // COM_RIGHTS_EXECUTE and COM_RIGHTS_EXECUTE_LOCAL, for SYSTEM (the
    // service) and the user (the service run by hand) only.
    const std::wstring user = OwnUserSid();
    EXPECT_EQ(g_seen.sddl,
              L"O:" + user + L"G:" + user + L"D:(A;;CCDC;;;SY)(A;;CCDC;;;" + user + L")");
    // Windows refuses a self-relative descriptor; Wine takes any.
    EXPECT_EQ(0, g_seen.control & SE_SELF_RELATIVE);
    EXPECT_GE(g_seen.authnLevel, static_cast<DWORD>(RPC_C_AUTHN_LEVEL_PKT_INTEGRITY));
    // Enough for the service to tell who calls; not enough to act as us.
    EXPECT_EQ(g_seen.impLevel, static_cast<DWORD>(RPC_C_IMP_LEVEL_IDENTIFY));
    EXPECT_EQ(g_seen.capabilities,
              static_cast<DWORD>(EOAC_SECURE_REFS | EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL));
    EXPECT_FALSE(g_seen.otherArguments);
}

} // namespace
