// The connection checker's ticks and notifications, with the check period
// taken from the registry, against substitute disk servers.

#include <gtest/gtest.h>

#include <winsock2.h>

#include "connections/unique_socket.h"
#include "service/alarm_manager.h"
#include "tests/support/substitute_server_process.h"
#include "tests/unit/connections/test_environment.h"
#include "tests/unit/service/service_test_support.h"

namespace krvn_test {
namespace {

constexpr DWORD kPeriodSeconds = 1;
// Long enough for two ticks.
constexpr DWORD kTwoTicksMs = 2 * kPeriodSeconds * 1000 + 500;

class ConnectCheckerTest : public ::testing::Test {
protected:
    void SetUp() override { AlarmRegistry::SetCheckDelay(kPeriodSeconds); }

    void List(const wchar_t* address, const SubstituteServerProcess& server) {
        m_manager.AddServer(MakeServerObject(address, L"sock", server.Port()).get());
    }

    void StartWithSink() {
        m_manager.SetChangeIconSink(m_sink.get());
        m_manager.Start(m_reporter);
    }

    void ExpectCall(size_t index, LONG state, const std::wstring& addresses) {
        ASSERT_TRUE(m_sink->WaitForCalls(index + 1)) << "call " << index;
        const ChangeIconCall call = m_sink->Calls()[index];
        EXPECT_EQ(state, call.state) << "call " << index;
        EXPECT_EQ(addresses, call.addresses) << "call " << index;
    }

    AlarmRegistry m_registry;
    KRVN::com_ptr<ChangeIconRecorder> m_sink = MakeChangeIconRecorder();
    RecordingReporter m_reporter;
    AlarmManager m_manager;
};

TEST_F(ConnectCheckerTest, EmptyListNotifiesNoneConnectOnce) {
    StartWithSink();
    ExpectCall(0, NoneConnect, L"");
    QuietFor(kTwoTicksMs);
    EXPECT_EQ(1u, m_sink->CallCount());
    EXPECT_EQ(NoneConnect, m_manager.CurrentState());
}

TEST_F(ConnectCheckerTest, LostAndReturningServersAreReportedWhileTheStateStays) {
    SubstituteServerProcess a;
    SubstituteServerProcess c;
    ASSERT_TRUE(a.Start(L"--password sock --listen 127.0.0.71:0"));
    ASSERT_TRUE(c.Start(L"--password sock --listen 127.0.0.73:0"));
    const std::uint16_t cPort = c.Port();
    List(L"127.0.0.71", a);
    List(L"127.0.0.73", c);
    // Never answers: the state can only be SomeConnected from here on.
    m_manager.AddServer(MakeServerObject(L"127.0.0.72", L"sock", 9).get());

    StartWithSink();
    ExpectCall(0, SomeConnected, L"");

    ASSERT_TRUE(c.Stop());
    ExpectCall(1, SomeConnected, L"127.0.0.73\n");

    SubstituteServerProcess again;
    ASSERT_TRUE(again.Start(L"--password sock --listen 127.0.0.73:" + std::to_wstring(cPort)));
    ExpectCall(2, SomeConnected, L"");

    // Nothing changes any more: the ticks go on silently.
    QuietFor(kTwoTicksMs);
    EXPECT_EQ(3u, m_sink->CallCount());
    // An open connection is not probed again.
    EXPECT_EQ(1u, a.Events("connected").size());
    EXPECT_EQ(1u, again.Events("connected").size());
}

TEST_F(ConnectCheckerTest, ServersLostInOneTickAreListedInListOrder) {
    AlarmRegistry::SetCheckDelay(3600); // the test makes the ticks itself
    SubstituteServerProcess lost;
    SubstituteServerProcess stays;
    ASSERT_TRUE(lost.Start(L"--password sock --listen 127.0.0.81-127.0.0.83:0"));
    ASSERT_TRUE(stays.Start(L"--password sock --listen 127.0.0.82:0"));
    List(L"127.0.0.83", lost);
    List(L"127.0.0.82", stays);
    List(L"127.0.0.81", lost);

    StartWithSink();
    ExpectCall(0, AllConnected, L"");
    ASSERT_TRUE(lost.Stop());
    ASSERT_TRUE(WaitUntil([&] {
        int open = 0;
        for (const auto& [key, entry] : m_manager.Servers()) {
            open += entry->SocketTransport().IsConnected();
        }
        return open == 1;
    }));

    // A restart ticks at once.
    m_manager.RemoveServer(L"127.0.0.84");
    ExpectCall(1, SomeConnected, L"127.0.0.81\n127.0.0.83\n");
}

TEST_F(ConnectCheckerTest, TicksWithoutASinkStillUpdateTheStates) {
    SubstituteServerProcess server;
    ASSERT_TRUE(server.Start(L"--password sock --listen 127.0.0.91:0"));
    const auto object = MakeServerObject(L"127.0.0.91", L"sock", server.Port());
    m_manager.AddServer(object.get());
    m_manager.Start(m_reporter);

    LONG code = -1;
    EXPECT_TRUE(WaitUntil([&] { return object->get_StateCode(&code) == S_OK && code == 0; }));
    EXPECT_TRUE(WaitUntil([&] { return m_manager.CurrentState() == AllConnected; }));

    // Only a later tick can see this; the default period would be a minute.
    ASSERT_TRUE(server.Stop());
    EXPECT_TRUE(WaitUntil([&] { return object->get_StateCode(&code) == S_OK && code != 0; },
                          kTwoTicksMs + 2000));
    EXPECT_EQ(WSAECONNREFUSED, code);
    EXPECT_TRUE(WaitUntil([&] { return m_manager.CurrentState() == AllDisconnected; }));
}

} // namespace
} // namespace krvn_test
