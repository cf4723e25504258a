// Where the service refuses a change (E_ACCESSDENIED), an administrator
// whose token is filtered is offered the elevated restart, and a standard
// user gets the ordinary error box; the user is told apart through the
// token query.

#include <objbase.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "alarm_ui/elevated_restart.h"
#include "alarm_ui/error_text.h"
#include "fake_token.h"
#include "ui_test.h"

namespace {

// What the program handed ShellExecuteExW, and on which kind of thread.
struct LaunchCall {
    int calls = 0;
    std::wstring verb;
    std::wstring file;
    std::wstring parameters;
    HWND owner = nullptr;
    ULONG mask = 0;
    DWORD cbSize = 0;
    APTTYPE apartment = APTTYPE_CURRENT;
    DWORD thread = 0;
};
std::mutex g_launchLock;
LaunchCall g_launch;

// The user declines the system's prompt.
BOOL WINAPI DeclinedLaunch(SHELLEXECUTEINFOW* info) {
    std::lock_guard<std::mutex> guard(g_launchLock);
    ++g_launch.calls;
    g_launch.verb = info->lpVerb ? info->lpVerb : L"";
    g_launch.file = info->lpFile ? info->lpFile : L"";
    g_launch.parameters = info->lpParameters ? info->lpParameters : L"";
    g_launch.owner = info->hwnd;
    g_launch.mask = info->fMask;
    g_launch.cbSize = info->cbSize;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    if (FAILED(::CoGetApartmentType(&g_launch.apartment, &qualifier))) {
        g_launch.apartment = APTTYPE_CURRENT;
    }
    g_launch.thread = ::GetCurrentThreadId();
    ::SetLastError(ERROR_CANCELLED);
    return FALSE;
}

std::wstring OwnPath() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

constexpr wchar_t kPropertiesCaption[] = L"Свойства сервера";
constexpr wchar_t kOffer[] = L"Изменять настройки могут только администраторы. Перезапустить "
                             L"программу с правами администратора?";

class ElevationOfferTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        service.state.removeResult = E_ACCESSDENIED;
        service.state.adviseResult = E_ACCESSDENIED;
        service.state.tryResults[L"new"] = E_ACCESSDENIED;
        Servers({{L"alpha", L"p", 0, 0}});
        std::lock_guard<std::mutex> guard(g_launchLock);
        g_launch = LaunchCall();
    }
    void TearDown() override { app.SetElevation(nullptr); }

    void Become(fake_token::User user) {
        fake_token::Become(user);
        restart = std::make_unique<ElevatedRestart>(
            app.ResourceInstance(), [this] { ++handOvers; },
            ElevationCalls{&fake_token::Query, &DeclinedLaunch});
        app.SetElevation(restart.get());
    }

    static HWND WaitForOffer(DWORD thread) {
        return ui::WaitForDialog(thread, L"Quendor Alarm", IDC_ELEVATE_RESTART);
    }

    static void DeleteFirst(HWND settings) {
        ListView_SetItemState(::GetDlgItem(settings, IDC_MAIN_SERVER_LIST), 0, LVIS_SELECTED,
                              LVIS_SELECTED);
        ui::Click(settings, IDC_MAIN_DELETE);
    }

    static HWND SaveNewServer(DWORD thread, HWND settings) {
        ui::Click(settings, IDC_MAIN_ADD);
        const HWND properties = ui::WaitForDialog(thread, kPropertiesCaption, IDC_INFO_ADDRESS);
        if (properties) {
            ui::SetText(properties, IDC_INFO_ADDRESS, L"new");
            ui::SetText(properties, IDC_INFO_PASSWORD, L"pw");
            ui::SetText(properties, IDC_INFO_CONFIRM, L"pw");
            ui::Click(properties, IDOK);
        }
        return properties;
    }

    std::unique_ptr<ElevatedRestart> restart;
    std::atomic<int> handOvers{0};
};

std::wstring Refused(const std::wstring& call) {
    return call + L"Ошибка : " + ErrorText(E_ACCESSDENIED) + L"(0x80070005)";
}

