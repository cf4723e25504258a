#include <windows.h>
#include <sddl.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "alarm_ui/alarm_program.h"
#include "alarm_ui/hand_over.h"
#include "alarm_ui/resource.h"
#include "com/unique_couninitialize.h"
#include "common/unique_handle.h"
#include "fake_service.h"
#include "fake_token.h"
#include "ui_driver.h"
#include "tests/support/wait.h"

namespace {

// The program's windows as a user would find them, from a helper thread.
HWND WaitForSettings(DWORD thread) {
    return ui::WaitForDialog(thread, L"Quendor Alarm", IDC_MAIN_SERVER_LIST);
}

void ExitFromTheMenu() {
    HWND hidden = nullptr;
    ASSERT_TRUE(
        ui::WaitFor([&] { return (hidden = ::FindWindowW(nullptr, L"ShellIconHiddenWindow")); }));
    ::PostMessageW(hidden, WM_USER, 0, WM_RBUTTONUP);
    // The menu opens on its own time; nothing tells when it takes keys.
    krvn_test::SettleFor(200);
    for (int i = 0; i < 3; ++i) {
        ::PostMessageW(hidden, WM_KEYDOWN, VK_DOWN, 0);
    }
    ::PostMessageW(hidden, WM_KEYDOWN, VK_RETURN, 0);
}

// What the program handed CreateEventExW for its single-instance event,
// as another user would see it: the event exists and may not be opened with
// the access asked for unless the DACL grants it.
struct RunningEventCall {
    std::wstring name;
    DWORD flags = 0;
    DWORD access = 0;
    bool validDescriptor = false;
    bool daclPresent = false;
    bool nullDacl = true;
    std::vector<std::pair<std::wstring, DWORD>> allowed; // SID text, access mask
};
RunningEventCall runningEvent;

std::wstring SidText(PSID sid) {
    KRVN::unique_hlocal_string text;
    ::ConvertSidToStringSidW(sid, text.put());
    return text ? text.get() : L"?";
}

HANDLE WINAPI HeldByAnotherUser(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags,
                                DWORD access) {
    runningEvent = RunningEventCall();
    runningEvent.name = name;
    runningEvent.flags = flags;
    runningEvent.access = access;
    const PSECURITY_DESCRIPTOR descriptor = attributes ? attributes->lpSecurityDescriptor : nullptr;
    runningEvent.validDescriptor = descriptor && ::IsValidSecurityDescriptor(descriptor);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (runningEvent.validDescriptor &&
        ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        runningEvent.daclPresent = present != FALSE;
        runningEvent.nullDacl = dacl == nullptr;
        for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            if (::GetAce(dacl, i, &ace) &&
                static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE) {
                auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
                runningEvent.allowed.emplace_back(SidText(&allowed->SidStart), allowed->Mask);
            }
        }
    }
    ::SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// The elevated instance that a filtered administrator's restart starts,
// played by a thread of this process: it takes over as the program does.
// What the program asked of the start is kept.
struct ElevatedInstance {
    std::wstring verb, file, parameters;
    ULONG mask = 0;
    bool owned = false;
    APTTYPE apartment = APTTYPE_CURRENT;
    DWORD launchThread = 0;
    std::thread thread;
    std::atomic<int> tookOver{-1};
    FakeState* state = nullptr;
    // What the service had been asked when the old instance let go.
    std::vector<std::wstring> callsAtRelease;
} elevated;

BOOL WINAPI StartElevated(SHELLEXECUTEINFOW* info) {
    elevated.verb = info->lpVerb ? info->lpVerb : L"";
    elevated.file = info->lpFile ? info->lpFile : L"";
    elevated.parameters = info->lpParameters ? info->lpParameters : L"";
    elevated.mask = info->fMask;
    elevated.owned = info->hwnd != nullptr && info->cbSize == sizeof(*info);
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    ::CoGetApartmentType(&elevated.apartment, &qualifier);
    elevated.launchThread = ::GetCurrentThreadId();
    elevated.thread = std::thread([] {
        const bool took = HandOver::TakeOver(ui::kWaitMs);
        elevated.callsAtRelease = elevated.state->Calls();
        elevated.tookOver = took ? 1 : 0;
    });
    return TRUE;
}

class ProgramTest : public ::testing::Test {
protected:
    int Run(const std::function<void(DWORD)>& script,
            SingleInstance::CreateEventFunction createRunningEvent = &::CreateEventExW,
            ElevationCalls elevation = {}) {
        int exitCode = 42;
        ui::RunModal(script, [&] { exitCode = RunAlarmProgram(createRunningEvent, elevation); });
        return exitCode;
    }

