#include <algorithm>
#include <atomic>
#include <thread>

#include "alarm_ui/change_icon_events.h"
#include "alarm_ui/shell_icon.h"
#include "com/bstr.h"
#include "ui_test.h"
#include "tests/support/wait.h"

namespace {

struct Record {
    DWORD message;
    NOTIFYICONDATAW data;
    WORD iconId; // what the helper held when the record was sent
    DWORD thread;
};

std::vector<Record> records;
ShellIcon* watched = nullptr;
// How many more icon additions the shell refuses.
int refusedAdds = 0;

BOOL WINAPI RecordNotify(DWORD message, PNOTIFYICONDATAW data) {
    records.push_back(
        {message, *data, watched ? watched->IconId() : WORD(0), ::GetCurrentThreadId()});
    if (message == NIM_ADD && refusedAdds > 0) {
        --refusedAdds;
        return FALSE;
    }
    return TRUE;
}

size_t Count(DWORD message) {
    return static_cast<size_t>(
        std::count_if(records.begin(), records.end(),
                      [message](const Record& r) { return r.message == message; }));
}

// Handles this thread's messages until the condition holds.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = ui::kWaitMs) {
    bool quit = false;
    const bool held = krvn_test::WaitUntil(
        [&] {
            if (condition()) {
                return true;
            }
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    ::PostQuitMessage(static_cast<int>(msg.wParam));
                    quit = true;
                    return true;
                }
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            return false;
        },
        timeoutMs, 5);
    return quit ? condition() : held;
}

// A state report as the service sends it, from a thread of its own.
void Report(eConnectState state, const wchar_t* addresses) {
    std::thread([&] {
        const KRVN::unique_bstr text(addresses);
        EXPECT_EQ(ChangeIconEvents::Instance().ChangeIcon(state, text.get()), S_OK);
    }).join();
}

class ShellIconTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        records.clear();
        icon = std::make_unique<ShellIcon>(app);
        watched = icon.get();
        icon->SetNotifyFunction(&RecordNotify);
    }
    void TearDown() override {
        icon.reset();
        watched = nullptr;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // Init, with the settings dialog it opens closed again by `script`.
    void Init(const std::function<void(DWORD, HWND)>& script = [](DWORD, HWND) {}) {
        ui::RunModal(
            [&](DWORD thread) {
                const HWND dialog =
                    ui::WaitForDialog(thread, L"Quendor Alarm", IDC_MAIN_SERVER_LIST);
                ASSERT_NE(dialog, nullptr);
                script(thread, dialog);
                ui::Click(dialog, IDOK);
            },
            [&] { EXPECT_TRUE(icon->Init()); });
    }

    // Waits for `count` more records, handling messages meanwhile.
    bool More(size_t count) {
        const size_t wanted = records.size() + count;
        return PumpUntil([&] { return records.size() >= wanted; });
    }

    std::unique_ptr<ShellIcon> icon;
};

