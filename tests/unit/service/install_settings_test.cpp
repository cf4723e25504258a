// The settings a package installation is given (-InstallSettings) and their
// rollback (-RestoreSettings), against the registry of the test prefix: each
// value is held to the service's rule, the key is made the service's, and a
// rollback puts back only what was written. (A refused value failing the
// installation is seen whole in e2e_installer.)

#include <windows.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "service/command_line.h"
#include "service/install_settings_switch.h"
#include "service/serial_port_name.h"
#include "tests/unit/registry_store/registry_test_support.h"

namespace krvn_test {
namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;
using Tokens = std::vector<std::wstring>;

class RecordingOutputs : public SwitchFailureOutputs {
public:
    bool IsInteractive() override { return false; }
    void ShowMessageBox(const std::wstring&, const std::wstring&) override {}
    void WriteError(const std::wstring&) override {}
    void Report(const Event& event) override { events.push_back(event); }

    std::vector<Event> events;
};

// The machine lists one port of its own beside the COMn names.
bool PortOfThisMachine(std::wstring_view name) {
    return IsSerialPortName(name, {L"USBSER000"});
}

Bytes Dword(DWORD number) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&number);
    return Bytes(bytes, bytes + sizeof number);
}

TEST(InstallSettingsTest, EachValueIsTakenByTheServicesRuleAndNoTokenIsASwitch) {
    InstallSettings settings;
    std::wstring refusal;
    ASSERT_TRUE(
        ParseInstallSettings({L"COMPORT=\\\\.\\USBSER000", L"ADMINONLY=0", L"CHECKDELAY=86400"},
                             PortOfThisMachine, settings, refusal));
    EXPECT_EQ(L"\\\\.\\USBSER000", settings.comPort.value_or(L""));
    EXPECT_EQ(0u, settings.adminOnly.value_or(9));
    EXPECT_EQ(86400u, settings.checkDelay.value_or(0));
    // Windows Installer passes a property that was not given as empty.
    ASSERT_TRUE(ParseInstallSettings({L"COMPORT=", L"ADMINONLY=", L"CHECKDELAY=1"},
                                     PortOfThisMachine, settings, refusal));
    EXPECT_FALSE(settings.comPort || settings.adminOnly);

    const Tokens refused[] = {{L"COMPORT=COM0"},
                              {L"COMPORT=\\\\.\\PhysicalDrive0"},
                              {L"ADMINONLY=2"},
                              {L"CHECKDELAY=0"},
                              {L"CHECKDELAY=86401"},
                              {L"CHECKDELAY=+30"},
                              {L"CHECKDELAY=4294967326"},
                              {L"PORT=COM5"},
                              {L"COMPORT=COM5", L"COMPORT=COM6"},
                              {L"COMPORT=COM5", L"-UnregServer"}};
    for (const Tokens& tokens : refused) {
        EXPECT_FALSE(ParseInstallSettings(tokens, PortOfThisMachine, settings, refusal))
            << tokens.back();
    }
    EXPECT_EQ(HostAction::InstallSettings,
              ParseHostAction({L"-installsettings", L"COMPORT=COM5", L"-UnregServer"}));
    EXPECT_EQ(HostAction::Service, ParseHostAction({L"-Service", L"-InstallSettings"}));
}

class InstallSettingsKeyTest : public RegistryTest {};

TEST_F(InstallSettingsKeyTest, WritesOnlyWhatWasGivenIntoAKeyOnlyTheServiceMayOpen) {
    RecordingOutputs outputs;
    ASSERT_EQ(S_OK, ApplyInstallSettings({L"COMPORT=", L"ADMINONLY=", L"CHECKDELAY=30"}, outputs,
                                         L"Tolvane", PortOfThisMachine));
    // Protected, SYSTEM and Administrators alone (flags may add "AI").
    EXPECT_THAT(DaclText(kMainKey), StartsWith(L"D:P"));
    EXPECT_THAT(DaclText(kMainKey), EndsWith(L"(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)"));
    const StoredValue delay = ReadStored(kMainKey, L"ConnectCheckDelay");
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), delay.type);
    EXPECT_EQ(Dword(30), delay.data);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadStored(kMainKey, L"COM").status);

    ASSERT_EQ(S_OK, ApplyInstallSettings({L"COMPORT=COM5", L"ADMINONLY=1", L"CHECKDELAY="}, outputs,
                                         L"Tolvane", PortOfThisMachine));
    const StoredValue port = ReadStored(kMainKey, L"COM");
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), port.type);
    EXPECT_EQ(Utf16(std::wstring(L"COM5") + L'\0'), port.data);
    EXPECT_EQ(Dword(1), ReadStored(kMainKey, L"AdminOnlyConfiguration").data);
    EXPECT_EQ(Dword(30), ReadStored(kMainKey, L"ConnectCheckDelay").data);
    ASSERT_EQ(2u, outputs.events.size());
    EXPECT_EQ(static_cast<DWORD>(MSG_INSTALL_SETTINGS_WRITTEN), outputs.events[1].id);
    EXPECT_EQ(Tokens{L"COM=COM5, AdminOnlyConfiguration=1"}, outputs.events[1].inserts);
}

TEST_F(InstallSettingsKeyTest, ARollbackPutsBackWhatTheKeyHeldForTheGivenSettingsOnly) {
    WriteValue(kMainKey, L"AdminOnlyConfiguration", REG_DWORD, Dword(0));
    WriteValue(kMainKey, L"ConnectCheckDelay", REG_DWORD, Dword(77));
    RecordingOutputs outputs;
    ASSERT_EQ(S_OK, ApplyInstallSettings({L"COMPORT=COM5", L"ADMINONLY=1", L"CHECKDELAY="}, outputs,
                                         L"Tolvane", PortOfThisMachine));

    // What AppSearch read before, raw; the delay was not given, so not even
    // a stale reading of it is written.
    ASSERT_EQ(S_OK,
              RestoreInstallSettings({L"COMPORT=COM5", L"ADMINONLY=1", L"CHECKDELAY=", L"COM=",
                                      L"AdminOnlyConfiguration=#0", L"ConnectCheckDelay=#5"},
                                     outputs, L"Tolvane"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadStored(kMainKey, L"COM").status);
    EXPECT_EQ(Dword(0), ReadStored(kMainKey, L"AdminOnlyConfiguration").data);
    EXPECT_EQ(Dword(77), ReadStored(kMainKey, L"ConnectCheckDelay").data);
    EXPECT_EQ(Tokens{L"COM removed, AdminOnlyConfiguration=0"}, outputs.events.back().inserts);

    // A text that began with '#' comes back with one; a binary puts nothing back.
    ASSERT_EQ(S_OK, RestoreInstallSettings({L"COMPORT=COM5", L"COM=##7"}, outputs, L"Tolvane"));
    EXPECT_EQ(Utf16(std::wstring(L"#7") + L'\0'), ReadStored(kMainKey, L"COM").data);
    EXPECT_NE(S_OK, RestoreInstallSettings({L"COMPORT=COM5", L"COM=#x0102"}, outputs, L"Tolvane"));
    EXPECT_EQ(Utf16(std::wstring(L"#7") + L'\0'), ReadStored(kMainKey, L"COM").data);
}

} // namespace
} // namespace krvn_test
