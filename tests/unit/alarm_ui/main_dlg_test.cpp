#include "alarm_ui/error_text.h"
#include "ui_test.h"

namespace {

using MainDlgTest = UiTest;

HWND ListOf(HWND dialog) {
    return ::GetDlgItem(dialog, IDC_MAIN_SERVER_LIST);
}

TEST_F(MainDlgTest, ListsEachServerWithPortStateAndImageSortedByAddress) {
    Servers({{L"gamma", L"p", 1, 1753}, {L"alpha", L"p", 0, 0}, {L"Beta", L"p", 8080, -1}});
    RunSettings([&](DWORD, HWND dialog) {
        const HWND list = ListOf(dialog);
        ASSERT_EQ(ui::ListCount(list), 3);
        EXPECT_EQ(ui::ListText(list, 0, 0), L"alpha");
        EXPECT_EQ(ui::ListText(list, 0, 1), L"");
        EXPECT_EQ(ui::ListText(list, 0, 2), L"OK");
        EXPECT_EQ(ui::ListImage(list, 0), 0);
        EXPECT_EQ(ui::ListText(list, 1, 0), L"Beta");
        EXPECT_EQ(ui::ListText(list, 1, 1), L"8080");
        EXPECT_EQ(ui::ListText(list, 1, 2), L"");
        EXPECT_EQ(ui::ListImage(list, 1), 1);
        EXPECT_EQ(ui::ListText(list, 2, 1), L"1");
        EXPECT_EQ(ui::ListText(list, 2, 2), ErrorText(1753));
        EXPECT_EQ(ui::ListImage(list, 2), 1);
        EXPECT_EQ(ui::Text(dialog, IDC_MAIN_COM_PORT), L"COM2");

        const wchar_t* headings[] = {L"Сервер", L"Порт", L"Состояние"};
        const int widths[] = {110, 50, 155};
        for (int column = 0; column < 3; ++column) {
            wchar_t text[64] = {};
            LVCOLUMNW info = {};
            info.mask = LVCF_TEXT | LVCF_WIDTH;
            info.pszText = text;
            info.cchTextMax = 64;
            ::SendMessageW(list, LVM_GETCOLUMNW, column, reinterpret_cast<LPARAM>(&info));
            EXPECT_STREQ(text, headings[column]);
            EXPECT_EQ(info.cx, widths[column]);
        }
        const auto extended = ::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        EXPECT_EQ(extended & (LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP),
                  LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
        ui::SaveScreenshot(dialog, L"settings_dialog");
    });
}

TEST_F(MainDlgTest, APortSetByPolicySaysSoAtEveryOpening) {
    policyPort = L"COM5";
    RunSettings([&](DWORD, HWND dialog) {
        EXPECT_EQ(ui::Text(dialog, IDC_MAIN_PORT_POLICY), L"Задан политикой организации");
        EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_MAIN_CHANGE_PORT)));
        ui::SaveScreenshot(dialog, L"settings_dialog_port_by_policy");
    });
    policyPort.clear();
    RunSettings(
        [&](DWORD, HWND dialog) { EXPECT_EQ(ui::Text(dialog, IDC_MAIN_PORT_POLICY), L""); });
}

TEST_F(MainDlgTest, ReloadRequestRereadsTheList) {
    Servers({{L"alpha", L"p", 0, 0}});
    RunSettings([&](DWORD, HWND dialog) {
        ASSERT_EQ(ui::ListCount(ListOf(dialog)), 1);
        Servers({{L"alpha", L"p", 0, 5}, {L"delta", L"p", 0, 0}});
        ::PostMessageW(dialog, WM_USER + 1, 0, 0);
        EXPECT_TRUE(ui::WaitFor([&] { return ui::ListCount(ListOf(dialog)) == 2; }));
        EXPECT_EQ(ui::ListText(ListOf(dialog), 0, 2), ErrorText(5));
    });
}

