// The service's small rules of access: who may change the configuration,
// and which port names it may open as LocalSystem.

#include <gtest/gtest.h>

#include "service/configuration_policy.h"
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

TEST(SerialPortNameTest, OnlySerialDevicesAndNoPathsOrPipes) {
    for (const wchar_t* name : {L"", L"COM7", L"com12", L"\\\\.\\COM12", L"\\\\.\\USBSER000"}) {
        EXPECT_TRUE(IsSerialPortName(name)) << name;
    }
    for (const wchar_t* name :
         {L"\\\\127.0.0.1\\x\\y", L"\\\\.\\pipe\\t", L"C:\\x", L"COM7\\x", L"COM", L"COM7x",
          L"LPT1", L"\\\\.\\", L"\\\\?\\COM7", L"\\\\.\\a/b", L"x"}) {
        EXPECT_FALSE(IsSerialPortName(name)) << name;
    }
}

} // namespace
} // namespace krvn_test
