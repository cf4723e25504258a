// The service's small rules of access: who may change the configuration,
// and which port names it may open as LocalSystem.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "config/setting_names.h"
#include "service/configuration_policy.h"
#include "config/serial_comm_ports.h"
#include "service/serial_port_name.h"

namespace krvn_test {
namespace {

TEST(ConfigurationPolicyTest, OnlyTheRestrictionKeepsOrdinaryCallersOut) {
    const CallerIdentity user;
    CallerIdentity own;
    own.inProcess = true;
    CallerIdentity system;
    system.system = true;
    CallerIdentity administrator;
    administrator.administrator = true;

    for (const CallerIdentity& caller : {user, own, system, administrator}) {
        EXPECT_TRUE(MayConfigure(caller, false));
    }
    EXPECT_FALSE(MayConfigure(user, true));
    EXPECT_TRUE(MayConfigure(own, true));
    EXPECT_TRUE(MayConfigure(system, true));
    EXPECT_TRUE(MayConfigure(administrator, true));
}

void WriteDword(const wchar_t* keyPath, DWORD value) {
    KRVN::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0,
                                               KEY_SET_VALUE, nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), KRVN::kAdminOnlyValue, 0, REG_DWORD,
                                              reinterpret_cast<BYTE*>(&value), sizeof value));
}

TEST(ConfigurationPolicyTest, ThePolicysRestrictionWinsOverTheStoredOneUnlessItIsBad) {
    const auto cleanUp = KRVN::scope_exit([] {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, KRVN::kSettingsKeyPath);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, KRVN::kPolicyKeyPath);
    });
    WriteDword(KRVN::kSettingsKeyPath, 1);
    EXPECT_TRUE(AdminOnlyInEffect());
    WriteDword(KRVN::kPolicyKeyPath, 0);
    EXPECT_FALSE(AdminOnlyInEffect());
    WriteDword(KRVN::kSettingsKeyPath, 0);
    WriteDword(KRVN::kPolicyKeyPath, 1);
    EXPECT_TRUE(AdminOnlyInEffect());
    // Neither off nor on: the stored setting applies.
    WriteDword(KRVN::kPolicyKeyPath, 7);
    EXPECT_FALSE(AdminOnlyInEffect());
    WriteDword(KRVN::kSettingsKeyPath, 1);
    EXPECT_TRUE(AdminOnlyInEffect());
}

TEST(SerialPortNameTest, OnlySerialPortsOfThisMachine) {
    const std::vector<std::wstring> machine = {L"USBSER000", L"COM3"};
    for (const wchar_t* name : {L"", L"COM7", L"com12", L"COM10", L"\\\\.\\COM12", L"\\\\.\\cOm1",
                                L"\\\\.\\USBSER000", L"\\\\.\\usbser000"}) {
        EXPECT_TRUE(IsSerialPortName(name, machine)) << name;
    }
    // Devices that are no serial port, numbers that name none, paths, pipes.
    for (const wchar_t* name : {L"\\\\.\\PhysicalDrive0", L"\\\\.\\C:", L"\\\\.\\Tape0", L"COM0",
                                L"COM01", L"\\\\.\\COM0", L"\\\\.\\COM012", L"\\\\.\\USBSER0001"}) {
        EXPECT_FALSE(IsSerialPortName(name, machine)) << name;
    }
    for (const wchar_t* name :
         {L"USBSER000", L"\\\\127.0.0.1\\x\\y", L"\\\\.\\pipe\\t", L"C:\\x", L"COM7\\x", L"COM",
          L"COM7x", L"LPT1", L"\\\\.\\", L"\\\\?\\COM7"}) {
        EXPECT_FALSE(IsSerialPortName(name, machine)) << name;
    }
    EXPECT_FALSE(IsSerialPortName(L"\\\\.\\USBSER000", {}));
}

// The machine's own list, as drivers leave it: the service reads it for
// every device name it has to decide.
TEST(SerialPortNameTest, TheMachineListsItsPortsUnderSerialComm) {
    KRVN::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr,
                                key.put(), nullptr));
    const auto set = [&](const wchar_t* name, DWORD type, const wchar_t* data, size_t chars) {
        EXPECT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(data),
                                   static_cast<DWORD>(chars * sizeof(wchar_t))));
    };
    // The long name sorts first: a reader that trusts the terminator would
    // take its tail for the unterminated short one's.
    set(L"\\Device\\KrvnA", REG_SZ, L"KRVNLONGPORT", 13);
    set(L"\\Device\\KrvnB", REG_SZ, L"KRVN7", 5);
    set(L"\\Device\\KrvnC", REG_EXPAND_SZ, L"KRVN8", 6);
    const auto names = ReadSerialCommPorts(key.get());
    EXPECT_EQ(1, std::count(names.begin(), names.end(), L"KRVN7"));
    EXPECT_TRUE(IsSerialPortName(L"\\\\.\\krvn7"));
    EXPECT_TRUE(IsSerialPortName(L"\\\\.\\KRVNLONGPORT"));
    EXPECT_FALSE(IsSerialPortName(L"\\\\.\\KRVN7ONGPORT"));
    EXPECT_FALSE(IsSerialPortName(L"\\\\.\\KRVN8"));
    for (const wchar_t* name : {L"\\Device\\KrvnA", L"\\Device\\KrvnB", L"\\Device\\KrvnC"}) {
        ::RegDeleteValueW(key.get(), name);
    }
    EXPECT_FALSE(IsSerialPortName(L"\\\\.\\KRVN7"));
}

} // namespace
} // namespace krvn_test
