// The red-button port watcher and the QNAlarm object on the virtual red
// button: presses raise the alarm or go to the client's sink, the port
// follows the ComPort property, and a port that cannot be used is reported
// and tried again. Runs with the vbutton fixture.

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/class_factory.h"
#include "com/com_object.h"
#include "common/unique_handle.h"
#include "service/alarm_manager.h"
#include "service/com_port_waiter.h"
#include "service/desktop_program.h"
#include "service/qn_alarm.h"
#include "tests/support/environment.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/virtual_button.h"
#include "tests/support/wait.h"
#include "tests/unit/connections/test_environment.h"
#include "tests/unit/service/service_test_support.h"

namespace krvn_test {
namespace {

// How long a press is held, and how long nothing must happen after one.
constexpr DWORD kHoldMs = 30;
constexpr DWORD kQuietMs = 300;

void SetButton(bool pressed) {
    if (pressed) {
        ASSERT_TRUE(VirtualButton::Press()) << ::GetLastError();
    } else {
        ASSERT_TRUE(VirtualButton::Release());
    }
    PauseFor(kHoldMs);
}

// A press and a release: two changes of DSR.
void Click() {
    SetButton(true);
    SetButton(false);
}

class RedButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_portName = VirtualButton::Port();
        ASSERT_FALSE(m_portName.empty()) << "run with the vbutton fixture";
        SetButton(false);
        AlarmRegistry::SetCheckDelay(3600);
        ASSERT_TRUE(m_servers.Start(L"--password sock --listen 127.0.0.111-127.0.0.112:0"));
        for (const wchar_t* address : {L"127.0.0.111", L"127.0.0.112"}) {
            ASSERT_EQ(0, m_manager.TryConnectAdd(
                             MakeServerObject(address, L"sock", m_servers.Port()).get()));
        }
        m_manager.Start(m_reporter);
        m_alarm = KRVN::com::ComObject<QNAlarm>::Make(m_manager).query<IQNAlarm>();
        m_links = m_alarm.query<IEstablishCommunications>();
        WatchPort(m_portName);
    }

    // A press before the watcher waits on its port would be lost. The DTR
    // flag stays after a port is closed, so it is cleared first.
    void WatchPort(const std::wstring& name) {
        ASSERT_TRUE(VirtualButton::ForgetDtr());
        ASSERT_EQ(S_OK, m_alarm->put_ComPort(KRVN::unique_bstr(name.c_str()).get()));
        ASSERT_TRUE(VirtualButton::WaitForDtr(10000, 0))
            << "the watcher did not raise DTR on the open port";
        ASSERT_TRUE(WaitUntil([&] { return Watcher()->IsWaitingOnPort(); }, 10000));
    }

    void TearDown() override { SetButton(false); }

    // Waits for count unmount orders in all, and checks that each server got
    // its share.
    void ExpectAlarms(size_t count) {
        EXPECT_TRUE(m_servers.WaitForEvents("unmount", count));
        QuietFor(kQuietMs);
        const auto unmounts = m_servers.Events("unmount");
        EXPECT_EQ(count, unmounts.size());
        std::multiset<std::string> where;
        for (const LogEvent& unmount : unmounts) {
            where.insert(unmount.where.substr(0, unmount.where.find(':')));
        }
        EXPECT_EQ(count / 2, where.count("127.0.0.111"));
        EXPECT_EQ(count / 2, where.count("127.0.0.112"));
    }

    KRVN::CountedPtr<ComPortWaiter> Watcher() { return m_manager.PortWatcher(); }

    std::wstring ComPort() {
        KRVN::unique_bstr name;
        EXPECT_EQ(S_OK, m_alarm->get_ComPort(name.put()));
        return name ? name.get() : L"<null>";
    }

    std::wstring m_portName;
    AlarmRegistry m_registry;
    SubstituteServerProcess m_servers;
    // The watcher's own reports; the passes and port changes report as well.
    RecordingReporter m_reporter{{MSG_PORT_FAILED, MSG_PORT_WORKS_AGAIN}};
    AlarmManager m_manager;
    KRVN::com_ptr<IQNAlarm> m_alarm;
    KRVN::com_ptr<IEstablishCommunications> m_links;
};

TEST_F(RedButtonTest, EachDsrChangeWithoutASinkIsOneAlarmPass) {
    SetButton(true);
    ExpectAlarms(2);
    SetButton(false);
    ExpectAlarms(4);
}

