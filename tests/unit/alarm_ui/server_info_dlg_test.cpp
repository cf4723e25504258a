#include "alarm_ui/error_text.h"
#include "ui_test.h"

namespace {

constexpr wchar_t kCaption[] = L"Свойства сервера";

class ServerInfoDlgTest : public UiTest {
protected:
    // Opens the properties dialog from the settings dialog's Add button.
    HWND OpenProperties(DWORD thread, HWND settings) {
        ui::Click(settings, IDC_MAIN_ADD);
        return ui::WaitForDialog(thread, kCaption, IDC_INFO_ADDRESS);
    }

    static void Choose(HWND dialog, int radio) {
        ::PostMessageW(::GetDlgItem(dialog, radio), BM_CLICK, 0, 0);
        ui::WaitFor([&] { return ::IsDlgButtonChecked(dialog, radio) == BST_CHECKED; });
        ui::WaitFor([] { return false; }, 50);
    }

    // Presses Save and returns the warning, checking where the focus went.
    static std::wstring Rejection(DWORD thread, HWND dialog, int focus) {
        ui::Click(dialog, IDOK);
        const std::wstring text = ui::Answer(thread, IDOK);
        if (focus != 0) {
            EXPECT_TRUE(ui::WaitFor([&] {
                return ui::FocusOf(thread) == ::GetDlgItem(dialog, focus);
            })) << "focus after: "
                << testing::PrintToString(text);
        }
        EXPECT_TRUE(::IsWindowVisible(dialog));
        return text;
    }
};

TEST_F(ServerInfoDlgTest, ChecksTheInputInOrderThenListsAReachableServer) {
    Servers({{L"alpha", L"p", 0, 0}});
    RunSettings([&](DWORD thread, HWND settings) {
        // The Insert key of the list opens the dialog too.
        ::PostMessageW(::GetDlgItem(settings, IDC_MAIN_SERVER_LIST), WM_KEYDOWN, VK_INSERT, 0);
        const HWND dialog = ui::WaitForDialog(thread, kCaption, IDC_INFO_ADDRESS);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(ui::Text(dialog, IDC_INFO_PORT), L"");
        EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_INFO_PORT)));
        EXPECT_EQ(::IsDlgButtonChecked(dialog, IDC_INFO_AUTHORISED), BST_CHECKED);

        EXPECT_EQ(Rejection(thread, dialog, IDC_INFO_ADDRESS), L"Задайте имя или адрес сервера.");
        ui::SetText(dialog, IDC_INFO_ADDRESS, L"ALPHA");
        EXPECT_EQ(Rejection(thread, dialog, IDC_INFO_PASSWORD), L"Задайте пароль.");
        ui::SetText(dialog, IDC_INFO_PASSWORD, L"pw");
        Choose(dialog, IDC_INFO_ANONYMOUS);
        EXPECT_EQ(ui::Text(dialog, IDC_INFO_PORT), L"64111");
        ui::SetText(dialog, IDC_INFO_PORT, L"");
        EXPECT_EQ(Rejection(thread, dialog, IDC_INFO_PORT), L"Задайте порт.");
        ui::SetText(dialog, IDC_INFO_PORT, L"64111");
        ui::SetText(dialog, IDC_INFO_CONFIRM, L"pW");
        EXPECT_EQ(Rejection(thread, dialog, IDC_INFO_CONFIRM),
                  L"Пароль и его подтверждение не совпадают.");
        ui::SetText(dialog, IDC_INFO_CONFIRM, L"pw");
        EXPECT_EQ(Rejection(thread, dialog, 0), L"Сервер 'ALPHA' уже присутствует в списке.");

        ui::SetText(dialog, IDC_INFO_ADDRESS, L"new");
        for (const wchar_t* port : {L"0", L"65536", L"123456"}) {
            ui::SetText(dialog, IDC_INFO_PORT, port);
            EXPECT_EQ(Rejection(thread, dialog, IDC_INFO_PORT),
                      L"Значение поля 'Порт' должно находится в диапазоне от 1 до 65535.")
                << testing::PrintToString(std::wstring(port));
        }
        // Blanks alone are no port for an anonymous server.
        ui::SetText(dialog, IDC_INFO_PORT, L"   ");
        EXPECT_EQ(Rejection(thread, dialog, IDC_INFO_PORT), L"Задайте порт.");
        EXPECT_TRUE(service.state.Calls().empty());
        ui::SaveScreenshot(dialog, L"server_properties_dialog");

        // Eight characters, five once trimmed.
        ui::SetText(dialog, IDC_INFO_PORT, L"  8080  ");
        ui::Click(dialog, IDOK);
        ASSERT_TRUE(ui::WaitUntilGone(dialog));
        EXPECT_EQ(service.state.Calls(), std::vector<std::wstring>{L"TryConnect new|pw|8080"});

        const HWND list = ::GetDlgItem(settings, IDC_MAIN_SERVER_LIST);
        ASSERT_TRUE(ui::WaitFor([&] { return ui::ListCount(list) == 2; }));
        EXPECT_EQ(ui::ListText(list, 1, 0), L"new");
        EXPECT_EQ(ui::ListText(list, 1, 1), L"8080");
        EXPECT_EQ(ui::ListText(list, 1, 2), L"OK");
        EXPECT_EQ(ui::ListImage(list, 1), 0);
        EXPECT_EQ(ui::ListSelection(list), 1);
        EXPECT_TRUE(ui::WaitFor([&] { return ui::FocusOf(thread) == list; }));
    });
}

