// An alarm pass's events out of process: the plain local server prints each
// event on its console, formatted from the message table that Tolvane.exe
// carries (Wine's event log keeps nothing that can be read back).

#include <windows.h>

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/e2e/service/button_service_test.h"
#include "tests/e2e/service/disk_server.h"
#include "tests/e2e/service/program_run.h"
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

} // namespace
} // namespace krvn_e2e
