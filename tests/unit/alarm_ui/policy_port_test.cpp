// Reading the port an organisation's policy sets, from a policy-like key of
// our own written as policy tools and other programs may leave it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "alarm_ui/policy_port.h"
#include "common/unique_handle.h"
#include "config/setting_names.h"

namespace {

constexpr wchar_t kKey[] = L"Software\\KrvnTest\\Policy";

class PolicyPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        key.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    }

    std::wstring ReadAfterSetting(DWORD type, const void* data, size_t bytes) {
        EXPECT_EQ(::RegSetValueExW(key.get(), KRVN::kComPortValue, 0, type,
                                   static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)),
                  ERROR_SUCCESS);
        return ReadPolicyPort(key.get());
    }

    KRVN::unique_hkey key;
};

TEST_F(PolicyPortTest, OnlyANonEmptyStringManagesThePortUpToItsFirstNul) {
    EXPECT_EQ(ReadPolicyPort(key.get()), L"") << "no value";
    EXPECT_EQ(ReadAfterSetting(REG_SZ, L"COM5", sizeof(L"COM5")), L"COM5");
    EXPECT_EQ(ReadAfterSetting(REG_SZ, L"COM12", 5 * sizeof(wchar_t)), L"COM12")
        << "data without its terminator";
    EXPECT_EQ(ReadAfterSetting(REG_SZ, L"COM5\0COM6", sizeof(L"COM5\0COM6")), L"COM5");
    EXPECT_EQ(ReadAfterSetting(REG_SZ, L"", sizeof(L"")), L"");
    EXPECT_EQ(ReadAfterSetting(REG_EXPAND_SZ, L"COM8", sizeof(L"COM8")), L"");
    EXPECT_EQ(ReadAfterSetting(REG_MULTI_SZ, L"COM9\0", sizeof(L"COM9\0")), L"");
    const DWORD number = 7;
    EXPECT_EQ(ReadAfterSetting(REG_DWORD, &number, sizeof(number)), L"");
}

// What the program hands RegOpenKeyExW.
struct OpenCall {
    HKEY root = nullptr;
    std::wstring path;
    DWORD options = ~0u;
    REGSAM access = 0;
};
OpenCall g_open;

LSTATUS WINAPI CapturingOpen(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY result) {
    g_open = {root, path ? path : L"", options, access};
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, result);
}

// Users may only read the policy key: asking more fails for them on Windows,
// which Wine, where everyone is an administrator, never shows.
TEST_F(PolicyPortTest, TheMachinesPolicyKeyIsOpenedForQueryingOnly) {
    ReadAfterSetting(REG_SZ, L"COM7", sizeof(L"COM7"));
    EXPECT_EQ(MachinePolicyPort(&CapturingOpen), L"COM7");
    EXPECT_EQ(g_open.root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(g_open.path, KRVN::kPolicyKeyPath);
    EXPECT_EQ(g_open.options, 0u);
    EXPECT_EQ(g_open.access, static_cast<REGSAM>(KEY_QUERY_VALUE));
}

} // namespace
