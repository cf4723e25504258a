// The shipped Alarm.exe against the running Tolvane service: what its
// settings dialog lists, how its tray icon follows a lost disk server, its
// single-instance rule and exit codes, adding and deleting servers, the
// red-button test with the virtual button (on a port above COM9 that the
// machine lists) and the port it assigns, a port an organisation's policy
// sets, the tray menu's alarm and settings commands, and closing at the
// service's request.

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "alarm_ui/resource.h"
#include "common/unique_handle.h"
#include "config/setting_names.h"
#include "contract/desktop_program.h"
#include "tests/e2e/alarm_ui/alarm_process.h"
#include "tests/e2e/alarm_ui/remote_controls.h"
#include "tests/e2e/alarm_ui/screen_icon.h"
#include "tests/e2e/service/button_service_test.h"
#include "tests/e2e/service/disk_server.h"
#include "tests/e2e/service/service_client.h"
#include "tests/support/substitute_server_process.h"
#include "tests/unit/alarm_ui/ui_driver.h"

namespace krvn_e2e {
namespace {

constexpr wchar_t kCaption[] = L"Quendor Alarm";
constexpr wchar_t kPropertiesCaption[] = L"Свойства сервера";
constexpr wchar_t kButtonTestCaption[] = L"Проверка отклика от \"красной кнопки\"";
constexpr wchar_t kFromService[] = L"Отклик получен(от сервиса) ";
constexpr DWORD kCheckDelaySeconds = 1;
constexpr DWORD kWaitMs = 15000;
// The taskbar of the virtual desktop, where the notification area is.
constexpr int kTaskbarBand = 48;

struct Row {
    std::wstring address;
    std::wstring port;
    std::wstring state;
};

std::vector<Row> Rows(HWND settings) {
    const HWND list = ::GetDlgItem(settings, IDC_MAIN_SERVER_LIST);
    std::vector<Row> rows;
    for (int i = 0; i < RemoteListCount(list); ++i) {
        rows.push_back(
            {RemoteListText(list, i, 0), RemoteListText(list, i, 1), RemoteListText(list, i, 2)});
    }
    return rows;
}

std::wstring RowsText(HWND settings) {
    std::wstring text;
    for (const Row& row : Rows(settings)) {
        text += row.address + L" | " + row.port + L" | " + row.state + L"\n";
    }
    return text;
}

bool BalloonShown(const std::wstring& text) {
    const auto balloons = VisibleBalloons();
    return std::find(balloons.begin(), balloons.end(), text) != balloons.end();
}

bool IconShown(int iconId) {
    return ui::WaitFor([&] { return IconOnScreen(KRVN_ALARM_PATH, iconId, kTaskbarBand); },
                       kWaitMs);
}

// The tray menu's commands, counted from the top without the separators.
enum MenuEntry { kSendAlarm = 1, kSettings = 2, kExit = 3 };

// Chooses an entry of the test dialog's port list as a user does: the
// selection moves, then the dialog hears of the change.
::testing::AssertionResult ChoosePort(HWND test, int index, const wchar_t* port) {
    const HWND ports = ::GetDlgItem(test, IDC_CHECK_PORTS);
    ::SendMessageW(ports, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    const std::wstring chosen = ui::Text(test, IDC_CHECK_PORTS);
    if (chosen != port) {
        return ::testing::AssertionFailure()
               << "entry " << index << " is " << testing::PrintToString(chosen);
    }
    ::PostMessageW(test, WM_COMMAND, MAKEWPARAM(IDC_CHECK_PORTS, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(ports));
    return ::testing::AssertionSuccess();
}

// The entries of the test dialog's port list, in the order it shows them.
std::vector<std::wstring> PortEntries(HWND test) {
    const HWND ports = ::GetDlgItem(test, IDC_CHECK_PORTS);
    std::vector<std::wstring> entries;
    const auto count = ::SendMessageW(ports, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && i < 256; ++i) {
        wchar_t text[64] = {};
        ::SendMessageW(ports, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        entries.push_back(text);
    }
    return entries;
}

// A serial port that the machine lists under HARDWARE\DEVICEMAP\SERIALCOMM
// while it lives, as a driver publishes its port.
class ListedSerialPort {
public:
    explicit ListedSerialPort(const std::wstring& port) {
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          m_key.put(), nullptr);
        m_listed = m_key &&
                   ::RegSetValueExW(
                       m_key.get(), kDevice, 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                       static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
    ~ListedSerialPort() {
        if (m_listed) {
            ::RegDeleteValueW(m_key.get(), kDevice);
        }
    }
    ListedSerialPort(const ListedSerialPort&) = delete;
    ListedSerialPort& operator=(const ListedSerialPort&) = delete;

    bool Listed() const noexcept { return m_listed; }

private:
    static constexpr wchar_t kSerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
    static constexpr wchar_t kDevice[] = L"\\Device\\KrvnVirtualButton";
    KRVN::unique_hkey m_key;
    bool m_listed = false;
};

// The unmounts and remote alarms in a substitute server's log.
std::vector<LogEvent> AlarmEvents(const SubstituteServerProcess& disks) {
    std::vector<LogEvent> alarms;
    for (const LogEvent& event : disks.Events()) {
        if (event.event == "unmount" || event.event == "RemoteAlarm") {
            alarms.push_back(event);
        }
    }
    return alarms;
}

void Pause(DWORD ms) {
    ui::WaitFor([] { return false; }, ms);
}

class AlarmUiTest : public ButtonServiceTest {
protected:
    void TearDown() override {
        m_alarm.End();
        ButtonServiceTest::TearDown();
    }

    // Starts Alarm.exe and waits for its settings dialog.
    HWND StartAlarm() {
        if (!m_alarm.Start()) {
            ADD_FAILURE() << "CreateProcess: " << ::GetLastError();
            return nullptr;
        }
        return m_alarm.WaitForDialog(kCaption, IDC_MAIN_SERVER_LIST, kWaitMs);
    }

    // Closes the settings dialog, then chooses "&Выйти" in the tray menu.
    void CloseAndExit(HWND settings, DWORD* exitCode) {
        ui::Click(settings, IDOK);
        ASSERT_TRUE(ui::WaitUntilGone(settings));
        ExitFromTheMenu(exitCode);
    }

    void ExitFromTheMenu(DWORD* exitCode) {
        ASSERT_TRUE(ChooseFromTheMenu(kExit));
        ASSERT_TRUE(m_alarm.WaitForExit(kWaitMs, exitCode));
    }

    // Right-clicks the tray icon and, once the menu shows, moves down to the
    // entry and takes it.
    bool ChooseFromTheMenu(MenuEntry entry) {
        const HWND hidden = m_alarm.WaitForHiddenWindow(kWaitMs);
        if (!hidden) {
            return false;
        }
        ::PostMessageW(hidden, WM_USER, 0, WM_RBUTTONUP);
        if (!ui::WaitFor([&] { return MenuShown(); }, kWaitMs)) {
            return false;
        }
        for (int i = 0; i < entry; ++i) {
            ::PostMessageW(hidden, WM_KEYDOWN, VK_DOWN, 0);
        }
        ::PostMessageW(hidden, WM_KEYDOWN, VK_RETURN, 0);
        return ui::WaitFor([&] { return !MenuShown(); }, kWaitMs);
    }

    bool MenuShown() const {
        for (HWND w = ::FindWindowExW(nullptr, nullptr, L"#32768", nullptr); w;
             w = ::FindWindowExW(nullptr, w, L"#32768", nullptr)) {
            DWORD owner = 0;
            ::GetWindowThreadProcessId(w, &owner);
            if (owner == m_alarm.ProcessId() && ::IsWindowVisible(w)) {
                return true;
            }
        }
        return false;
    }

    // Opens the red-button test from the settings dialog.
    HWND OpenButtonTest(HWND settings) {
        ui::Click(settings, IDC_MAIN_CHANGE_PORT);
        return m_alarm.WaitForDialog(kButtonTestCaption, IDC_CHECK_RESPONSES, kWaitMs);
    }

    static void Screenshot(const wchar_t* name) {
        Pause(300); // lets the windows paint
        ui::SaveScreenshot(::GetDesktopWindow(), name);
    }

    AlarmProcess m_alarm;
};

TEST_F(AlarmUiTest, ListsTheServicesServersWithTheirStatesAndEndsFromTheMenu) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.2")));
    SetConnectCheckDelay(kCheckDelaySeconds);
    ASSERT_TRUE(Install());
    // An authorised server (port 0) that nobody serves, listed first by the
    // service, shown second by the sorted list.
    ASSERT_EQ(S_OK, m_client.Add({L"127.0.0.9", kPassword, 0}));
    ASSERT_EQ(S_OK, m_client.Add(SocketServer(L"127.0.0.2", disk)));
    ASSERT_TRUE(m_client.WaitForState(SomeConnected, kWaitMs));

    const HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    std::vector<Row> rows;
    ASSERT_TRUE(ui::WaitFor([&] {
        rows = Rows(settings);
        return rows.size() == 2 && !rows[1].state.empty();
    })) << RowsText(settings);
    EXPECT_EQ(rows[0].address, L"127.0.0.2");
    EXPECT_EQ(rows[0].port, std::to_wstring(disk.Port()));
    EXPECT_EQ(rows[0].state, L"OK");
    EXPECT_EQ(rows[1].address, L"127.0.0.9");
    EXPECT_EQ(rows[1].port, L"");
    EXPECT_NE(rows[1].state, L"OK");
    EXPECT_EQ(ui::Text(settings, IDC_MAIN_COM_PORT), m_client.ComPort());
    EXPECT_TRUE(IconShown(IDI_SOME_CONNECTED)) << "one of two servers reachable";
    Screenshot(L"e2e_settings_with_servers");

    DWORD exitCode = 42;
    CloseAndExit(settings, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(IconOnScreen(KRVN_ALARM_PATH, IDI_SOME_CONNECTED, kTaskbarBand));
    EXPECT_EQ(::FindWindowW(nullptr, L"ShellIconHiddenWindow"), nullptr);
}

TEST_F(AlarmUiTest, ALostServerTurnsTheIconAndShowsItsAddressInABalloon) {
    SubstituteServerProcess first;
    SubstituteServerProcess second;
    ASSERT_TRUE(first.Start(Listen(L"127.0.0.2")));
    ASSERT_TRUE(second.Start(Listen(L"127.0.0.3")));
    SetConnectCheckDelay(kCheckDelaySeconds);
    ASSERT_TRUE(Install());
    ASSERT_EQ(S_OK, m_client.Add(SocketServer(L"127.0.0.2", first)));
    ASSERT_EQ(S_OK, m_client.Add(SocketServer(L"127.0.0.3", second)));
    ASSERT_TRUE(m_client.WaitForState(AllConnected, kWaitMs));

    const HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(IconShown(IDI_ALL_CONNECTED));

    ASSERT_TRUE(first.Stop());
    EXPECT_TRUE(ui::WaitFor([] { return BalloonShown(L"Потеряна связь с сервером:\n127.0.0.2\n"); },
                            kWaitMs))
        << "balloons: " << testing::PrintToString(VisibleBalloons());
    EXPECT_TRUE(IconShown(IDI_SOME_CONNECTED));
    EXPECT_FALSE(IconOnScreen(KRVN_ALARM_PATH, IDI_ALL_CONNECTED, kTaskbarBand));
    // The open settings dialog reloaded its list on the same report.
    EXPECT_TRUE(ui::WaitFor([&] {
        const auto rows = Rows(settings);
        return rows.size() == 2 && rows[0].state != L"OK" && rows[1].state == L"OK";
    })) << testing::PrintToString(RowsText(settings));
    Screenshot(L"e2e_tray_balloon_lost_server");

    DWORD exitCode = 42;
    CloseAndExit(settings, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(AlarmUiTest, ASecondStartBringsTheSettingsForwardAndEndsWithOne) {
    ASSERT_TRUE(Install());
    const HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    ::ShowWindowAsync(settings, SW_MINIMIZE);
    ASSERT_TRUE(ui::WaitFor([&] { return ::IsIconic(settings) != FALSE; }));

    AlarmProcess second;
    ASSERT_TRUE(second.Start());
    DWORD secondExit = 42;
    ASSERT_TRUE(second.WaitForExit(kWaitMs, &secondExit));
    EXPECT_EQ(secondExit, 1u);
    EXPECT_TRUE(ui::WaitFor([&] { return !::IsIconic(settings) && ::IsWindowVisible(settings); }));

    // With only the tray icon left, a second start shows nothing.
    ui::Click(settings, IDOK);
    ASSERT_TRUE(ui::WaitUntilGone(settings));
    AlarmProcess third;
    ASSERT_TRUE(third.Start());
    ASSERT_TRUE(third.WaitForExit(kWaitMs, &secondExit));
    EXPECT_EQ(secondExit, 1u);
    EXPECT_EQ(m_alarm.WaitForDialog(kCaption, 0, ui::kShortWaitMs), nullptr);

    DWORD exitCode = 42;
    ExitFromTheMenu(&exitCode);
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(AlarmUiTest, WithTheClassesUnregisteredItNamesQNAlarmAndEndsWithMinusOne) {
    ASSERT_TRUE(m_alarm.Start());
    const HWND box = m_alarm.WaitForDialog(kCaption, -IDC_MAIN_SERVER_LIST, 30000);
    ASSERT_NE(box, nullptr);
    std::wstring text;
    ui::WaitFor([&] { return !(text = ui::MessageBoxText(box)).empty(); });
    EXPECT_EQ(text.rfind(L"Не могу создать COM объект 'QNAlarm'.\nОшибка : ", 0), 0u)
        << testing::PrintToString(text);
    EXPECT_EQ(m_alarm.WaitForHiddenWindow(0), nullptr);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    DWORD exitCode = 42;
    ASSERT_TRUE(m_alarm.WaitForExit(kWaitMs, &exitCode));
    EXPECT_EQ(exitCode, 0xFFFFFFFFu);
}

TEST_F(AlarmUiTest, AddingAReachableServerClosesThePropertiesAndListsItAsOk) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.2")));
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    ASSERT_TRUE(Install());
    const HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(Rows(settings).empty());
    EXPECT_TRUE(IconShown(IDI_NO_SERVERS)) << "an empty list";

    ui::Click(settings, IDC_MAIN_ADD);
    const HWND properties = m_alarm.WaitForDialog(kPropertiesCaption, IDC_INFO_ADDRESS, kWaitMs);
    ASSERT_NE(properties, nullptr);
    ::PostMessageW(::GetDlgItem(properties, IDC_INFO_ANONYMOUS), BM_CLICK, 0, 0);
    ASSERT_TRUE(ui::WaitFor(
        [&] { return ::IsWindowEnabled(::GetDlgItem(properties, IDC_INFO_PORT)) != FALSE; }));
    ui::SetText(properties, IDC_INFO_ADDRESS, L"127.0.0.2");
    ui::SetText(properties, IDC_INFO_PASSWORD, kPassword);
    ui::SetText(properties, IDC_INFO_CONFIRM, kPassword);
    ui::SetText(properties, IDC_INFO_PORT, std::to_wstring(disk.Port()));
    Screenshot(L"e2e_properties_dialog");

    const ULONGLONG saved = ::GetTickCount64();
    ui::Click(properties, IDOK);
    ASSERT_TRUE(ui::WaitUntilGone(properties));
    EXPECT_LT(::GetTickCount64() - saved, 3000u) << "a reachable server needs no question";
    EXPECT_EQ(m_alarm.WaitForDialog(kCaption, -IDC_MAIN_SERVER_LIST, 0), nullptr);
    std::vector<Row> rows;
    EXPECT_TRUE(ui::WaitFor([&] {
        rows = Rows(settings);
        return rows.size() == 1 && rows[0].state == L"OK";
    })) << testing::PrintToString(RowsText(settings));
    if (rows.size() == 1) {
        EXPECT_EQ(rows[0].address, L"127.0.0.2");
        EXPECT_EQ(rows[0].port, std::to_wstring(disk.Port()));
    }
    ASSERT_EQ(m_client.Count(), 1);
    EXPECT_EQ(m_client.Item(0).address, L"127.0.0.2");
    EXPECT_EQ(m_client.Item(0).port, disk.Port());

    DWORD exitCode = 42;
    CloseAndExit(settings, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(AlarmUiTest, ButtonTestListsTheServicesPressesAndKeepsThemFromTheServers) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.2")));
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    SetComPortSetting(VirtualButton::Port());
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.2", disk)));
    ASSERT_EQ(S_OK, m_client.Add(SocketServer(L"127.0.0.2", disk)));
    ASSERT_TRUE(VirtualButton::WaitForDtr(kWaitMs)) << "the service watches the button's port";

    const HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(ui::Text(settings, IDC_MAIN_COM_PORT), VirtualButton::Port());
    ui::Click(settings, IDC_MAIN_CHANGE_PORT);
    const HWND test = m_alarm.WaitForDialog(kButtonTestCaption, IDC_CHECK_RESPONSES, kWaitMs);
    ASSERT_NE(test, nullptr);
    EXPECT_EQ(ui::Text(test, IDC_CHECK_SERVICE_PORT), VirtualButton::Port());
    const HWND responses = ::GetDlgItem(test, IDC_CHECK_RESPONSES);
    const auto fromService = [&] {
        const auto lines = ui::ListBoxLines(responses);
        return std::count(lines.begin(), lines.end(), std::wstring(kFromService));
    };
    Pause(500); // the dialog subscribes before it shows; its worker starts with it

    ASSERT_TRUE(VirtualButton::Press());
    EXPECT_TRUE(ui::WaitFor([&] { return fromService() >= 1; }))
        << testing::PrintToString(ui::ListBoxLines(responses));
    Pause(300);
    ASSERT_TRUE(VirtualButton::Release());
    EXPECT_TRUE(ui::WaitFor([&] { return fromService() >= 2; }))
        << testing::PrintToString(ui::ListBoxLines(responses));
    Screenshot(L"e2e_button_test_dialog");
    Pause(1000);
    EXPECT_TRUE(disk.Events("unmount").empty()) << disk.LogText();

    // "&Отменить" ends the test mode: the next press alarms the server again.
    ui::Click(test, IDCANCEL);
    ASSERT_TRUE(ui::WaitUntilGone(test));
    EXPECT_EQ(ui::Text(settings, IDC_MAIN_COM_PORT), VirtualButton::Port());
    EXPECT_EQ(m_client.ComPort(), VirtualButton::Port());
    Pause(500);
    ASSERT_TRUE(VirtualButton::Press());
    EXPECT_TRUE(disk.WaitForEvents("unmount", 1, kWaitMs)) << disk.LogText();
    ASSERT_TRUE(VirtualButton::Release());

    DWORD exitCode = 42;
    CloseAndExit(settings, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(AlarmUiTest, ButtonTestAppliesTheChosenPortAndCancelKeepsTheServicesOne) {
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    SetComPortSetting(VirtualButton::Port());
    ASSERT_TRUE(Install());
    ASSERT_TRUE(VirtualButton::WaitForDtr(kWaitMs)) << "the service watches the button's port";
    const HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);

    HWND test = OpenButtonTest(settings);
    ASSERT_NE(test, nullptr);
    ASSERT_TRUE(ChoosePort(test, 1, L"COM2"));
    Pause(300);
    ui::Click(test, IDCANCEL);
    ASSERT_TRUE(ui::WaitUntilGone(test));
    Pause(1500); // well past the pause before a port is written
    EXPECT_EQ(m_client.ComPort(), VirtualButton::Port());
    EXPECT_EQ(ui::Text(settings, IDC_MAIN_COM_PORT), VirtualButton::Port());

    test = OpenButtonTest(settings);
    ASSERT_NE(test, nullptr);
    EXPECT_EQ(ui::Text(test, IDC_CHECK_SERVICE_PORT), VirtualButton::Port());
    ASSERT_TRUE(ChoosePort(test, 1, L"COM2"));
    // The prefix has no COM2: the dialog's check cannot open it, so applying
    // it takes a yes.
    const HWND responses = ::GetDlgItem(test, IDC_CHECK_RESPONSES);
    ASSERT_TRUE(ui::WaitFor([&] {
        return ui::ListBoxLines(responses) ==
               std::vector<std::wstring>{L"Не могу найти порт 'COM2'"};
    })) << testing::PrintToString(ui::ListBoxLines(responses));
    const ULONGLONG applied = ::GetTickCount64();
    ui::Click(test, IDOK);
    const HWND box = m_alarm.WaitForDialog(kCaption, -IDC_MAIN_SERVER_LIST, kWaitMs);
    ASSERT_NE(box, nullptr);
    std::wstring question;
    ui::WaitFor([&] { return !(question = ui::MessageBoxText(box)).empty(); });
    EXPECT_EQ(
        question,
        L"Порт COM2 не удалось открыть при проверке. Всё равно назначить его красной кнопке?");
    ::PostMessageW(box, WM_COMMAND, IDYES, 0);
    ASSERT_TRUE(ui::WaitUntilGone(test));
    EXPECT_TRUE(ui::WaitFor([&] { return m_client.ComPort() == L"COM2"; }, kWaitMs))
        << testing::PrintToString(m_client.ComPort());
    // The dialog's worker gives the port up before the service takes it;
    // 50 ms spare for the tick's granularity.
    EXPECT_GE(::GetTickCount64() - applied, 450u);
    EXPECT_TRUE(ui::WaitFor([&] { return ui::Text(settings, IDC_MAIN_COM_PORT) == L"COM2"; }))
        << testing::PrintToString(ui::Text(settings, IDC_MAIN_COM_PORT));

    DWORD exitCode = 42;
    CloseAndExit(settings, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(AlarmUiTest, ButtonTestFindsAPortAboveComNineThatTheMachineListsAndSeesItsPresses) {
    const ListedSerialPort listed(VirtualButton::Port());
    ASSERT_TRUE(listed.Listed());
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    // The service watches another port (one that does not exist).
    SetComPortSetting(L"COM3");
    ASSERT_TRUE(Install());
    const HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    const HWND test = OpenButtonTest(settings);
    ASSERT_NE(test, nullptr);

    const std::vector<std::wstring> entries = PortEntries(test);
    const auto button = std::find(entries.begin(), entries.end(), VirtualButton::Port());
    ASSERT_NE(button, entries.end()) << testing::PrintToString(entries);
    const auto com4 = std::find(entries.begin(), entries.end(), L"COM4");
    EXPECT_LT(com4, button) << "numeric order: " << testing::PrintToString(entries);

    // Whatever raised DTR before, the dialog's own worker must raise it now:
    // the button shows no press without it.
    ASSERT_TRUE(VirtualButton::ForgetDtr());
    ASSERT_TRUE(ChoosePort(test, static_cast<int>(button - entries.begin()),
                           VirtualButton::Port().c_str()));
    ASSERT_TRUE(ui::WaitFor([] { return VirtualButton::DtrRaised(); }, kWaitMs))
        << "the dialog raised no DTR on " << testing::PrintToString(VirtualButton::Port());
    Pause(VirtualButton::kSettleMs); // its wait on the port begins

    const HWND responses = ::GetDlgItem(test, IDC_CHECK_RESPONSES);
    const auto pressed = [&] {
        const auto lines = ui::ListBoxLines(responses);
        return std::count(lines.begin(), lines.end(), std::wstring(L"Отклик получен"));
    };
    ASSERT_TRUE(VirtualButton::Press());
    EXPECT_TRUE(ui::WaitFor([&] { return pressed() >= 1; }, kWaitMs))
        << testing::PrintToString(ui::ListBoxLines(responses));
    Pause(kLineSettleMs);
    ASSERT_TRUE(VirtualButton::Release());
    EXPECT_TRUE(ui::WaitFor([&] { return pressed() >= 2; }, kWaitMs))
        << testing::PrintToString(ui::ListBoxLines(responses));
    Screenshot(L"e2e_button_test_com12");

    ui::Click(test, IDCANCEL);
    ASSERT_TRUE(ui::WaitUntilGone(test));
    EXPECT_EQ(m_client.ComPort(), L"COM3");
    DWORD exitCode = 42;
    CloseAndExit(settings, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(AlarmUiTest, APortSetByPolicyIsShownAsManagedUntilThePolicyGoes) {
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    SetComPortSetting(L"COM5");
    // The policy's value as Group Policy writes it, gone at the end whatever happens.
    KRVN::unique_hkey policy;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, KRVN::kPolicyKeyPath, 0, nullptr, 0,
                                KEY_SET_VALUE, nullptr, policy.put(), nullptr),
              ERROR_SUCCESS);
    const auto removePolicy =
        KRVN::scope_exit([&] { ::RegDeleteValueW(policy.get(), KRVN::kComPortValue); });
    ASSERT_EQ(::RegSetValueExW(policy.get(), KRVN::kComPortValue, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(L"COM5"), sizeof(L"COM5")),
              ERROR_SUCCESS);
    ASSERT_TRUE(Install());
    HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(ui::Text(settings, IDC_MAIN_PORT_POLICY), L"Задан политикой организации");
    Screenshot(L"e2e_settings_port_by_policy");
    // The button test still opens; only its "&Применить" is off.
    const HWND test = OpenButtonTest(settings);
    ASSERT_NE(test, nullptr);
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(test, IDOK)));
    ui::Click(test, IDCANCEL);
    ASSERT_TRUE(ui::WaitUntilGone(test));

    // Without the value, the next opening is as it always was.
    ASSERT_EQ(::RegDeleteValueW(policy.get(), KRVN::kComPortValue), ERROR_SUCCESS);
    ui::Click(settings, IDOK);
    ASSERT_TRUE(ui::WaitUntilGone(settings));
    ASSERT_TRUE(ChooseFromTheMenu(kSettings));
    settings = m_alarm.WaitForDialog(kCaption, IDC_MAIN_SERVER_LIST, kWaitMs);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(ui::Text(settings, IDC_MAIN_PORT_POLICY), L"");

    DWORD exitCode = 42;
    CloseAndExit(settings, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(AlarmUiTest, TheServicesCloseRequestEndsItAsExitDoesWithADialogOpen) {
    // Made before Alarm.exe starts, as the service makes it when it starts.
    KRVN::unique_hlocal descriptor;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        KRVN::contract::kDesktopCloseEventSddl, SDDL_REVISION_1,
        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(), FALSE};
    const KRVN::unique_handle closeRequest(
        ::CreateEventW(&attributes, TRUE, FALSE, KRVN::contract::kDesktopCloseEventName));
    ASSERT_TRUE(closeRequest);
    // The event outlives this test while the service holds it.
    const auto unset = KRVN::scope_exit([&] { ::ResetEvent(closeRequest.get()); });

    ASSERT_TRUE(Install());
    const HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(IconShown(IDI_NO_SERVERS));
    const HWND test = OpenButtonTest(settings);
    ASSERT_NE(test, nullptr);

    ASSERT_TRUE(::SetEvent(closeRequest.get()));
    DWORD exitCode = 42;
    // Well within the few seconds the service gives it.
    ASSERT_TRUE(m_alarm.WaitForExit(3000, &exitCode)) << "still running";
    EXPECT_EQ(exitCode, 0u) << "ended by itself, not killed";
    EXPECT_EQ(::FindWindowW(nullptr, L"ShellIconHiddenWindow"), nullptr);
    EXPECT_FALSE(IconOnScreen(KRVN_ALARM_PATH, IDI_NO_SERVERS, kTaskbarBand));
}

TEST_F(AlarmUiTest, TheMenusAlarmReachesEveryServer) {
    SubstituteServerProcess disks;
    ASSERT_TRUE(disks.Start(Listen(L"127.0.0.2-127.0.0.3", L" --rpc")));
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    ASSERT_TRUE(Install());
    const std::string port = std::to_string(disks.Port());
    ASSERT_EQ(S_OK, m_client.Add({L"127.0.0.2", kPassword, disks.Port()}));
    ASSERT_EQ(S_OK, m_client.Add({L"127.0.0.3", kPassword, disks.Port()}));
    ASSERT_EQ(S_OK, m_client.Add({L"Quendor-RPC", kPassword, 0}));
    ASSERT_EQ(S_OK, m_client.Servers()->RefreshState());
    ASSERT_TRUE(m_client.WaitForState(AllConnected, kWaitMs));

    const HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    ui::Click(settings, IDOK);
    ASSERT_TRUE(ui::WaitUntilGone(settings));
    EXPECT_TRUE(AlarmEvents(disks).empty()) << disks.LogText();

    ASSERT_TRUE(ChooseFromTheMenu(kSendAlarm));
    ASSERT_TRUE(ui::WaitFor([&] { return AlarmEvents(disks).size() >= 3; }, kWaitMs))
        << disks.LogText();
    Pause(500); // nothing more follows
    std::vector<std::string> alarms;
    for (const LogEvent& alarm : AlarmEvents(disks)) {
        alarms.push_back(alarm.event == "unmount" ? alarm.where : alarm.event);
    }
    std::sort(alarms.begin(), alarms.end());
    EXPECT_EQ(alarms,
              (std::vector<std::string>{"127.0.0.2:" + port, "127.0.0.3:" + port, "RemoteAlarm"}))
        << disks.LogText();

    DWORD exitCode = 42;
    ExitFromTheMenu(&exitCode);
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(AlarmUiTest, TheMenusSettingsOpensTheDialogOrBringsTheOpenOneUp) {
    ASSERT_TRUE(Install());
    HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    const DWORD thread = ::GetWindowThreadProcessId(settings, nullptr);
    ui::Click(settings, IDOK);
    ASSERT_TRUE(ui::WaitUntilGone(settings));

    ASSERT_TRUE(ChooseFromTheMenu(kSettings));
    settings = m_alarm.WaitForDialog(kCaption, IDC_MAIN_SERVER_LIST, kWaitMs);
    ASSERT_NE(settings, nullptr);
    ::ShowWindowAsync(settings, SW_MINIMIZE);
    ASSERT_TRUE(ui::WaitFor([&] { return ::IsIconic(settings) != FALSE; }));

    ASSERT_TRUE(ChooseFromTheMenu(kSettings));
    EXPECT_TRUE(ui::WaitFor([&] { return !::IsIconic(settings) && ::IsWindowVisible(settings); }));
    Pause(ui::kShortWaitMs);
    EXPECT_EQ(ui::Dialogs(thread, kCaption).size(), 1u) << "no second settings dialog";

    DWORD exitCode = 42;
    CloseAndExit(settings, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(AlarmUiTest, DeletingAServerAsksThenRemovesItFromTheServiceAndSelectsItsNeighbour) {
    SubstituteServerProcess disks;
    ASSERT_TRUE(disks.Start(Listen(L"127.0.0.7-127.0.0.9")));
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    ASSERT_TRUE(Install());
    for (const wchar_t* address : {L"127.0.0.7", L"127.0.0.8", L"127.0.0.9"}) {
        ASSERT_EQ(S_OK, m_client.Add(SocketServer(address, disks)));
    }
    // Settled before the dialog opens: the check that follows the removal
    // then reports nothing, and no reload of the list drops the selection.
    ASSERT_EQ(S_OK, m_client.Servers()->RefreshState());
    ASSERT_TRUE(m_client.WaitForState(AllConnected, kWaitMs));
    const HWND settings = StartAlarm();
    ASSERT_NE(settings, nullptr);
    const HWND list = ::GetDlgItem(settings, IDC_MAIN_SERVER_LIST);
    ASSERT_TRUE(ui::WaitFor([&] { return Rows(settings).size() == 3; })) << RowsText(settings);

    ASSERT_TRUE(RemoteListSelect(list, 1));
    ASSERT_EQ(ui::ListSelection(list), 1);
    // Presses "&Удалить...", answers the question and returns it.
    const auto askToDelete = [&](int answer) {
        ui::Click(settings, IDC_MAIN_DELETE);
        const HWND box = m_alarm.WaitForDialog(kCaption, -IDC_MAIN_SERVER_LIST, kWaitMs);
        std::wstring question;
        if (box) {
            ui::WaitFor([&] { return !(question = ui::MessageBoxText(box)).empty(); });
            ::PostMessageW(box, WM_COMMAND, answer, 0);
            EXPECT_TRUE(ui::WaitUntilGone(box));
        }
        return question;
    };

    EXPECT_EQ(askToDelete(IDNO), L"Удалить сервер из списка?");
    EXPECT_EQ(m_client.Count(), 3);
    EXPECT_EQ(Rows(settings).size(), 3u);
    EXPECT_EQ(ui::ListSelection(list), 1);

    EXPECT_EQ(askToDelete(IDYES), L"Удалить сервер из списка?");
    EXPECT_TRUE(ui::WaitFor([&] { return Rows(settings).size() == 2; })) << RowsText(settings);
    const auto rows = Rows(settings);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].address, L"127.0.0.7");
    EXPECT_EQ(rows[1].address, L"127.0.0.9");
    EXPECT_TRUE(ui::WaitFor([&] { return ui::ListSelection(list) == 1; }))
        << "selected: " << ui::ListSelection(list);
    ASSERT_EQ(m_client.Count(), 2);
    EXPECT_EQ(m_client.Item(0).address, L"127.0.0.7");
    EXPECT_EQ(m_client.Item(1).address, L"127.0.0.9");

    DWORD exitCode = 42;
    CloseAndExit(settings, &exitCode);
    EXPECT_EQ(exitCode, 0u);
}

} // namespace
} // namespace krvn_e2e
