#pragma once
// The test host: the program's application object on the fake service, and
// the settings dialog run modally while a script drives it.

#include <gtest/gtest.h>

#include <functional>

#include "alarm_ui/main_dlg.h"
#include "alarm_ui/resource.h"
#include "alarm_ui/tray_app.h"
#include "com/unique_couninitialize.h"
#include "fake_service.h"
#include "ui_driver.h"

class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.Init());
        // Set only while no dialog is open.
        app.SetPolicyPort([this] { return policyPort; });
    }

    void Servers(std::vector<ServerEntry> servers) {
        std::lock_guard<std::mutex> guard(service.state.lock);
        service.state.servers = std::move(servers);
    }

    // Opens the settings dialog, runs the script on it and closes it. A
    // message box that opening shows is answered first, its text kept in
    // `openingMessage`.
    void RunSettings(const std::function<void(DWORD thread, HWND dialog)>& script,
                     bool messageOnOpening = false) {
        ui::RunModal(
            [&](DWORD thread) {
                if (messageOnOpening) {
                    const HWND box = ui::WaitForMessageBox(thread);
                    openingMessageOwned = box && ::GetWindow(box, GW_OWNER) != nullptr;
                    openingMessage = ui::Answer(thread, IDOK);
                }
                const HWND dialog =
                    ui::WaitForDialog(thread, L"Quendor Alarm", IDC_MAIN_SERVER_LIST);
                ASSERT_NE(dialog, nullptr);
                script(thread, dialog);
                ui::Click(dialog, IDOK);
            },
            [&] {
                CMainDlg dialog(app);
                dialog.DoModal(nullptr);
            });
    }

    KRVN::unique_couninitialize com{COINIT_MULTITHREADED};
    FakeService service;
    CTrayApp app;
    std::wstring policyPort;
    std::wstring openingMessage;
    bool openingMessageOwned = false;
};