TEST_F(RedButtonTest, SinkAndFlagDecideWhereAPressGoes) {
    const auto first = MakeRedButtonRecorder();
    const auto second = MakeRedButtonRecorder();
    ASSERT_EQ(S_OK, m_links->Advise(first.get()));
    ASSERT_EQ(S_OK, m_links->Advise(second.get()));
    ASSERT_EQ(S_OK, m_links->SetSendRedButtonCallback(1));
    SetButton(true);
    EXPECT_TRUE(second->WaitForCalls(1));
    SetButton(false);
    EXPECT_TRUE(second->WaitForCalls(2));
    QuietFor(kQuietMs);
    EXPECT_EQ(2u, second->CallCount());
    EXPECT_EQ(0u, first->CallCount());
    EXPECT_TRUE(m_servers.Events("unmount").empty());

    // Any value but 1 clears the flag: presses are ignored.
    ASSERT_EQ(S_OK, m_links->SetSendRedButtonCallback(2));
    Click();
    QuietFor(kQuietMs);
    EXPECT_EQ(2u, second->CallCount());
    EXPECT_TRUE(m_servers.Events("unmount").empty());

    // Without a sink the flag does not matter. The release waits for the
    // press's alarm pass: the watcher re-arms only after it, and a line that
    // is back where it was by then shows no change.
    ASSERT_EQ(S_OK, m_links->SetSendRedButtonCallback(1));
    ASSERT_EQ(S_OK, m_links->Unadvise());
    SetButton(true);
    ExpectAlarms(2);
    SetButton(false);
    ExpectAlarms(4);
    EXPECT_EQ(2u, second->CallCount());
}

// A sink whose client never comes back from RedButtonPressed.
class HangingSink : public IRedButtonEvents {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IRedButtonEvents>>;

    HRESULT STDMETHODCALLTYPE RedButtonPressed() override {
        ++m_calls;
        ::WaitForSingleObject(m_release.get(), INFINITE);
        return S_OK;
    }

    long Calls() const { return m_calls.load(); }
    void LetGo() { m_release.SetEvent(); }

private:
    const KRVN::unique_event m_release = KRVN::unique_event::create();
    std::atomic<long> m_calls{0};
};

TEST_F(RedButtonTest, AClientStuckInItsSinkCannotHoldBackTheAlarm) {
    const auto sink = KRVN::com::ComObject<HangingSink>::Make();
    const auto release = KRVN::scope_exit([&sink] { sink->LetGo(); });
    ASSERT_EQ(S_OK, m_links->Advise(sink.get()));
    ASSERT_EQ(S_OK, m_links->SetSendRedButtonCallback(1));

    const ULONGLONG pressed = ::GetTickCount64();
    SetButton(true);
    EXPECT_TRUE(m_servers.WaitForEvents("unmount", 2, 5000));
    EXPECT_LT(::GetTickCount64() - pressed, ComPortWaiter::kSinkCallBoundMs + 1000);
    // While that call is stuck, the next press goes straight to the servers.
    ASSERT_TRUE(WaitUntil([&] { return Watcher()->IsWaitingOnPort(); }, 5000));
    SetButton(false);
    ExpectAlarms(4);
    EXPECT_EQ(1, sink->Calls());

    // Once the client answers again, its sink takes the presses.
    sink->LetGo();
    ASSERT_TRUE(WaitUntil([&] { return !Watcher()->IsSinkCallStuck(); }, 5000));
    const auto recorder = MakeRedButtonRecorder();
    ASSERT_EQ(S_OK, m_links->Advise(recorder.get()));
    Click();
    EXPECT_TRUE(recorder->WaitForCalls(2));
    QuietFor(kQuietMs);
    EXPECT_EQ(4u, m_servers.Events("unmount").size());
}

TEST_F(RedButtonTest, OnlyAChangedPortNameRestartsTheWatcher) {
    const unsigned thread = Watcher()->ThreadId();
    AlarmRegistry::DeleteComPort();
    ASSERT_EQ(S_OK, m_alarm->put_ComPort(KRVN::unique_bstr(m_portName.c_str()).get()));
    EXPECT_EQ(thread, Watcher()->ThreadId());
    EXPECT_TRUE(Watcher()->IsRunning());
    EXPECT_EQ(m_portName, AlarmRegistry::ComPort()); // stored again all the same

    std::wstring lower = m_portName;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(::towlower(c));
    }
    WatchPort(lower);
    EXPECT_NE(thread, Watcher()->ThreadId());
    EXPECT_EQ(lower, ComPort());
    EXPECT_EQ(lower, AlarmRegistry::ComPort());
    SetButton(true);
    ExpectAlarms(2);
}