TEST_F(ServerInfoDlgTest, ConnectionTypeSwapsThePortField) {
    RunSettings([&](DWORD thread, HWND settings) {
        const HWND dialog = OpenProperties(thread, settings);
        ASSERT_NE(dialog, nullptr);
        const HWND port = ::GetDlgItem(dialog, IDC_INFO_PORT);
        Choose(dialog, IDC_INFO_ANONYMOUS);
        EXPECT_EQ(ui::Text(dialog, IDC_INFO_PORT), L"64111");
        EXPECT_TRUE(::IsWindowEnabled(port));
        ui::SetText(dialog, IDC_INFO_PORT, L"1234");
        Choose(dialog, IDC_INFO_AUTHORISED);
        EXPECT_EQ(ui::Text(dialog, IDC_INFO_PORT), L"");
        EXPECT_FALSE(::IsWindowEnabled(port));
        // Choosing the chosen type again keeps what was typed.
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_INFO_AUTHORISED, BN_CLICKED), 0);
        Choose(dialog, IDC_INFO_ANONYMOUS);
        EXPECT_EQ(ui::Text(dialog, IDC_INFO_PORT), L"1234");
        ui::Click(dialog, IDCANCEL);
        EXPECT_TRUE(ui::WaitUntilGone(dialog));
    });
    EXPECT_TRUE(service.state.Calls().empty());
}

TEST_F(ServerInfoDlgTest, UnreachableServerIsListedOnlyAfterYes) {
    service.state.tryResults[L"far"] = 1753;
    RunSettings([&](DWORD thread, HWND settings) {
        const HWND dialog = OpenProperties(thread, settings);
        ASSERT_NE(dialog, nullptr);
        ui::SetText(dialog, IDC_INFO_ADDRESS, L"far");
        ui::SetText(dialog, IDC_INFO_PASSWORD, L"pw");
        ui::SetText(dialog, IDC_INFO_CONFIRM, L"pw");
        const std::wstring question =
            L"Ошибка доступа:\n" + ErrorText(1753) + L"(0x6d9)\n\nСохранить изменения?";
        ui::Click(dialog, IDOK);
        EXPECT_EQ(ui::Answer(thread, IDNO), question);
        EXPECT_TRUE(::IsWindowVisible(dialog));
        EXPECT_EQ(ui::Text(dialog, IDC_INFO_ADDRESS), L"far");
        EXPECT_EQ(ui::Text(dialog, IDC_INFO_PASSWORD), L"pw");

        ui::Click(dialog, IDOK);
        EXPECT_EQ(ui::Answer(thread, IDYES), question);
        ASSERT_TRUE(ui::WaitUntilGone(dialog));
        EXPECT_EQ(service.state.Calls(),
                  (std::vector<std::wstring>{L"TryConnect far|pw|0", L"TryConnect far|pw|0",
                                             L"Add far|pw|0"}));
        const HWND list = ::GetDlgItem(settings, IDC_MAIN_SERVER_LIST);
        ASSERT_TRUE(ui::WaitFor([&] { return ui::ListCount(list) == 1; }));
        EXPECT_EQ(ui::ListText(list, 0, 1), L"");
        EXPECT_EQ(ui::ListText(list, 0, 2), ErrorText(1753));
        EXPECT_EQ(ui::ListImage(list, 0), 1);
    });
}

TEST_F(ServerInfoDlgTest, ServiceFailuresKeepTheDialogOpen) {
    service.state.tryResults[L"far"] = 10061;
    service.state.addResult = E_ACCESSDENIED;
    RunSettings([&](DWORD thread, HWND settings) {
        const HWND dialog = OpenProperties(thread, settings);
        ASSERT_NE(dialog, nullptr);
        ui::SetText(dialog, IDC_INFO_ADDRESS, L"far");
        ui::SetText(dialog, IDC_INFO_PASSWORD, L"pw");
        ui::SetText(dialog, IDC_INFO_CONFIRM, L"pw");
        ui::Click(dialog, IDOK);
        ui::Answer(thread, IDYES);
        EXPECT_EQ(ui::Answer(thread, IDOK),
                  L"IQNServers->Add()Ошибка : " + ErrorText(E_ACCESSDENIED) + L"(0x80070005)");
        EXPECT_EQ(ui::Answer(thread, IDOK), L"Не могу сохранить информацию о сервере.\nОшибка:" +
                                                ErrorText(E_ACCESSDENIED) + L"(0x80070005)");
        EXPECT_TRUE(::IsWindowVisible(dialog));

        service.Revoke(CLSID_QNServer);
        ui::Click(dialog, IDOK);
        const HWND box = ui::WaitForMessageBox(thread);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(::GetWindow(box, GW_OWNER), nullptr);
        const std::wstring text = ui::Answer(thread, IDOK);
        EXPECT_EQ(text.rfind(L"Не могу создать COM объект 'IQNServer'.\nОшибка : ", 0), 0u) << text;
        EXPECT_TRUE(::IsWindowVisible(dialog));
        ui::Click(dialog, IDCANCEL);
        EXPECT_TRUE(ui::WaitUntilGone(dialog));
        EXPECT_EQ(ui::ListCount(::GetDlgItem(settings, IDC_MAIN_SERVER_LIST)), 0);
    });
}

} // namespace
