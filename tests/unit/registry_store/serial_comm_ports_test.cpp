// Reading the port names of a SERIALCOMM-like key of our own, written as
// drivers and other programs may leave it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/serial_comm_ports.h"
#include "common/unique_handle.h"

namespace {

class SerialCommPortsTest : public ::testing::Test {
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

    void Set(const wchar_t* name, DWORD type, const void* data, size_t bytes) {
        ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data),
                                   static_cast<DWORD>(bytes)),
                  ERROR_SUCCESS)
            << testing::PrintToString(std::wstring(name));
    }

    static constexpr wchar_t kKey[] = L"Software\\KrvnTest\\SerialComm";
    KRVN::unique_hkey key;
};

TEST_F(SerialCommPortsTest, TakesTheDataOfStringValuesWithOrWithoutTheirTerminator) {
    // Names sort the long port first, so a reader that trusts the terminator
    // finds its tail behind the short one.
    Set(L"\\Device\\A_Long", REG_SZ, L"COM123456", sizeof(L"COM123456"));
    Set(L"\\Device\\B_NoTerminator", REG_SZ, L"COM12", 5 * sizeof(wchar_t));
    Set(L"\\Device\\C_TwoStrings", REG_SZ, L"COM5\0COM6", sizeof(L"COM5\0COM6"));
    Set(L"\\Device\\D_Empty", REG_SZ, L"", sizeof(L""));
    const DWORD number = 7;
    Set(L"\\Device\\E_Number", REG_DWORD, &number, sizeof(number));
    Set(L"\\Device\\F_Expandable", REG_EXPAND_SZ, L"COM8", sizeof(L"COM8"));
    Set(L"\\Device\\G_Multi", REG_MULTI_SZ, L"COM9\0\0", sizeof(L"COM9\0\0"));

    std::vector<std::wstring> ports = ReadSerialCommPorts(key.get());
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(ports, (std::vector<std::wstring>{L"COM12", L"COM123456", L"COM5"}));
}

} // namespace