TEST_F(RedButtonTest, AnEmptyPortEndsTheWatcherQuietly) {
    ASSERT_EQ(S_OK, m_alarm->put_ComPort(nullptr));
    EXPECT_TRUE(WaitUntil([&] { return !Watcher()->IsRunning(); }, 2000));
    DWORD exitCode = STILL_ACTIVE;
    ASSERT_TRUE(::GetExitCodeThread(Watcher()->Handle(), &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(L"", ComPort());
    EXPECT_EQ(L"", AlarmRegistry::ComPort());

    Click();
    QuietFor(kQuietMs);
    EXPECT_TRUE(m_servers.Events("unmount").empty());
    EXPECT_EQ(0u, m_reporter.CallCount());
}

// A port that does not exist yet: a COM port of the prefix without a link,
// which the test can point at the button's pty later.
class MissingPortTest : public RedButtonTest {
protected:
    static constexpr wchar_t kPort[] = L"COM8";

    void SetUp() override {
        RedButtonTest::SetUp();
        ASSERT_EQ(S_OK, m_alarm->put_ComPort(KRVN::unique_bstr(kPort).get()));
        ASSERT_TRUE(m_reporter.WaitForCalls(1, 2000)) << "no warning";
    }

    void TearDown() override {
        Unix({"rm", "-f", Link()});
        RedButtonTest::TearDown();
    }

    // The prefix's link for COM8, in the Unix file system.
    static std::string Link() { return Env("KRVN_WINEPREFIX") + "/dosdevices/com8"; }

    static void Unix(const std::vector<std::string>& arguments) {
        ASSERT_TRUE(RunUnix(arguments)) << arguments[0];
    }
};

TEST_F(MissingPortTest, IsReportedOnceAndTakenWhenItAppears) {
    const Event warning = m_reporter.Events()[0];
    EXPECT_EQ(EventType::Warning, warning.type);
    EXPECT_EQ(MSG_PORT_FAILED, warning.id);
    ASSERT_EQ(4u, warning.inserts.size());
    EXPECT_EQ(L"COM8", warning.inserts[0]);
    EXPECT_EQ(L"2", warning.inserts[1]);
    EXPECT_NE(L"unknown error", warning.inserts[2]);
    EXPECT_EQ(L"3", warning.inserts[3]);

    // Two more tries fail alike: nothing more is reported, and nothing alarms.
    QuietFor(2 * ComPortWaiter::kRetryMs + kQuietMs);
    EXPECT_TRUE(Watcher()->IsRunning());
    EXPECT_EQ(1u, m_reporter.CallCount());
    EXPECT_TRUE(m_servers.Events("unmount").empty());

    ASSERT_TRUE(VirtualButton::ForgetDtr());
    Unix({"ln", "-sfn", Env("KRVN_VBUTTON_DEVICE"), Link()});
    ASSERT_TRUE(m_reporter.WaitForCalls(2, ComPortWaiter::kRetryMs + 2000));
    const Event back = m_reporter.Events()[1];
    EXPECT_EQ(EventType::Information, back.type);
    EXPECT_EQ(MSG_PORT_WORKS_AGAIN, back.id);
    EXPECT_EQ(std::vector<std::wstring>{L"COM8"}, back.inserts);
    ASSERT_TRUE(VirtualButton::WaitForDtr(10000, 0));
    ASSERT_TRUE(WaitUntil([&] { return Watcher()->IsWaitingOnPort(); }, 10000));
    SetButton(true);
    ExpectAlarms(2);
}

TEST_F(MissingPortTest, ANewNameOrAStopEndsThePauseBetweenTries) {
    const ULONGLONG renamed = ::GetTickCount64();
    WatchPort(m_portName);
    EXPECT_LT(::GetTickCount64() - renamed, ComPortWaiter::kRetryMs);

    // A new name starts a new streak: its first failure is reported again.
    ASSERT_EQ(S_OK, m_alarm->put_ComPort(KRVN::unique_bstr(kPort).get()));
    ASSERT_TRUE(m_reporter.WaitForCalls(2, 2000));
    const ULONGLONG stopped = ::GetTickCount64();
    EXPECT_EQ(0, Watcher()->Stop(true));
    EXPECT_LT(::GetTickCount64() - stopped, 1000u);
    EXPECT_EQ(2u, m_reporter.CallCount());
}

// A copy of the substitute server named Alarm.exe in folder, running; it
// does not listen for the close request, so only an end can stop it.
class StandInDesktop {
public:
    explicit StandInDesktop(std::wstring folder)
        : m_folder(std::move(folder)), m_program(m_folder + L"\\Alarm.exe") {}
    ~StandInDesktop() {
        if (m_process) {
            ::TerminateProcess(m_process.get(), 1);
            ::WaitForSingleObject(m_process.get(), 5000);
        }
        ::DeleteFileW(m_program.c_str());
        ::DeleteFileW((m_folder + L"\\desktop.log").c_str());
        ::RemoveDirectoryW(m_folder.c_str());
    }

    bool Start() {
        ::CreateDirectoryW(m_folder.c_str(), nullptr);
        if (!::CopyFileW(KRVN_SUBSTITUTE_SERVER, m_program.c_str(), FALSE)) {
            return false;
        }
        std::wstring commandLine = L"\"" + m_program + L"\" --log \"" + m_folder +
                                   L"\\desktop.log\" --listen 127.0.0.119:0 --lifetime 60";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &info)) {
            return false;
        }
        m_process.reset(info.hProcess);
        const KRVN::unique_handle thread(info.hThread);
        return ::WaitForSingleObject(m_process.get(), 500) == WAIT_TIMEOUT;
    }
    HANDLE Process() const { return m_process.get(); }

private:
    std::wstring m_folder;
    std::wstring m_program;
    KRVN::unique_handle m_process;
};