    KRVN::unique_couninitialize com{COINIT_MULTITHREADED};
};

TEST_F(ProgramTest, StartsSubscribedWithTheSettingsOpenAndEndsFromTheMenu) {
    FakeService service;
    service.state.servers = {{L"alpha", L"p", 0, 0}};
    const ULONG references = service.AlarmReferences();
    const int exitCode = Run([&](DWORD thread) {
        const HWND settings = WaitForSettings(thread);
        ASSERT_NE(settings, nullptr);
        EXPECT_EQ(ui::ListText(::GetDlgItem(settings, IDC_MAIN_SERVER_LIST), 0, 0), L"alpha");
        EXPECT_TRUE(
            KRVN::unique_handle(::OpenEventW(SYNCHRONIZE, FALSE, L"Global\\KRVN_Alrm_Running")));
        ui::WaitFor([] { return false; }, 300); // lets it paint
        ui::SaveScreenshot(::GetDesktopWindow(), L"desktop_with_tray_icon");
        ui::Click(settings, IDOK);
        ASSERT_TRUE(ui::WaitUntilGone(settings));
        ExitFromTheMenu();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(service.state.Calls(),
              (std::vector<std::wstring>{L"AdviseChangeIcon", L"UnadviseChangeIcon"}));
    EXPECT_EQ(service.AlarmReferences(), references);
    EXPECT_EQ(::FindWindowW(nullptr, L"ShellIconHiddenWindow"), nullptr);
}

TEST_F(ProgramTest, ASecondStartBringsTheOpenSettingsForwardAndEndsWithOne) {
    FakeService service;
    const KRVN::unique_handle running(
        ::CreateEventW(nullptr, TRUE, TRUE, L"Global\\KRVN_Alrm_Running"));
    // The first instance's settings dialog, minimised, on a thread of its own.
    HWND first = nullptr;
    std::atomic<DWORD> instanceThread{0};
    std::thread instance([&] {
        instanceThread = ::GetCurrentThreadId();
        first = ::CreateWindowExW(0, L"#32770", L"Quendor Alarm", WS_OVERLAPPEDWINDOW, 10, 10, 200,
                                  100, nullptr, nullptr, nullptr, nullptr);
        ::ShowWindow(first, SW_SHOWMINIMIZED);
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            ::DispatchMessageW(&msg);
        }
        ::DestroyWindow(first);
    });
    ASSERT_TRUE(ui::WaitFor([&] { return first && ::IsIconic(first); }));
    EXPECT_EQ(Run([](DWORD) {}), 1);
    EXPECT_TRUE(ui::WaitFor([&] { return !::IsIconic(first); }));
    EXPECT_TRUE(service.state.Calls().empty());
    ::PostThreadMessageW(instanceThread, WM_QUIT, 0, 0);
    instance.join();
}

TEST_F(ProgramTest, EveryInteractiveUserMaySeeTheRunningInstance) {
    FakeService service;
    // Another user's instance holds the event: that is "running" too. (A
    // program that took itself for the first is ended from its menu.)
    EXPECT_EQ(Run(
                  [](DWORD thread) {
                      const HWND settings = ui::WaitForDialog(
                          thread, L"Quendor Alarm", IDC_MAIN_SERVER_LIST, ui::kShortWaitMs);
                      if (settings) {
                          ui::Click(settings, IDOK);
                          ExitFromTheMenu();
                      }
                  },
                  &HeldByAnotherUser),
              1);
    EXPECT_TRUE(service.state.Calls().empty()) << "no icon, no subscription";
    EXPECT_EQ(runningEvent.name, L"Global\\KRVN_Alrm_Running");
    EXPECT_EQ(runningEvent.flags,
              static_cast<DWORD>(CREATE_EVENT_MANUAL_RESET | CREATE_EVENT_INITIAL_SET));
    EXPECT_EQ(runningEvent.access, static_cast<DWORD>(SYNCHRONIZE)) << "the least it needs";
    ASSERT_TRUE(runningEvent.validDescriptor);
    EXPECT_TRUE(runningEvent.daclPresent && !runningEvent.nullDacl);
    // SYSTEM, Administrators and interactive users may wait on it.
    for (const wchar_t* sid : {L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-4"}) {
        const auto granted = std::find_if(
            runningEvent.allowed.begin(), runningEvent.allowed.end(),
            [&](const auto& ace) { return ace.first == sid && (ace.second & SYNCHRONIZE); });
        EXPECT_NE(granted, runningEvent.allowed.end()) << testing::PrintToString(sid);
    }
}

TEST_F(ProgramTest, AFilteredAdministratorsElevatedRestartTakesOverOnceThisInstanceHasEnded) {
    FakeService service;
    service.state.servers = {{L"alpha", L"p", 0, 0}};
    service.state.removeResult = E_ACCESSDENIED;
    elevated.state = &service.state;
    fake_token::Become(fake_token::User::FilteredAdministrator);
    const int exitCode = Run(
        [&](DWORD thread) {
            const HWND settings = WaitForSettings(thread);
            ASSERT_NE(settings, nullptr);
            ListView_SetItemState(::GetDlgItem(settings, IDC_MAIN_SERVER_LIST), 0, LVIS_SELECTED,
                                  LVIS_SELECTED);
            ui::Click(settings, IDC_MAIN_DELETE);
            ui::Answer(thread, IDYES);
            const HWND offer = ui::WaitForDialog(thread, L"Quendor Alarm", IDC_ELEVATE_RESTART);
            ASSERT_NE(offer, nullptr);
            ui::Click(offer, IDC_ELEVATE_RESTART);
            // The program ends by itself, its settings dialog with it.
            EXPECT_TRUE(ui::WaitUntilGone(settings));
        },
        &::CreateEventExW, ElevationCalls{&fake_token::Query, &StartElevated});
    ASSERT_TRUE(elevated.thread.joinable());
    elevated.thread.join();
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    EXPECT_EQ(elevated.verb, L"runas");
    EXPECT_EQ(::lstrcmpiW(elevated.file.c_str(), path), 0) << elevated.file;
    EXPECT_EQ(elevated.parameters, L"");
    EXPECT_TRUE(elevated.owned);
    // Shell extensions the verb may reach want a single-threaded apartment,
    // which the program's main thread is not; nothing may be left running
    // once that thread ends.
    EXPECT_TRUE(elevated.apartment == APTTYPE_STA || elevated.apartment == APTTYPE_MAINSTA);
    EXPECT_NE(elevated.launchThread, ::GetCurrentThreadId());
    EXPECT_EQ(elevated.mask & SEE_MASK_NOASYNC, static_cast<ULONG>(SEE_MASK_NOASYNC));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(elevated.tookOver, 1);
    // Its subscription was withdrawn before the elevated instance went on.
    EXPECT_EQ(
        elevated.callsAtRelease,
        (std::vector<std::wstring>{L"AdviseChangeIcon", L"Remove alpha", L"UnadviseChangeIcon"}));
    EXPECT_EQ(::FindWindowW(nullptr, L"ShellIconHiddenWindow"), nullptr);
}

TEST_F(ProgramTest, AnElevatedStartTakesOverFromTheInstanceThatOfferedIt) {
    FakeService service;
    const KRVN::unique_handle running(
        ::CreateEventW(nullptr, TRUE, TRUE, L"Global\\KRVN_Alrm_Running"));
    std::unique_ptr<HandOver> offer;
    ASSERT_EQ(S_OK, HandOver::Offer(offer));
    const int exitCode = Run([&](DWORD thread) {
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(offer->TakenEvent(), ui::kWaitMs));
        // Nothing of its own until the old instance has let go.
        EXPECT_EQ(
            ui::WaitForDialog(thread, L"Quendor Alarm", IDC_MAIN_SERVER_LIST, ui::kShortWaitMs),
            nullptr);
        EXPECT_TRUE(service.state.Calls().empty());
        offer->LetGo();
        const HWND settings = WaitForSettings(thread);
        ASSERT_NE(settings, nullptr);
        ui::Click(settings, IDOK);
        ASSERT_TRUE(ui::WaitUntilGone(settings));
        ExitFromTheMenu();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(service.state.Calls(),
              (std::vector<std::wstring>{L"AdviseChangeIcon", L"UnadviseChangeIcon"}));
}

TEST_F(ProgramTest, EndsAtStartWhenTheServiceCannotBeReached) {
    std::wstring message;
    EXPECT_EQ(Run([&](DWORD thread) { message = ui::Answer(thread, IDOK); }), -1);
    EXPECT_EQ(message.rfind(L"Не могу создать COM объект 'QNAlarm'.\nОшибка : ", 0), 0u)
        << testing::PrintToString(message);

    FakeService service;
    service.state.stateResult = RPC_E_DISCONNECTED;
    EXPECT_EQ(Run([&](DWORD thread) { message = ui::Answer(thread, IDOK); }), 0);
    EXPECT_EQ(message.rfind(L"IQNServers::RefreshStateОшибка : ", 0), 0u)
        << testing::PrintToString(message);
    EXPECT_EQ(service.state.Calls(),
              (std::vector<std::wstring>{L"AdviseChangeIcon", L"UnadviseChangeIcon"}));
}

} // namespace
