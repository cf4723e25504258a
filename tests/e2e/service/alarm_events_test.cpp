// An alarm pass's events and a red-button test's out of process: the plain
// local server prints each event on its console, formatted from the message
// table that Tolvane.exe carries (Wine's event log keeps nothing that can be
// read back).

#include <windows.h>

#include <atomic>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "com/com_object.h"
#include "com/interface_map.h"
#include "common/unique_handle.h"
#include "tests/e2e/service/button_service_test.h"
#include "tests/e2e/service/disk_server.h"
#include "tests/e2e/service/program_run.h"
#include "tests/e2e/service/red_button_recorder.h"
#include "tests/support/substitute_server_process.h"

namespace krvn_e2e {
namespace {

using ::testing::HasSubstr;

constexpr DWORD kWaitMs = 10000;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::string ProgramFileName() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full = path;
    return Narrow(full.substr(full.find_last_of(L"\\/") + 1));
}

using AlarmEventsTest = ButtonServiceTest;

TEST_F(AlarmEventsTest, AClientsAlarmPrintsItsStartEachServerAndTheSummary) {
    SubstituteServerProcess tcp;
    SubstituteServerProcess rpc;
    ASSERT_TRUE(tcp.Start(Listen(L"127.0.0.4")));
    ASSERT_TRUE(rpc.Start(std::wstring(L"--rpc") + kSubstituteOptions));
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    ASSERT_TRUE(StartPlainServer());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.4", tcp)));
    ASSERT_EQ(S_OK, m_client.Add({L"127.0.0.5", kPassword, 0}));
    // Wine's pipes ignore the address: the RPC server refuses this password.
    ASSERT_EQ(S_OK, m_client.Add({L"127.0.0.6", L"wrong-pw", 0}));

    EXPECT_EQ(static_cast<HRESULT>(-1), m_client.Servers()->SendAlarm());
    EXPECT_TRUE(tcp.WaitForEvents("unmount", 1, kWaitMs));

    for (const wchar_t* address : {L"127.0.0.4", L"127.0.0.5", L"127.0.0.6"}) {
        EXPECT_EQ(S_OK, m_client.Remove(address));
    }
    const ProgramResult run = EndPlainServer();
    EXPECT_TRUE(run.finished);

    // In order: the start with its caller, the open connection's order, the
    // workers' in list order, the summary.
    const std::string start = "Alarm 1: raised by the program " + ProgramFileName() + " (process " +
                              std::to_string(::GetCurrentProcessId()) + ") run by ";
    const std::string lines[] = {start,
                                 "Alarm 1: the unmount order to 127.0.0.4 went out over TCP after ",
                                 "Alarm 1: the unmount order to 127.0.0.5 went out over RPC after ",
                                 "Alarm 1: the unmount order to 127.0.0.6 failed over RPC after ",
                                 "Alarm 1 finished: 2 sent, 1 failed, "};
    size_t at = 0;
    for (const std::string& line : lines) {
        const size_t found = run.output.find(line, at);
        ASSERT_NE(std::string::npos, found) << line << "\n" << run.output;
        at = found + line.size();
    }
    const size_t startEnd = run.output.find('\n', run.output.find(start));
    EXPECT_THAT(run.output.substr(0, startEnd), HasSubstr(". Unmount orders go to 3 servers."));
    EXPECT_THAT(run.output, HasSubstr(" ms: error 1326 (Logon failure"));
    EXPECT_THAT(run.output, HasSubstr("Server 127.0.0.5 (RPC) was added to the alarm list by "));
    EXPECT_THAT(run.output, HasSubstr("Server 127.0.0.6 was removed from the alarm list by "));
    EXPECT_EQ(std::string::npos, run.output.find(Narrow(kPassword))) << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("wrong-pw")) << run.output;
}

// A living client's sink that answers every press with one failure.
class FailingSink : public IRedButtonEvents {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IRedButtonEvents>>;

    explicit FailingSink(HRESULT result) : m_result(result) {}

    HRESULT STDMETHODCALLTYPE RedButtonPressed() override { return m_result; }

private:
    const HRESULT m_result;
};

// A sink that sits on each press until it is let go.
class HangingSink : public IRedButtonEvents {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IRedButtonEvents>>;

    HRESULT STDMETHODCALLTYPE RedButtonPressed() override {
        ::WaitForSingleObject(m_release.get(), 30000);
        return S_OK;
    }

    void LetGo() { m_release.SetEvent(); }

private:
    const KRVN::unique_event m_release = KRVN::unique_event::create();
};

// The sink client program: it advises a sink of its own with presses
// forwarded and ends by itself a second later, its sink still stored. The
// process, once it is ready.
KRVN::unique_handle StartShortLivedSinkClient() {
    const std::wstring eventName = L"krvn-events-sink-" + std::to_wstring(::GetCurrentProcessId());
    const KRVN::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    std::wstring commandLine =
        std::wstring(L"\"") + KRVN_SINK_CLIENT + L"\" " + eventName + L" 1 1";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!ready || !::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                    nullptr, nullptr, &startup, &info)) {
        return {};
    }
    KRVN::unique_handle process(info.hProcess);
    const KRVN::unique_handle thread(info.hThread);
    const HANDLE handles[] = {ready.get(), process.get()};
    if (::WaitForMultipleObjects(2, handles, FALSE, 30000) != WAIT_OBJECT_0) {
        return {};
    }
    return process;
}

