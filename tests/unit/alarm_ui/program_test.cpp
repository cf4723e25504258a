#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "alarm_ui/alarm_program.h"
#include "alarm_ui/resource.h"
#include "com/unique_couninitialize.h"
#include "common/unique_handle.h"
#include "fake_service.h"
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

class ProgramTest : public ::testing::Test {
protected:
    int Run(const std::function<void(DWORD)>& script) {
        int exitCode = 42;
        ui::RunModal(script, [&] { exitCode = RunAlarmProgram(); });
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
