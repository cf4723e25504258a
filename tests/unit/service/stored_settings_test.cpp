// What the service makes of its stored settings: at start the settings key
// and every key below it become the service's, and a stored port name that
// is no serial port of this machine is reported and not watched; a list
// that cannot be saved stays in the service, and the failure is reported.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/alarm_key_security.h"
#include "service/alarm_manager.h"
#include "tests/unit/connections/test_environment.h"
#include "tests/unit/registry_store/registry_test_support.h"
#include "tests/unit/service/service_test_support.h"

namespace krvn_test {
namespace {

Bytes Sz(const std::wstring& text) {
    return Utf16(text + L'\0');
}

class StoredSettingsTest : public RegistryTest {
protected:
    RecordingReporter m_reporter{{MSG_STORED_PORT_REFUSED, MSG_LIST_NOT_SAVED}};
};

TEST_F(StoredSettingsTest, ALegacyKeyOpenToUsersIsProtectedAtStartAndItsPortNameRefused) {
    WriteValue(kLegacyPortKey, L"COM", REG_SZ, Sz(L"\\\\.\\PhysicalDrive0"));
    SetDacl(kLegacyPortKey, L"D:P(A;OICI;KA;;;BU)(A;OICI;KA;;;WD)");
    WriteValue(kMainKey, L"COM", REG_SZ, Sz(L"COM7"));

    AlarmManager manager;
    manager.Start(m_reporter);
    const std::wstring dacl = DaclText(kLegacyPortKey);
    EXPECT_EQ(std::wstring::npos, dacl.find(L";BU)")) << dacl;
    EXPECT_EQ(std::wstring::npos, dacl.find(L";WD)")) << dacl;
    const std::vector<Event> events = m_reporter.Events();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(static_cast<DWORD>(MSG_STORED_PORT_REFUSED), events[0].id);
    EXPECT_EQ((std::vector<std::wstring>{L"\\\\.\\PhysicalDrive0",
                                         L"HKLM\\" + std::wstring(kLegacyPortKey)}),
              events[0].inserts);
    // The main key's name is watched; the refused one is neither moved nor
    // opened.
    EXPECT_EQ(L"COM7", manager.GetComPort());
    EXPECT_EQ(Sz(L"\\\\.\\PhysicalDrive0"), ReadStored(kLegacyPortKey, L"COM").data);
    EXPECT_EQ(Sz(L"COM7"), ReadStored(kMainKey, L"COM").data);
}

TEST_F(StoredSettingsTest, ANameThatIsNoSerialPortIsNeitherWatchedNorStored) {
    const std::wstring forged = L"\\\\.\\C:\r\nforged";
    WriteValue(kMainKey, L"COM", REG_SZ, Sz(forged));
    AlarmManager manager;
    manager.Start(m_reporter);
    const std::vector<Event> events = m_reporter.Events();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(L"\\\\.\\C:<U+000D><U+000A>forged", events[0].inserts.at(0));
    EXPECT_EQ(L"", manager.GetComPort());

    EXPECT_EQ(E_INVALIDARG, manager.SetComPort(L"\\\\.\\PhysicalDrive0"));
    EXPECT_EQ(E_INVALIDARG, manager.SetComPort(L"COM01"));
    EXPECT_EQ(L"", manager.GetComPort());
    EXPECT_EQ(Sz(forged), ReadStored(kMainKey, L"COM").data);
    EXPECT_EQ(S_OK, manager.SetComPort(L"\\\\.\\COM12"));
    EXPECT_EQ(Sz(L"\\\\.\\COM12"), ReadStored(kMainKey, L"COM").data);
}

DWORD WINAPI RefuseDacl(LPWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) {
    return ERROR_ACCESS_DENIED;
}

TEST_F(StoredSettingsTest, NoPasswordGoesIntoAKeyThatCouldNotBeProtected) {
    const Bytes legacy = ImageBuilder().Int(1).Text(L"127.0.0.93").Blob(Utf16(L"old")).Image();
    WriteValue(kLegacyListKey, L"ServerConfig", REG_BINARY, legacy);
    const HRESULT refused = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    ASSERT_EQ(refused, KRVN::ProtectAlarmKey(&RefuseDacl));

    // The moved list is listed but not written; the earlier layout keeps it.
    AlarmManager manager;
    manager.ReportTo(m_reporter);
    ASSERT_EQ(S_OK, manager.LoadList());
    EXPECT_EQ(1u, manager.ServerCount());
    EXPECT_EQ(legacy, ReadStored(kLegacyListKey, L"ServerConfig").data);
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
              ReadStored(kMainKey, L"ServerConfig").status);

    manager.AddServer(MakeServerObject(L"127.0.0.94", L"new", 0).get());
    EXPECT_EQ(refused, manager.SaveList());
    ASSERT_TRUE(m_reporter.WaitForCalls(1));
    const Event failed = m_reporter.Events().at(0);
    EXPECT_EQ(static_cast<DWORD>(MSG_LIST_NOT_SAVED), failed.id);
    EXPECT_EQ(L"0x80070005", failed.inserts.at(0));
    EXPECT_EQ(2u, manager.ServerCount());
    EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
              ReadStored(kMainKey, L"ServerConfig").status);

    // Once the key is the service's, the list goes in.
    ASSERT_EQ(S_OK, KRVN::ProtectAlarmKey());
    EXPECT_EQ(S_OK, manager.SaveList());
    EXPECT_EQ(ERROR_SUCCESS, ReadStored(kMainKey, L"ServerConfig").status);
}

} // namespace
} // namespace krvn_test
