// An alarm pass's events and a red-button test's out of process: the plain
// local server prints each event on its console, formatted from the message
// table that Tolvane.exe carries (Wine's event log keeps nothing that can be
// read back).

#include <windows.h>

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

// A living client's sink: it fails every press with result, or, with none,
// sits on each press until it is let go.
class TestSink : public IRedButtonEvents {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IRedButtonEvents>>;

    explicit TestSink(HRESULT result = S_OK) : m_result(result) {}

    HRESULT STDMETHODCALLTYPE RedButtonPressed() override {
        if (m_result == S_OK) {
            ::WaitForSingleObject(m_release.get(), 30000);
        }
        return m_result;
    }
    void LetGo() { m_release.SetEvent(); }

private:
    const HRESULT m_result;
    const KRVN::unique_event m_release = KRVN::unique_event::create();
};

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

    // Forwarded, then ignored with the flag clear; taken over; let go.
    const auto first = KRVN::com::ComObject<RedButtonRecorder>::Make();
    ASSERT_EQ(S_OK, links->Advise(first.get()));
    ASSERT_EQ(S_OK, links->SetSendRedButtonCallback(1));
    ASSERT_TRUE(toggle());
    ASSERT_TRUE(first->WaitForPresses(1, kWaitMs));
    ASSERT_EQ(S_OK, links->SetSendRedButtonCallback(0));
    ASSERT_TRUE(toggle());
    krvn_test::QuietFor(1000);
    EXPECT_TRUE(disk.Events("unmount").empty());
    ASSERT_EQ(S_OK, links->Advise(KRVN::com::ComObject<RedButtonRecorder>::Make().get()));
    ASSERT_EQ(S_OK, links->Unadvise());

    // A client that cannot be reached, one stuck in its call, one whose
    // process ended with its sink stored: each press alarms.
    const auto gone =
        KRVN::com::ComObject<TestSink>::Make(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    ASSERT_EQ(S_OK, links->Advise(gone.get()));
    ASSERT_EQ(S_OK, links->SetSendRedButtonCallback(1));
    ASSERT_TRUE(toggle());
    ASSERT_TRUE(disk.WaitForEvents("unmount", 1, kWaitMs));
    const auto stuck = KRVN::com::ComObject<TestSink>::Make();
    const auto letGo = KRVN::scope_exit([&stuck] { stuck->LetGo(); });
    ASSERT_EQ(S_OK, links->Advise(stuck.get()));
    ASSERT_TRUE(toggle());
    ASSERT_TRUE(disk.WaitForEvents("unmount", 2, kWaitMs));
    stuck->LetGo();
    // The sink client advises with presses forwarded, lives a second, ends.
    const KRVN::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, L"krvn-events-sink"));
    const ProgramResult client =
        RunProgram(std::wstring(L"\"") + KRVN_SINK_CLIENT + L"\" krvn-events-sink 1 1", 30000);
    ASSERT_EQ(0u, client.exitCode) << client.output;
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
        "ended: " + us,
        "took the button over.",
        "ended: " + us,
        "let the button go. Presses raise the alarm again.",
        "ended: the program cannot be reached (error 0x800706ba). Presses raise the alarm "
        "again, this one on " +
            port + " included.",
        "did not answer a press on " + port + " within 2000 ms.",
        "Red-button test began: sink_client.exe (process ",
        "ended: its process has ended. Presses raise the alarm again, this one on " + port};
    size_t at = 0;
    for (const std::string& text : lines) {
        const size_t found = run.output.find(text, at);
        ASSERT_NE(std::string::npos, found) << text << "\n" << run.output;
        at = found + text.size();
    }
}

} // namespace
} // namespace krvn_e2e
