// The server entry's choice of transport, against one substitute server that
// offers the TCP listener and the RPC interface (or only one of them).

#include <gtest/gtest.h>

#include <winsock2.h>

#include <thread>

#include "config/counted_ptr.h"
#include "connections/connector_holder.h"
#include "tests/support/scripted_alarm_server.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/wait.h"
#include "tests/unit/connections/refusing_port.h"
#include "tests/unit/connections/test_environment.h"

namespace krvn_test {
namespace {

class ConnectorHolderTest : public ::testing::Test {
protected:
    SubstituteServerProcess m_server;
};

TEST_F(ConnectorHolderTest, NeverProbedServerReadsMinusOne) {
    const auto object = MakeServerObject(L"127.0.0.1", L"secret", 0);
    ConnectorHolder holder(object.get());
    EXPECT_EQ(ConnectorHolder::kNeverProbed, holder.GetStateCode());
    EXPECT_EQ(L"127.0.0.1", holder.GetAddress());
    EXPECT_EQ(object.get(), holder.GetServer().get());
}

TEST_F(ConnectorHolderTest, PortZeroUsesOnlyRpc) {
    ASSERT_TRUE(m_server.Start(L"--rpc --password secret --listen 127.0.0.1:0"));
    const auto object = MakeServerObject(L"127.0.0.1", L"secret", 0);
    ConnectorHolder holder(object.get());

    EXPECT_EQ(0, holder.Check());
    EXPECT_EQ(0, holder.GetStateCode());
    EXPECT_EQ(0, holder.SendAlarm());
    EXPECT_EQ(2u, m_server.Events("RemoteOpen").size());
    EXPECT_EQ(1u, m_server.Events("RemoteClose").size());
    EXPECT_EQ(1u, m_server.Events("RemoteAlarm").size());
    EXPECT_TRUE(m_server.Events("connected").empty());
}

TEST_F(ConnectorHolderTest, ProbeOfAnOpenSocketSendsNothing) {
    ASSERT_TRUE(m_server.Start(L"--rpc --password secret --listen 127.0.0.1:0"));
    const auto object = MakeServerObject(L"127.0.0.1", L"secret", m_server.Port());
    ConnectorHolder holder(object.get());

    EXPECT_EQ(0, holder.Check());
    EXPECT_EQ(0, holder.Check());
    EXPECT_EQ(0, holder.GetStateCode());
    EXPECT_EQ(1u, m_server.Events("connected").size());
    EXPECT_EQ(1u, m_server.Events("password").size());
    EXPECT_TRUE(m_server.Events("RemoteOpen").empty());

    EXPECT_EQ(0, holder.SendAlarm());
    EXPECT_TRUE(m_server.WaitForEvents("unmount", 1));
    EXPECT_TRUE(m_server.Events("RemoteOpen").empty());
}

TEST_F(ConnectorHolderTest, FailedSocketProbeStoresTheSocketErrorAfterAnRpcProbe) {
    ASSERT_TRUE(m_server.Start(L"--rpc --password secret"));
    RefusingPort refusing;
    const auto object = MakeServerObject(L"127.0.0.1", L"secret", refusing.Port());
    ConnectorHolder holder(object.get());

    EXPECT_EQ(WSAECONNREFUSED, holder.Check());
    EXPECT_EQ(WSAECONNREFUSED, holder.GetStateCode());
    EXPECT_EQ(1u, m_server.Events("RemoteOpen").size());
    EXPECT_EQ(1u, m_server.Events("RemoteClose").size());

    // The alarm falls back to RPC and succeeds there.
    EXPECT_EQ(0, holder.SendAlarm());
    EXPECT_EQ(1u, m_server.Events("RemoteAlarm").size());
    EXPECT_EQ(WSAECONNREFUSED, holder.GetStateCode());
}

TEST_F(ConnectorHolderTest, RefusedPasswordStoresItsCodeAfterAnRpcProbe) {
    ASSERT_TRUE(m_server.Start(L"--rpc --password secret --listen 127.0.0.1:0 --refuse"));
    const auto object = MakeServerObject(L"127.0.0.1", L"secret", m_server.Port());
    ConnectorHolder holder(object.get());

    EXPECT_EQ(SocketConnector::kPasswordRefused, holder.Check());
    EXPECT_EQ(SocketConnector::kPasswordRefused, holder.GetStateCode());
    EXPECT_EQ(1u, m_server.Events("RemoteOpen").size());
}

TEST_F(ConnectorHolderTest, BothTransportsFailingGiveTheSocketsCode) {
    RefusingPort refusing;
    const auto object = MakeServerObject(L"127.0.0.1", L"secret", refusing.Port());
    ConnectorHolder holder(object.get());

    EXPECT_EQ(WSAECONNREFUSED, holder.Check());
    // The connection is refused again, and RPC finds nobody.
    EXPECT_EQ(WSAECONNREFUSED, holder.SendAlarm());
}

// A server whose TCP worked comes back taking connections but never
// answering the handshake: the order must not spend its whole bound on the
// reconnection before RPC, which reaches the server, is tried.
TEST_F(ConnectorHolderTest, AnOrderWhoseReconnectionHangsGoesOverRpcWithinItsBound) {
    ASSERT_TRUE(m_server.Start(L"--rpc --password secret"));
    ScriptedAlarmServer tcp;
    ASSERT_TRUE(tcp.Start("127.0.0.1"));
    const auto object = MakeServerObject(L"127.0.0.1", L"secret", tcp.Port());
    ConnectorHolder holder(object.get());
    ASSERT_EQ(0, holder.Check());
    tcp.SetScript({0, "", "", 0});
    tcp.CloseConnections();
    ASSERT_TRUE(WaitUntil([&] { return !holder.SocketTransport().IsConnected(); }));

    const ULONGLONG began = ::GetTickCount64();
    AlarmTransport transport = AlarmTransport::Tcp;
    EXPECT_EQ(0, holder.SendAlarm(&transport, DeadlineAfter(10000)));
    EXPECT_LT(::GetTickCount64() - began, ConnectorHolder::kRpcHeadStartMs + 3000);
    EXPECT_EQ(AlarmTransport::TcpThenRpc, transport);
    EXPECT_EQ(1u, m_server.Events("RemoteAlarm").size());
}

TEST_F(ConnectorHolderTest, PortChangesTakeEffectAtTheNextProbe) {
    ASSERT_TRUE(m_server.Start(L"--rpc --password secret --listen 127.0.0.1:0"));
    const auto object = MakeServerObject(L"127.0.0.1", L"secret", 0);
    ConnectorHolder holder(object.get());
    EXPECT_EQ(0, holder.Check());
    EXPECT_TRUE(m_server.Events("connected").empty());

    object->put_Port(m_server.Port());
    EXPECT_EQ(0, holder.Check());
    EXPECT_EQ(1u, m_server.Events("connected").size());
    EXPECT_EQ(1u, m_server.Events("RemoteOpen").size());
}

TEST_F(ConnectorHolderTest, SharedEntryTakesProbesAndAlarmsFromTwoThreads) {
    ASSERT_TRUE(m_server.Start(L"--rpc --password secret --listen 127.0.0.1:0 --close-after 50"));
    const auto object = MakeServerObject(L"127.0.0.1", L"secret", m_server.Port());
    const KRVN::CountedPtr<ConnectorHolder> entry(new ConnectorHolder(object.get()));

    // The server drops each connection soon after its handshake, so probes
    // reconnect while alarms run. An alarm may go out on the socket or, when
    // that is down, over RPC; it must never land inside a handshake.
    constexpr int kRounds = 20;
    int alarmFailures = 0;
    std::thread prober([entry] {
        for (int i = 0; i < kRounds; ++i) {
            entry->Check();
            PauseFor(30);
        }
    });
    std::thread alarmer([entry, &alarmFailures] {
        for (int i = 0; i < kRounds; ++i) {
            alarmFailures += entry->SendAlarm() != 0;
            PauseFor(25);
        }
    });
    prober.join();
    alarmer.join();
    EXPECT_EQ(0, alarmFailures);
    const auto passwords = m_server.Events("password");
    EXPECT_GE(passwords.size(), 2u);
    for (const LogEvent& password : passwords) {
        EXPECT_EQ("7073773d736563726574", password.Field("bytes"));
    }
    EXPECT_TRUE(m_server.Events("data").empty());
    EXPECT_EQ(1, entry.UseCount());
}

} // namespace
} // namespace krvn_test
