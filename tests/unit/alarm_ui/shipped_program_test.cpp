// The shipped Alarm.exe, started as its own process while no service is
// registered: it says so in a message box and ends with -1.

#include <gtest/gtest.h>

#include <string>

#include "common/unique_handle.h"
#include "ui_driver.h"

namespace {

TEST(ShippedProgramTest, WithoutTheServiceItSaysSoAndEndsWithMinusOne) {
    const std::wstring path = ui::WindowsPath(ALARM_EXE);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(::CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &started));
    const KRVN::unique_handle process(started.hProcess);
    const KRVN::unique_handle thread(started.hThread);
    // The box counts once it is shown with its text.
    HWND box = nullptr;
    EXPECT_TRUE(ui::WaitFor(
        [&] {
            box = ::FindWindowW(L"#32770", L"Quendor Alarm");
            return box && ::IsWindowVisible(box) && !ui::MessageBoxText(box).empty();
        },
        20000));
    if (box) {
        const std::wstring text = ui::MessageBoxText(box);
        EXPECT_EQ(text.rfind(L"Не могу создать COM объект 'QNAlarm'.\nОшибка : ", 0), 0u)
            << testing::PrintToString(text);
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    ASSERT_EQ(::WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(exitCode, 0xFFFFFFFFu);
}

} // namespace
