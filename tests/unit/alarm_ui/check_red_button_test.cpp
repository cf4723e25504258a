#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "alarm_ui/error_text.h"
#include "fake_serial_port.h"
#include "ui_test.h"
#include "tests/support/wait.h"

namespace {

constexpr wchar_t kCaption[] = L"Проверка отклика от \"красной кнопки\"";

class CheckRedButtonTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        fake_port::Reset();
        app.SetSerialPorts(fake_port::Api());
    }

    void Port(const std::wstring& port) {
        std::lock_guard<std::mutex> guard(service.state.lock);
        service.state.comPort = port;
    }

    static HWND OpenTest(DWORD thread, HWND settings) {
        ui::Click(settings, IDC_MAIN_CHANGE_PORT);
        return ui::WaitForDialog(thread, kCaption, IDC_CHECK_RESPONSES);
    }

    static std::wstring Selected(HWND dialog) {
        const HWND ports = ::GetDlgItem(dialog, IDC_CHECK_PORTS);
        const auto index = ::SendMessageW(ports, CB_GETCURSEL, 0, 0);
        wchar_t text[32] = {};
        if (index >= 0) {
            ::SendMessageW(ports, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        }
        return text;
    }

    // Chooses a port from the combo box's list as the user would.
    static void Select(HWND dialog, const std::wstring& port) {
        const HWND ports = ::GetDlgItem(dialog, IDC_CHECK_PORTS);
        const auto index = ::SendMessageW(ports, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                          reinterpret_cast<LPARAM>(port.c_str()));
        ::SendMessageW(ports, CB_SETCURSEL, index, 0);
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CHECK_PORTS, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(ports));
    }

    // The port list's entries, in the order it shows them.
    static std::vector<std::wstring> Entries(HWND dialog) {
        const HWND ports = ::GetDlgItem(dialog, IDC_CHECK_PORTS);
        std::vector<std::wstring> entries;
        const auto count = ::SendMessageW(ports, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[64] = {};
            ::SendMessageW(ports, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        return entries;
    }

    static std::vector<std::wstring> Lines(HWND dialog) {
        return ui::ListBoxLines(::GetDlgItem(dialog, IDC_CHECK_RESPONSES));
    }

    static bool WaitForLines(HWND dialog, const std::vector<std::wstring>& lines) {
        return ui::WaitFor([&] { return Lines(dialog) == lines; });
    }
};

std::wstring FunctionFailed(const wchar_t* call, DWORD error, const wchar_t* hex) {
    return std::wstring(L"Функция '") + call + L"' завершилась с ошибкой '" + ErrorText(error) +
           L"'(" + hex + L")";
}

TEST_F(CheckRedButtonTest, ListsEveryPressAndWhyAPortCannotBeWatched) {
    const std::wstring fromService = L"Отклик получен(от сервиса) ";
    const std::wstring pressed = L"Отклик получен";
    RunSettings([&](DWORD thread, HWND settings) {
        const HWND dialog = OpenTest(thread, settings);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(Selected(dialog), L"COM2");
        EXPECT_EQ(ui::Text(dialog, IDC_CHECK_SERVICE_PORT), L"COM2");
        EXPECT_EQ(service.state.Calls(),
                  (std::vector<std::wstring>{L"Advise", L"SetSendRedButtonCallback 1"}));

        ASSERT_TRUE(fake_port::WaitUntilWatching());
        EXPECT_EQ(fake_port::Opened(), std::vector<std::wstring>{L"\\\\.\\COM2"});
        fake_port::Press();
        EXPECT_TRUE(WaitForLines(dialog, {pressed}));
        KRVN::com_ptr<IRedButtonEvents> sink = service.state.redButtonSink;
        ASSERT_TRUE(sink);
        sink->RedButtonPressed();
        EXPECT_TRUE(WaitForLines(dialog, {pressed, fromService}));
        const HWND list = ::GetDlgItem(dialog, IDC_CHECK_RESPONSES);
        EXPECT_GT(::SendMessageW(list, LB_GETHORIZONTALEXTENT, 0, 0), 0);

        ui::Click(dialog, IDC_CHECK_CLEAR);
        EXPECT_TRUE(WaitForLines(dialog, {}));
        ASSERT_TRUE(fake_port::WaitUntilWatching());
        fake_port::Press();
        EXPECT_TRUE(WaitForLines(dialog, {pressed}));

        fake_port::FailIn(L"PurgeComm", ERROR_GEN_FAILURE);
        Select(dialog, L"COM4");
        EXPECT_TRUE(WaitForLines(dialog, {FunctionFailed(L"PurgeComm", 31, L"0x1f")}));
        EXPECT_TRUE(service.state.Called(L"SetSendRedButtonCallback 0"));
        ui::SaveScreenshot(dialog, L"red_button_test_dialog");

        fake_port::FailIn(L"CreateFile", ERROR_FILE_NOT_FOUND);
        Select(dialog, L"COM3");
        EXPECT_TRUE(WaitForLines(dialog, {L"Не могу найти порт 'COM3'"}));
        fake_port::FailIn(L"CreateFile", ERROR_ACCESS_DENIED);
        Select(dialog, L"COM1");
        EXPECT_TRUE(WaitForLines(dialog, {FunctionFailed(L"CreateFile", 5, L"0x5")}));
        // The service's own port, held by the service: nothing to report.
        Select(dialog, L"COM2");
        EXPECT_TRUE(ui::WaitFor([] { return fake_port::Opened().size() == 5; }));
        EXPECT_TRUE(WaitForLines(dialog, {}));
        EXPECT_EQ(service.state.Calls().back(), L"SetSendRedButtonCallback 1");
        fake_port::FailIn(L"WaitCommEvent", ERROR_INVALID_HANDLE);
        Select(dialog, L"COM4");
        EXPECT_TRUE(WaitForLines(dialog, {FunctionFailed(L"WaitCommEvent", 6, L"0x6")}));

        fake_port::FailIn(L"", 0);
        Select(dialog, L"COM1");
        ASSERT_TRUE(fake_port::WaitUntilWatching());
        const DWORD start = ::GetTickCount();
        ui::Click(dialog, IDOK);
        ASSERT_TRUE(ui::WaitUntilGone(dialog));
        EXPECT_TRUE(ui::WaitFor([&] { return ui::Text(settings, IDC_MAIN_COM_PORT) == L"COM1"; }));
        EXPECT_GE(::GetTickCount() - start, 500u);
        const auto calls = service.state.Calls();
        EXPECT_EQ(std::vector<std::wstring>(calls.end() - 2, calls.end()),
                  (std::vector<std::wstring>{L"Unadvise", L"put_ComPort COM1"}));
    });
}

TEST_F(CheckRedButtonTest, ThePortIsWrittenOnlyOnApplyWithAnotherPort) {
    RunSettings([&](DWORD thread, HWND settings) {
        HWND dialog = OpenTest(thread, settings);
        ASSERT_NE(dialog, nullptr);
        Select(dialog, L"COM3");
        ASSERT_TRUE(ui::WaitFor([] { return fake_port::Opened().size() == 2; }));
        ui::Click(dialog, IDCANCEL);
        ASSERT_TRUE(ui::WaitUntilGone(dialog));

        dialog = OpenTest(thread, settings);
        ASSERT_NE(dialog, nullptr);
        ui::Click(dialog, IDOK);
        ASSERT_TRUE(ui::WaitUntilGone(dialog));
        EXPECT_TRUE(ui::WaitFor([&] { return service.state.Calls().size() == 7; }));
    });
    EXPECT_EQ(service.state.Calls(),
              (std::vector<std::wstring>{L"Advise", L"SetSendRedButtonCallback 1",
                                         L"SetSendRedButtonCallback 0", L"Unadvise", L"Advise",
                                         L"SetSendRedButtonCallback 1", L"Unadvise"}));
    EXPECT_EQ(service.state.comPort, L"COM2");
}

TEST_F(CheckRedButtonTest, APortThatCouldNotBeOpenedIsAppliedOnlyAfterAYes) {
    const auto question = [](const wchar_t* port) {
        return std::wstring(L"Порт ") + port +
               L" не удалось открыть при проверке. Всё равно назначить его красной кнопке?";
    };
    RunSettings([&](DWORD thread, HWND settings) {
        HWND dialog = OpenTest(thread, settings);
        ASSERT_NE(dialog, nullptr);
        fake_port::FailIn(L"CreateFile", ERROR_FILE_NOT_FOUND);
        Select(dialog, L"COM3");
        ASSERT_TRUE(WaitForLines(dialog, {L"Не могу найти порт 'COM3'"}));
        ui::Click(dialog, IDOK);
        const HWND box = ui::WaitForMessageBox(thread);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(::GetDlgItem(box, IDYES) && ::GetDlgItem(box, IDNO));
        EXPECT_EQ(ui::Answer(thread, IDNO), question(L"COM3"));
        EXPECT_TRUE(::IsWindowVisible(dialog));

        // A port that opened but could not be prepared counts alike.
        fake_port::FailIn(L"SetCommMask", ERROR_GEN_FAILURE);
        Select(dialog, L"COM4");
        ASSERT_TRUE(WaitForLines(dialog, {FunctionFailed(L"SetCommMask", 31, L"0x1f")}));
        ui::Click(dialog, IDOK);
        EXPECT_EQ(ui::Answer(thread, IDYES), question(L"COM4"));
        ASSERT_TRUE(ui::WaitUntilGone(dialog));
        EXPECT_TRUE(ui::WaitFor([&] { return ui::Text(settings, IDC_MAIN_COM_PORT) == L"COM4"; }));

        // Applying the service's own port writes nothing: no question.
        fake_port::FailIn(L"CreateFile", ERROR_FILE_NOT_FOUND);
        dialog = OpenTest(thread, settings);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(WaitForLines(dialog, {L"Не могу найти порт 'COM4'"}));
        ui::Click(dialog, IDOK);
        EXPECT_TRUE(ui::WaitUntilGone(dialog));
    });
    const auto calls = service.state.Calls();
    EXPECT_EQ(1, std::count(calls.begin(), calls.end(), L"put_ComPort COM4"));
    EXPECT_EQ(0, std::count(calls.begin(), calls.end(), L"put_ComPort COM3"));
}

TEST_F(CheckRedButtonTest, APortSetByPolicyIsTestedButNeverApplied) {
    policyPort = L"COM2";
    RunSettings([&](DWORD thread, HWND settings) {
        const HWND dialog = OpenTest(thread, settings);
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDOK)));
        Select(dialog, L"COM1");
        ASSERT_TRUE(ui::WaitFor([] { return fake_port::Opened().size() == 2; }));
        ASSERT_TRUE(fake_port::WaitUntilWatching());
        fake_port::Press();
        EXPECT_TRUE(WaitForLines(dialog, {L"Отклик получен"}));
        ui::Click(dialog, IDOK);
        EXPECT_FALSE(ui::WaitFor([&] { return !::IsWindow(dialog); }, ui::kShortWaitMs));
        ui::Click(dialog, IDCANCEL);
        ASSERT_TRUE(ui::WaitUntilGone(dialog));
    });
    EXPECT_FALSE(service.state.Called(L"put_ComPort COM1"));
}