TEST_F(RedButtonTest, ShutdownStopsTheWatcherAndEndsOnlyTheDesktopProgramOfItsOwnFolder) {
    // This test program's folder stands for the service's; a program of the
    // same name elsewhere is somebody else's.
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    StandInDesktop ours(DesktopProgram::ProgramFolder());
    StandInDesktop elsewhere(std::wstring(temp) + L"krvn-shutdown-" +
                             std::to_wstring(::GetCurrentProcessId()));
    ASSERT_TRUE(ours.Start());
    ASSERT_TRUE(elsewhere.Start());

    const ULONGLONG began = ::GetTickCount64();
    m_manager.Shutdown();
    // Asked first, and ended once its time to close is over.
    EXPECT_GE(::GetTickCount64() - began, DesktopProgram::kCloseBoundMs - 100);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(ours.Process(), 5000));
    DWORD exitCode = 0;
    ::GetExitCodeProcess(ours.Process(), &exitCode);
    EXPECT_EQ(DesktopProgram::kEndedExitCode, exitCode);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(elsewhere.Process(), 0));
    EXPECT_TRUE(WaitUntil([&] { return !Watcher()->IsRunning(); }, 2000));
    Click();
    QuietFor(kQuietMs);
    EXPECT_TRUE(m_servers.Events("unmount").empty());
}

// A failure on the press's way (here: the alarm pass could not be had) is
// reported, and the watcher goes on: the next press raises the alarm.
TEST(RedButtonWatcher, AFailureOnThePressPathIsReportedAndTheWatcherGoesOn) {
    SetButton(false);
    ASSERT_TRUE(VirtualButton::ForgetDtr());
    std::atomic<int> presses{0};
    RecordingReporter reporter({MSG_THREAD_FAULT});
    const KRVN::CountedPtr<ComPortWaiter> watcher(new ComPortWaiter(
        VirtualButton::Port(),
        [&](const AlarmSource&) {
            if (presses++ == 0) {
                throw std::bad_alloc();
            }
        },
        reporter));
    watcher->Start(nullptr, 0, false);
    ASSERT_TRUE(VirtualButton::WaitForDtr(10000));
    ASSERT_TRUE(WaitUntil([&] { return watcher->IsWaitingOnPort(); }, 10000));

    SetButton(true);
    ASSERT_TRUE(reporter.WaitForCalls(1, 5000));
    EXPECT_EQ((std::vector<std::wstring>{L"red-button watcher", L"0x8007000e"}),
              reporter.Events()[0].inserts);
    ASSERT_TRUE(WaitUntil([&] { return watcher->IsWaitingOnPort(); }, 5000));
    SetButton(false);
    EXPECT_TRUE(WaitUntil([&] { return presses == 2; }, 5000));
    EXPECT_TRUE(watcher->IsRunning());
    watcher->Stop(true);
}

TEST(QNAlarmClass, AnswersItsInterfacesAndRefusesAggregation) {
    AlarmRegistry registry;
    AlarmManager manager;
    const auto alarm = KRVN::com::ComObject<QNAlarm>::Make(manager);
    const auto errorInfo = alarm.query<ISupportErrorInfo>();
    EXPECT_EQ(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID_IQNAlarm));
    EXPECT_EQ(S_FALSE, errorInfo->InterfaceSupportsErrorInfo(IID_IEstablishCommunications));
    EXPECT_TRUE(alarm.try_query<IEstablishCommunications>());
    EXPECT_TRUE(alarm.try_query<IDispatch>());
    EXPECT_FALSE(alarm.try_query<IQNServers>());

    // Before the manager starts there is no port and nothing to watch.
    KRVN::unique_bstr name;
    ASSERT_EQ(S_OK, alarm->get_ComPort(name.put()));
    ASSERT_TRUE(name);
    EXPECT_EQ(0u, name.length());

    const auto factory = KRVN::com::ClassFactory<QNAlarm>::Make();
    const auto outer = MakeRedButtonRecorder();
    KRVN::com_ptr<IUnknown> inner;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(outer.get(), IID_IUnknown, inner.put_void()));
}

} // namespace
} // namespace krvn_test