TEST_F(ElevationOfferTest,
       AFilteredAdministratorIsOfferedTheElevatedRestartWhereTheServiceRefuses) {
    Become(fake_token::User::FilteredAdministrator);
    RunSettings([&](DWORD thread, HWND settings) {
        DeleteFirst(settings);
        ui::Answer(thread, IDYES);
        HWND offer = WaitForOffer(thread);
        ASSERT_NE(offer, nullptr);
        EXPECT_EQ(ui::Text(offer, IDC_ELEVATE_TEXT),
                  Refused(L"IQNServers::Remove") + L"\n\n" + kOffer);
        EXPECT_EQ(::GetWindow(offer, GW_OWNER), settings);
        ui::SaveScreenshot(offer, L"elevation_offer");
        ui::Click(offer, IDC_ELEVATE_RESTART);
        ASSERT_TRUE(ui::WaitUntilGone(offer));
        // The prompt declined: nothing more is said, nothing handed over.
        EXPECT_EQ(ui::WaitForMessageBox(thread, ui::kShortWaitMs), nullptr);
        EXPECT_EQ(ui::ListCount(::GetDlgItem(settings, IDC_MAIN_SERVER_LIST)), 1);

        // The button test does not open; the offer says why.
        ui::Click(settings, IDC_MAIN_CHANGE_PORT);
        offer = WaitForOffer(thread);
        ASSERT_NE(offer, nullptr);
        EXPECT_EQ(ui::Text(offer, IDC_ELEVATE_TEXT),
                  Refused(L"IEstablishCommunications->Advise()") + L"\n\n" + kOffer);
        ui::Click(offer, IDCANCEL);
        ASSERT_TRUE(ui::WaitUntilGone(offer));

        // A refused TryConnect is no unreachable server to save anyway.
        const HWND properties = SaveNewServer(thread, settings);
        ASSERT_NE(properties, nullptr);
        offer = WaitForOffer(thread);
        ASSERT_NE(offer, nullptr);
        EXPECT_EQ(ui::Text(offer, IDC_ELEVATE_TEXT),
                  Refused(L"IQNServers->TryConnect()") + L"\n\n" + kOffer);
        ui::Click(offer, IDCANCEL);
        ASSERT_TRUE(ui::WaitUntilGone(offer));
        EXPECT_TRUE(::IsWindowVisible(properties));
        ui::Click(properties, IDCANCEL);
        EXPECT_TRUE(ui::WaitUntilGone(properties));
    });
    EXPECT_FALSE(service.state.Called(L"Add new|pw|0"));
    EXPECT_EQ(handOvers, 0);
    std::lock_guard<std::mutex> guard(g_launchLock);
    ASSERT_EQ(g_launch.calls, 1);
    EXPECT_EQ(g_launch.verb, L"runas");
    EXPECT_EQ(::lstrcmpiW(g_launch.file.c_str(), OwnPath().c_str()), 0) << g_launch.file;
    EXPECT_EQ(g_launch.parameters, L"");
    EXPECT_EQ(g_launch.cbSize, sizeof(SHELLEXECUTEINFOW));
    EXPECT_NE(g_launch.owner, nullptr);
    // Shell extensions the verb may reach want a single-threaded apartment;
    // the program's main thread is in the multithreaded one.
    EXPECT_TRUE(g_launch.apartment == APTTYPE_STA || g_launch.apartment == APTTYPE_MAINSTA)
        << g_launch.apartment;
    EXPECT_NE(g_launch.thread, ::GetCurrentThreadId());
    EXPECT_EQ(g_launch.mask & SEE_MASK_NOASYNC, static_cast<ULONG>(SEE_MASK_NOASYNC));
}

TEST_F(ElevationOfferTest, AStandardUserKeepsTheErrorBoxes) {
    Become(fake_token::User::StandardUser);
    RunSettings([&](DWORD thread, HWND settings) {
        DeleteFirst(settings);
        ui::Answer(thread, IDYES);
        EXPECT_EQ(ui::Answer(thread, IDOK), Refused(L"IQNServers::Remove"));

        ui::Click(settings, IDC_MAIN_CHANGE_PORT);
        EXPECT_EQ(ui::Answer(thread, IDOK), Refused(L"IEstablishCommunications->Advise()"));

        const HWND properties = SaveNewServer(thread, settings);
        ASSERT_NE(properties, nullptr);
        EXPECT_EQ(ui::Answer(thread, IDNO), L"Ошибка доступа:\n" + ErrorText(E_ACCESSDENIED) +
                                                L"(0x80070005)\n\nСохранить изменения?");
        ui::Click(properties, IDCANCEL);
        EXPECT_TRUE(ui::WaitUntilGone(properties));
    });
    std::lock_guard<std::mutex> guard(g_launchLock);
    EXPECT_EQ(g_launch.calls, 0);
}

} // namespace