TEST_F(CheckRedButtonTest, EveryPortOfTheMachineIsListedOnceInNumericOrder) {
    fake_port::SetMachinePorts({L"COM12", L"com3", L"COM10", L"CNCA0", L"COM2", L"Com12"});
    RunSettings([&](DWORD thread, HWND settings) {
        const HWND dialog = OpenTest(thread, settings);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(Entries(dialog), (std::vector<std::wstring>{L"COM1", L"COM2", L"COM3", L"COM4",
                                                              L"COM10", L"COM12", L"CNCA0"}));
        ui::Click(dialog, IDCANCEL);
        ASSERT_TRUE(ui::WaitUntilGone(dialog));
    });
}

TEST_F(CheckRedButtonTest, TheServicePortSelectsOnlyItsOwnEntryIgnoringCase) {
    fake_port::SetMachinePorts({L"COM12"});
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"com3", L"COM3"}, {L"COM1", L"COM1"}, {L"com12", L"COM12"}, {L"COM9", L""}, {L"", L""}};
    for (const auto& [servicePort, selected] : cases) {
        Port(servicePort);
        fake_port::FailIn(L"CreateFile", ERROR_ACCESS_DENIED);
        RunSettings([&](DWORD thread, HWND settings) {
            const HWND dialog = OpenTest(thread, settings);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(Selected(dialog), selected) << testing::PrintToString(servicePort);
            ui::Click(dialog, IDCANCEL);
            ASSERT_TRUE(ui::WaitUntilGone(dialog));
        });
    }
    // An empty port is never opened; a port the service holds ends quietly.
    EXPECT_EQ(fake_port::Opened(), (std::vector<std::wstring>{L"\\\\.\\com3", L"\\\\.\\COM1",
                                                              L"\\\\.\\com12", L"\\\\.\\COM9"}));
}