TEST_F(ShellIconTest, InitSubscribesShowsTheIconAndTheStateAndEndsInReverse) {
    {
        std::lock_guard<std::mutex> guard(service.state.lock);
        service.state.state = SomeConnected;
    }
    Init();
    ASSERT_EQ(records.size(), 2u);
    const HWND hidden = ::FindWindowW(nullptr, L"ShellIconHiddenWindow");
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(::IsWindowVisible(hidden), FALSE);
    const NOTIFYICONDATAW& added = records[0].data;
    EXPECT_EQ(records[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(added.cbSize, static_cast<DWORD>(NOTIFYICONDATAW_V2_SIZE));
    EXPECT_EQ(added.hWnd, hidden);
    EXPECT_EQ(added.uID, 0u);
    EXPECT_EQ(added.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(added.uCallbackMessage, static_cast<UINT>(WM_USER));
    EXPECT_NE(added.hIcon, nullptr);
    EXPECT_STREQ(added.szTip, L"сигнал «тревога»");
    EXPECT_EQ(records[0].iconId, 32514);
    EXPECT_EQ(records[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(records[1].iconId, 202);
    EXPECT_EQ(service.state.Calls(), std::vector<std::wstring>{L"AdviseChangeIcon"});
    EXPECT_EQ(service.state.iconSink.get(), &ChangeIconEvents::Instance());

    icon.reset();
    EXPECT_EQ(records.back().message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_FALSE(::IsWindow(hidden));
    EXPECT_EQ(service.state.Calls().back(), L"UnadviseChangeIcon");
    // A report that comes late reaches nobody.
    const size_t sent = records.size();
    Report(AllConnected, L"late\n");
    EXPECT_FALSE(PumpUntil([&] { return records.size() > sent; }, 200));
}

TEST_F(ShellIconTest, StateReportsChangeThePictureAndNameLostServers) {
    Init();
    Report(SomeConnected, L"srv1\n");
    ASSERT_TRUE(More(2));
    EXPECT_EQ(records[records.size() - 2].iconId, 202);
    const Record& balloon = records.back();
    EXPECT_EQ(balloon.message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(balloon.data.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_INFO));
    EXPECT_STREQ(balloon.data.szInfo, L"Потеряна связь с сервером:\nsrv1\n");
    EXPECT_STREQ(balloon.data.szInfoTitle, L"Quendor Alarm");
    EXPECT_EQ(balloon.data.uTimeout, 30000u);
    EXPECT_EQ(balloon.data.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));

    Report(AllDisconnected, L"srv1\nsrv2\n");
    ASSERT_TRUE(More(2));
    EXPECT_EQ(records.back().iconId, 203);
    EXPECT_STREQ(records.back().data.szInfo, L"Потеряна связь с серверами:\nsrv1\nsrv2\n");

    // Without lost servers only the picture changes; an unknown state keeps it.
    const size_t before = records.size();
    Report(NoneConnect, L"");
    Report(UnknownState, L"");
    Report(AllConnected, L"");
    ASSERT_TRUE(More(2));
    EXPECT_FALSE(PumpUntil([&] { return records.size() > before + 2; }, 200));
    EXPECT_EQ(records[before].iconId, 205);
    EXPECT_EQ(records[before + 1].iconId, 201);
    EXPECT_EQ(records[before + 1].data.uFlags & NIF_INFO, 0u);

    // Balloon text beyond what the record holds is cut, the end kept.
    Report(SomeConnected, (std::wstring(300, L'x') + L"\n").c_str());
    ASSERT_TRUE(More(2));
    EXPECT_EQ(std::wstring(records.back().data.szInfo).size(), 255u);
    // The reports came on other threads; the icon was only ever touched on this one.
    for (const Record& record : records) {
        EXPECT_EQ(record.thread, ::GetCurrentThreadId());
    }
}

TEST_F(ShellIconTest, AStateReportReloadsTheOpenSettingsDialog) {
    Init([&](DWORD, HWND dialog) {
        const HWND list = ::GetDlgItem(dialog, IDC_MAIN_SERVER_LIST);
        EXPECT_EQ(ui::ListCount(list), 0);
        Servers({{L"alpha", L"p", 0, 0}});
        const KRVN::unique_bstr none(L"");
        ChangeIconEvents::Instance().ChangeIcon(AllConnected, none.get());
        EXPECT_TRUE(ui::WaitFor([&] { return ui::ListCount(list) == 1; }));
    });
}

TEST_F(ShellIconTest, MenuRaisesTheAlarmOpensOneSettingsDialogAndEnds) {
    Init();
    const HWND hidden = ::FindWindowW(nullptr, L"ShellIconHiddenWindow");
    ASSERT_NE(hidden, nullptr);
    const DWORD thread = ::GetCurrentThreadId();
    const auto menuOpen = [thread] {
        HWND found = nullptr;
        ::EnumThreadWindows(
            thread,
            [](HWND window, LPARAM result) {
                wchar_t name[16] = {};
                ::GetClassNameW(window, name, 16);
                if (std::wstring(name) == L"#32768" && ::IsWindowVisible(window)) {
                    *reinterpret_cast<HWND*>(result) = window;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&found));
        return found != nullptr;
    };
    // Picks the menu's n-th command (separators skipped) by keyboard.
    const auto choose = [&](int command) {
        ASSERT_TRUE(ui::WaitFor(menuOpen));
        for (int i = 0; i <= command; ++i) {
            ::PostMessageW(hidden, WM_KEYDOWN, VK_DOWN, 0);
        }
        ::PostMessageW(hidden, WM_KEYDOWN, VK_RETURN, 0);
    };
    const auto rightClick = [&] { ::PostMessageW(hidden, WM_USER, 0, WM_RBUTTONUP); };

    for (const LPARAM mouse : {WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN}) {
        ::PostMessageW(hidden, WM_USER, 0, mouse);
    }
    EXPECT_FALSE(PumpUntil(menuOpen, 300));

    std::thread user([&] { choose(0); });
    rightClick();
    EXPECT_TRUE(PumpUntil([&] { return service.state.Called(L"SendAlarm"); }));
    user.join();

    bool quit = false;
    ui::RunModal(
        [&](DWORD) {
            choose(1);
            const HWND dialog = ui::WaitForDialog(thread, L"Quendor Alarm", IDC_MAIN_SERVER_LIST);
            ASSERT_NE(dialog, nullptr);
            ::ShowWindow(dialog, SW_MINIMIZE);
            rightClick();
            choose(1);
            EXPECT_TRUE(ui::WaitFor([&] { return !::IsIconic(dialog); }));
            EXPECT_EQ(ui::Dialogs(thread, L"Quendor Alarm").size(), 1u);
            rightClick();
            choose(2);
            EXPECT_TRUE(ui::WaitUntilGone(dialog));
        },
        [&] {
            rightClick();
            PumpUntil([&] {
                MSG msg;
                quit = ::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
                return quit;
            });
        });
    EXPECT_TRUE(quit);
    EXPECT_EQ(records.back().message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_FALSE(icon->IsShown());
    EXPECT_FALSE(::IsWindow(hidden));
}

// A shell busy at logon may refuse the icon: it is asked again until it
// takes it, and then no more.
TEST_F(ShellIconTest, AnIconTheShellRefusedIsAskedForAgain) {
    refusedAdds = 2;
    Init();
    EXPECT_TRUE(
        PumpUntil([] { return Count(NIM_ADD) >= 3; }, 3 * ShellIcon::kAddRetryMs + ui::kWaitMs));
    PumpUntil([] { return false; }, ShellIcon::kAddRetryMs + 500);
    EXPECT_EQ(3u, Count(NIM_ADD));
    refusedAdds = 0;
}

TEST_F(ShellIconTest, ReportsRacingWithTheIconsLifeLandSafely) {
    std::atomic<bool> stop{false};
    std::thread service([&] {
        const KRVN::unique_bstr lost(L"srv\n");
        for (int i = 0; i < 5000 && !stop; ++i) {
            ChangeIconEvents::Instance().ChangeIcon(i % 2 ? SomeConnected : AllConnected,
                                                    i % 3 ? nullptr : lost.get());
            krvn_test::PauseFor(1);
        }
    });
    for (int round = 0; round < 3; ++round) {
        Init();
        PumpUntil([] { return false; }, 50);
        icon.reset();
        icon = std::make_unique<ShellIcon>(app);
        watched = icon.get();
        icon->SetNotifyFunction(&RecordNotify);
    }
    stop = true;
    service.join();
    EXPECT_GT(records.size(), 6u);
}

} // namespace