TEST_F(MainDlgTest, FailedServiceCallsAreReportedAndLeaveTheListAsFarAsRead) {
    service.state.getPortResult = RPC_E_DISCONNECTED;
    service.state.countResult = RPC_E_DISCONNECTED;
    RunSettings(
        [&](DWORD, HWND dialog) {
            EXPECT_EQ(ui::ListCount(ListOf(dialog)), 0);
            EXPECT_EQ(ui::Text(dialog, IDC_MAIN_COM_PORT), L"");
        },
        true);
    EXPECT_EQ(openingMessage.rfind(L"IQNServer->get_Count()Ошибка : ", 0), 0u);
    EXPECT_TRUE(openingMessageOwned);

    service.state.countResult = S_OK;
    service.state.itemResult = E_INVALIDARG;
    Servers({{L"alpha", L"p", 0, 0}});
    RunSettings([&](DWORD, HWND) {}, true);
    EXPECT_EQ(openingMessage, L"Не могу создать COM объект 'QNServer'.\nОшибка : " +
                                  ErrorText(E_INVALIDARG) + L"(0x80070057)");
    EXPECT_FALSE(openingMessageOwned);

    service.state.itemResult = S_OK;
    Servers({{L"alpha", L"p", 0, 0}, {L"beta", L"p", 0, 0}});
    service.state.failingGetter = L"StateCode";
    service.state.failingAddress = L"beta";
    // Rows read before the failure stay.
    RunSettings(
        [&](DWORD, HWND dialog) {
            ASSERT_EQ(ui::ListCount(ListOf(dialog)), 1);
            EXPECT_EQ(ui::ListText(ListOf(dialog), 0, 0), L"alpha");
        },
        true);
    EXPECT_EQ(openingMessage.rfind(L"IQNServer->get_StateCode()Ошибка : ", 0), 0u);
}

TEST_F(MainDlgTest, DeleteAsksRemovesAndReselects) {
    Servers({{L"a", L"p", 0, 0}, {L"b", L"p", 0, 0}, {L"c", L"p", 0, 0}});
    RunSettings([&](DWORD thread, HWND dialog) {
        const HWND list = ListOf(dialog);
        ListView_SetItemState(list, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);

        ui::Click(dialog, IDC_MAIN_DELETE);
        EXPECT_EQ(ui::Answer(thread, IDNO), L"Удалить сервер из списка?");
        EXPECT_EQ(ui::ListCount(list), 3);
        EXPECT_EQ(ui::ListSelection(list), 1);
        EXPECT_FALSE(service.state.Called(L"Remove b"));

        // The Delete key in the list does the same.
        ::PostMessageW(list, WM_KEYDOWN, VK_DELETE, 0);
        EXPECT_EQ(ui::Answer(thread, IDYES), L"Удалить сервер из списка?");
        EXPECT_TRUE(ui::WaitFor([&] { return ui::ListCount(list) == 2; }));
        EXPECT_TRUE(service.state.Called(L"Remove b"));
        EXPECT_EQ(ui::ListText(list, 1, 0), L"c");
        EXPECT_EQ(ui::ListSelection(list), 1);
        EXPECT_EQ(ui::FocusOf(thread), list);

        service.state.removeResult = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        ui::Click(dialog, IDC_MAIN_DELETE);
        ui::Answer(thread, IDYES);
        EXPECT_EQ(ui::Answer(thread, IDOK),
                  L"IQNServers::RemoveОшибка : " + ErrorText(5) + L"(0x80070005)");
        EXPECT_EQ(ui::ListCount(list), 2);

        service.state.removeResult = S_OK;
        for (int left = 2; left > 0; --left) {
            ui::Click(dialog, IDC_MAIN_DELETE);
            ui::Answer(thread, IDYES);
            EXPECT_TRUE(ui::WaitFor([&] { return ui::ListCount(list) == left - 1; }));
        }
        EXPECT_EQ(ui::ListSelection(list), -1);
        // With nothing selected Delete asks nothing; the hidden edit button does nothing.
        ui::Click(dialog, IDC_MAIN_DELETE);
        ui::Click(dialog, IDC_MAIN_EDIT);
        EXPECT_EQ(ui::WaitForMessageBox(thread, ui::kShortWaitMs), nullptr);
    });
}

// A state change may reload the list while the question is open.
TEST_F(MainDlgTest, DeleteRemovesTheServerItAskedAbout) {
    Servers({{L"a", L"p", 0, 0}, {L"b", L"p", 0, 0}, {L"c", L"p", 0, 0}});
    RunSettings([&](DWORD thread, HWND dialog) {
        const HWND list = ListOf(dialog);
        ListView_SetItemState(list, 1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ui::Click(dialog, IDC_MAIN_DELETE);
        ASSERT_NE(ui::WaitForMessageBox(thread), nullptr);

        // The reload puts "ab" into the row that "b" held.
        Servers({{L"a", L"p", 0, 0}, {L"ab", L"p", 0, 0}, {L"b", L"p", 0, 0}, {L"c", L"p", 0, 0}});
        ::PostMessageW(dialog, WM_USER + 1, 0, 0);
        ASSERT_TRUE(ui::WaitFor([&] { return ui::ListText(list, 1, 0) == L"ab"; }));
        ui::Answer(thread, IDYES);
        EXPECT_TRUE(ui::WaitFor([&] { return ui::ListCount(list) == 3; }));
        EXPECT_TRUE(service.state.Called(L"Remove b"));
        EXPECT_EQ(ui::ListText(list, 1, 0), L"ab");
    });
}

} // namespace