TEST_F(CheckRedButtonTest, APortIsOpenedAloneByItsDevicePathWithDtrRaised) {
    fake_port::SetMachinePorts({L"COM12"});
    RunSettings([&](DWORD thread, HWND settings) {
        const HWND dialog = OpenTest(thread, settings);
        ASSERT_NE(dialog, nullptr);
        Select(dialog, L"COM12");
        ASSERT_TRUE(ui::WaitFor([] { return fake_port::Opens().size() == 2; }));
        ASSERT_TRUE(fake_port::WaitUntilWatching());
        const fake_port::Open open = fake_port::Opens().back();
        EXPECT_EQ(open.name, L"\\\\.\\COM12");
        EXPECT_EQ(open.share, 0u) << "a communications device is opened for exclusive access";
        EXPECT_EQ(open.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
        EXPECT_EQ(open.creation, static_cast<DWORD>(OPEN_EXISTING));
        EXPECT_EQ(open.flags & FILE_FLAG_OVERLAPPED, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
        EXPECT_FALSE(open.templateFile);

        // DTR raised, the rest of the driver's control block kept.
        const std::optional<DCB> written = fake_port::WrittenControlBlock();
        ASSERT_TRUE(written.has_value()) << "SetCommState not called";
        DCB expected = fake_port::DriverControlBlock();
        expected.fDtrControl = DTR_CONTROL_ENABLE;
        EXPECT_EQ(std::memcmp(&*written, &expected, sizeof(DCB)), 0)
            << "DTR " << written->fDtrControl << ", baud " << written->BaudRate;

        // The event mask counts once the wait's result is taken; a wait that
        // fails is no press.
        fake_port::Press();
        EXPECT_TRUE(WaitForLines(dialog, {L"Отклик получен"}));
        ASSERT_TRUE(fake_port::WaitUntilWatching());
        fake_port::FailPendingWait(ERROR_BAD_COMMAND);
        EXPECT_TRUE(WaitForLines(
            dialog, {L"Отклик получен", FunctionFailed(L"WaitCommEvent", 22, L"0x16")}));

        fake_port::FailIn(L"GetCommState", ERROR_GEN_FAILURE);
        Select(dialog, L"COM3");
        EXPECT_TRUE(WaitForLines(dialog, {FunctionFailed(L"GetCommState", 31, L"0x1f")}));
        fake_port::FailIn(L"SetCommState", ERROR_INVALID_PARAMETER);
        Select(dialog, L"COM4");
        EXPECT_TRUE(WaitForLines(dialog, {FunctionFailed(L"SetCommState", 87, L"0x57")}));
        ui::Click(dialog, IDCANCEL);
        ASSERT_TRUE(ui::WaitUntilGone(dialog));
    });
}

TEST_F(CheckRedButtonTest, ARealPortThatDoesNotExistIsNamed) {
    app.SetSerialPorts(SerialPortApi::System());
    Port(L"COM3");
    RunSettings([&](DWORD thread, HWND settings) {
        const HWND dialog = OpenTest(thread, settings);
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(WaitForLines(dialog, {L"Не могу найти порт 'COM3'"}));
        ui::Click(dialog, IDCANCEL);
        ASSERT_TRUE(ui::WaitUntilGone(dialog));
    });
}

TEST_F(CheckRedButtonTest, FailedServiceCallsAreReported) {
    RunSettings([&](DWORD thread, HWND settings) {
        service.state.getPortResult = E_ACCESSDENIED;
        ui::Click(settings, IDC_MAIN_CHANGE_PORT);
        EXPECT_EQ(ui::Answer(thread, IDOK), ErrorText(E_ACCESSDENIED));
        service.state.getPortResult = S_OK;

        service.state.adviseResult = E_ACCESSDENIED;
        ui::Click(settings, IDC_MAIN_CHANGE_PORT);
        EXPECT_EQ(ui::Answer(thread, IDOK), L"IEstablishCommunications->Advise()Ошибка : " +
                                                ErrorText(E_ACCESSDENIED) + L"(0x80070005)");
        service.state.adviseResult = S_OK;

        service.state.putPortResult = E_ACCESSDENIED;
        const HWND dialog = OpenTest(thread, settings);
        ASSERT_NE(dialog, nullptr);
        Select(dialog, L"COM4");
        ui::Click(dialog, IDOK);
        EXPECT_EQ(ui::Answer(thread, IDOK), L"IQNAlarm->put_ComPort()Ошибка : " +
                                                ErrorText(E_ACCESSDENIED) + L"(0x80070005)");
        EXPECT_EQ(ui::Text(settings, IDC_MAIN_COM_PORT), L"COM2");
    });
    // A failed Advise shows no dialog and needs no Unadvise; SetSendRedButtonCallback
    // is called all the same.
    EXPECT_EQ(
        service.state.Calls(),
        (std::vector<std::wstring>{L"Advise", L"SetSendRedButtonCallback 1", L"Advise",
                                   L"SetSendRedButtonCallback 1", L"SetSendRedButtonCallback 0",
                                   L"Unadvise", L"put_ComPort COM4"}));
}

TEST_F(CheckRedButtonTest, PressReportsRacingWithTheEndLandNowhere) {
    std::atomic<bool> stop{false};
    std::atomic<int> reports{0};
    RunSettings([&](DWORD thread, HWND settings) {
        for (int round = 0; round < 5; ++round) {
            const HWND dialog = OpenTest(thread, settings);
            ASSERT_NE(dialog, nullptr);
            IRedButtonEvents* sink = service.state.redButtonSink.get();
            ASSERT_NE(sink, nullptr);
            stop = false;
            // The sink stays valid for the run, so calling it after Unadvise is
            // what a late report from the service looks like.
            std::thread reporter([&] {
                for (int i = 0; i < 100000 && !stop; ++i) {
                    sink->RedButtonPressed();
                    ++reports;
                }
            });
            ui::Click(dialog, round % 2 ? IDOK : IDCANCEL);
            EXPECT_TRUE(ui::WaitUntilGone(dialog));
            krvn_test::PauseFor(20);
            stop = true;
            reporter.join();
        }
    });
    EXPECT_GT(reports.load(), 0);
}

} // namespace
