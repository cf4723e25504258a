// Where the service refuses a change (E_ACCESSDENIED), an administrator
// whose token is filtered is offered the elevated restart and a standard
// user gets the ordinary error box; told apart through the token query.

#include <atomic>
#include <memory>

#include "alarm_ui/elevated_restart.h"
#include "alarm_ui/error_text.h"
#include "fake_token.h"
#include "ui_test.h"

namespace {

std::atomic<int> g_launches{0};

// The user declines the system's prompt.
BOOL WINAPI DeclinedLaunch(SHELLEXECUTEINFOW*) {
    ++g_launches;
    ::SetLastError(ERROR_CANCELLED);
    return FALSE;
}

std::wstring Refused(const std::wstring& call) {
    return call + L"Ошибка : " + ErrorText(E_ACCESSDENIED) + L"(0x80070005)";
}

std::wstring Offer(const std::wstring& call) {
    return Refused(call) + L"\n\nИзменять настройки могут только администраторы. Перезапустить "
                           L"программу с правами администратора?";
}

class ElevationOfferTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        service.state.removeResult = E_ACCESSDENIED;
        service.state.adviseResult = E_ACCESSDENIED;
        service.state.tryResults[L"new"] = E_ACCESSDENIED;
        Servers({{L"alpha", L"p", 0, 0}});
        g_launches = 0;
    }
    void TearDown() override { app.SetElevation(nullptr); }

    void Become(fake_token::User user) {
        fake_token::Become(user);
        restart = std::make_unique<ElevatedRestart>(
            app.ResourceInstance(), [] {}, ElevationCalls{&fake_token::Query, &DeclinedLaunch});
        app.SetElevation(restart.get());
    }

    // Deletes the row, changes the port and saves a new server: the three
    // ways to a refusal. `answer` answers what each shows.
    void
    RunRefusals(const std::function<void(DWORD thread, HWND owner, const wchar_t* call)>& answer) {
        RunSettings([&](DWORD thread, HWND settings) {
            ListView_SetItemState(::GetDlgItem(settings, IDC_MAIN_SERVER_LIST), 0, LVIS_SELECTED,
                                  LVIS_SELECTED);
            ui::Click(settings, IDC_MAIN_DELETE);
            ui::Answer(thread, IDYES);
            answer(thread, settings, L"IQNServers::Remove");
            EXPECT_EQ(ui::ListCount(::GetDlgItem(settings, IDC_MAIN_SERVER_LIST)), 1);

            ui::Click(settings, IDC_MAIN_CHANGE_PORT);
            answer(thread, settings, L"IEstablishCommunications->Advise()");

            ui::Click(settings, IDC_MAIN_ADD);
            const HWND properties =
                ui::WaitForDialog(thread, L"Свойства сервера", IDC_INFO_ADDRESS);
            ASSERT_NE(properties, nullptr);
            ui::SetText(properties, IDC_INFO_ADDRESS, L"new");
            ui::SetText(properties, IDC_INFO_PASSWORD, L"pw");
            ui::SetText(properties, IDC_INFO_CONFIRM, L"pw");
            ui::Click(properties, IDOK);
            answer(thread, properties, L"IQNServers->TryConnect()");
            ui::Click(properties, IDCANCEL);
            EXPECT_TRUE(ui::WaitUntilGone(properties));
        });
    }

    std::unique_ptr<ElevatedRestart> restart;
};

TEST_F(ElevationOfferTest,
       AFilteredAdministratorIsOfferedTheElevatedRestartWhereTheServiceRefuses) {
    Become(fake_token::User::FilteredAdministrator);
    RunRefusals([&](DWORD thread, HWND owner, const wchar_t* call) {
        const HWND offer = ui::WaitForDialog(thread, L"Quendor Alarm", IDC_ELEVATE_RESTART);
        ASSERT_NE(offer, nullptr) << testing::PrintToString(call);
        EXPECT_EQ(ui::Text(offer, IDC_ELEVATE_TEXT), Offer(call));
        EXPECT_EQ(::GetWindow(offer, GW_OWNER), owner);
        // Taken: the prompt is declined and nothing more is said.
        ui::Click(offer, IDC_ELEVATE_RESTART);
        ASSERT_TRUE(ui::WaitUntilGone(offer));
        EXPECT_EQ(ui::WaitForMessageBox(thread, ui::kShortWaitMs), nullptr);
    });
    // A refused server is no unreachable one to be saved anyway.
    EXPECT_FALSE(service.state.Called(L"Add new|pw|0"));
    EXPECT_EQ(g_launches, 3);
}

TEST_F(ElevationOfferTest, AStandardUserKeepsTheErrorBoxes) {
    Become(fake_token::User::StandardUser);
    RunRefusals([&](DWORD thread, HWND, const wchar_t* call) {
        // TryConnect's refusal asks, as an unreachable server does.
        if (std::wstring(call) == L"IQNServers->TryConnect()") {
            EXPECT_EQ(ui::Answer(thread, IDNO), L"Ошибка доступа:\n" + ErrorText(E_ACCESSDENIED) +
                                                    L"(0x80070005)\n\nСохранить изменения?");
        } else {
            EXPECT_EQ(ui::Answer(thread, IDOK), Refused(call));
        }
    });
    EXPECT_EQ(g_launches, 0);
}

} // namespace