TEST_F(AlarmEventsTest, AButtonTestPrintsItsStartItsPressesAndEachWayItEnds) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.8")));
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    ASSERT_TRUE(StartPlainServer());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.8", disk)));
    IEstablishCommunications* const links = m_client.Communications();
    bool pressed = false;
    // One change of the line, once the one before took effect.
    const auto toggle = [&pressed] {
        krvn_test::SettleFor(kLineSettleMs);
        pressed = !pressed;
        return pressed ? VirtualButton::Press() : VirtualButton::Release();
    };

    // Forwarded, then ignored with the flag clear: no alarm.
    const auto first = KRVN::com::ComObject<RedButtonRecorder>::Make();
    ASSERT_EQ(S_OK, links->Advise(first.get()));
    ASSERT_EQ(S_OK, links->SetSendRedButtonCallback(1));
    ASSERT_TRUE(toggle());
    ASSERT_TRUE(first->WaitForPresses(1, kWaitMs));
    ASSERT_EQ(S_OK, links->SetSendRedButtonCallback(0));
    ASSERT_TRUE(toggle());
    krvn_test::QuietFor(1000);
    EXPECT_EQ(1, first->Presses());
    EXPECT_TRUE(disk.Events("unmount").empty());

    // Taken over by another sink, which is let go.
    const auto second = KRVN::com::ComObject<RedButtonRecorder>::Make();
    ASSERT_EQ(S_OK, links->Advise(second.get()));
    ASSERT_EQ(S_OK, links->Unadvise());

    // A client that cannot be reached, and one stuck in its call: the
    // presses alarm.
    const auto gone =
        KRVN::com::ComObject<FailingSink>::Make(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    ASSERT_EQ(S_OK, links->Advise(gone.get()));
    ASSERT_EQ(S_OK, links->SetSendRedButtonCallback(1));
    ASSERT_TRUE(toggle());
    ASSERT_TRUE(disk.WaitForEvents("unmount", 1, kWaitMs));
    const auto hanging = KRVN::com::ComObject<HangingSink>::Make();
    const auto letGo = KRVN::scope_exit([&hanging] { hanging->LetGo(); });
    ASSERT_EQ(S_OK, links->Advise(hanging.get()));
    ASSERT_TRUE(toggle());
    ASSERT_TRUE(disk.WaitForEvents("unmount", 2, kWaitMs));
    hanging->LetGo();
    ASSERT_EQ(S_OK, links->Unadvise());

    // A client whose process ended with its sink stored.
    const KRVN::unique_handle client = StartShortLivedSinkClient();
    ASSERT_TRUE(client) << "the sink client did not start";
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(client.get(), 30000));
    ASSERT_TRUE(toggle());
    ASSERT_TRUE(disk.WaitForEvents("unmount", 3, kWaitMs));

    EXPECT_EQ(S_OK, m_client.Remove(L"127.0.0.8"));
    const ProgramResult run = EndPlainServer();
    EXPECT_TRUE(run.finished);

    const std::string us =
        ProgramFileName() + " (process " + std::to_string(::GetCurrentProcessId()) + ") run by ";
    const std::wstring wide = VirtualButton::Port();
    const std::string port(wide.begin(), wide.end());
    const std::string lines[] = {
        "Red-button test began: " + us,
        "A press on " + port + " went to the red-button test of " + us,
        "A press on " + port + " was ignored: the red-button test of " + us,
        "Red-button test of " + us,
        "ended: " + us,
        "took the button over.",
        "Red-button test began: " + us,
        "Red-button test of " + us,
        "ended: " + us,
        "let the button go. Presses raise the alarm again.",
        "Red-button test began: " + us,
        "Red-button test of " + us,
        "ended: the program cannot be reached (error 0x800706ba). Presses raise the alarm "
        "again, this one on " +
            port + " included.",
        "Red-button test began: " + us,
        "Red-button test of " + us,
        "did not answer a press on " + port + " within 2000 ms.",
        "let the button go.",
        "Red-button test began: sink_client.exe (process ",
        "Red-button test of sink_client.exe (process ",
        "ended: its process has ended. Presses raise the alarm again, this one on " + port +
            " included."};
    size_t at = 0;
    for (const std::string& line : lines) {
        const size_t found = run.output.find(line, at);
        ASSERT_NE(std::string::npos, found) << line << "\n" << run.output;
        at = found + line.size();
    }
    // Only the presses the tests held back raised no alarm.
    const std::string button = "the red button on " + port + " was pressed";
    size_t passes = 0;
    for (size_t found = run.output.find(button); found != std::string::npos;
         found = run.output.find(button, found + 1)) {
        ++passes;
    }
    EXPECT_EQ(3u, passes) << run.output;
}

} // namespace
} // namespace krvn_e2e
