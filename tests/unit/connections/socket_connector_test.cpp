// The socket transport against the substitute server on loopback.

#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "com/bstr.h"
#include "connections/socket_connector.h"
#include "connections/unique_socket.h"
#include "tests/support/scripted_alarm_server.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/wait.h"
#include "tests/unit/connections/test_environment.h"

namespace krvn_test {
namespace {

const std::string kSecretBytes = "7073773d736563726574"; // "psw=secret"

// Polls until the connector's close watcher has ended.
bool WaitUntilDisconnected(SocketConnector& connector, DWORD timeoutMs = 5000) {
    return WaitUntil([&] { return !connector.IsConnected(); }, timeoutMs, 20);
}

class SocketConnectorTest : public ::testing::Test {
protected:
    // A server on 127.0.0.1 (port chosen by the system) with these options.
    void StartServer(const std::wstring& options) {
        ASSERT_TRUE(m_server.Start(L"--listen 127.0.0.1:0 --password secret " + options));
        m_object = MakeServerObject(L"127.0.0.1", L"secret", m_server.Port());
    }

    SubstituteServerProcess m_server;
    KRVN::com_ptr<IQNServer> m_object;
};

TEST_F(SocketConnectorTest, AcceptedPasswordKeepsTheConnectionWatched) {
    StartServer(L"");
    SocketConnector connector(m_object.get());
    EXPECT_FALSE(connector.IsConnected());

    ASSERT_EQ(0, connector.Connect());
    EXPECT_TRUE(connector.IsConnected());
    const auto passwords = m_server.Events("password");
    ASSERT_EQ(1u, passwords.size());
    EXPECT_EQ(kSecretBytes, passwords[0].Field("bytes"));
    EXPECT_EQ("accepted", passwords[0].Field("result"));

    // The connection stays open with no further traffic.
    QuietFor(300);
    EXPECT_TRUE(connector.IsConnected());
    EXPECT_TRUE(m_server.Events("closed").empty());
    EXPECT_TRUE(m_server.Events("data").empty());
}

TEST_F(SocketConnectorTest, ReplyWithALineEndIsAccepted) {
    StartServer(L"--reply yes-crlf");
    SocketConnector connector(m_object.get());
    EXPECT_EQ(0, connector.Connect());
    EXPECT_TRUE(connector.IsConnected());
}

// Replies that do not begin with "yes" in the first receive: the password
// counts as refused and the client closes its socket.
class RefusedHandshakeTest : public SocketConnectorTest,
                             public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(RefusedHandshakeTest, GivesPasswordRefusedAndClosesTheSocket) {
    StartServer(GetParam());
    SocketConnector connector(m_object.get());
    EXPECT_EQ(SocketConnector::kPasswordRefused, connector.Connect());
    EXPECT_FALSE(connector.IsConnected());
    ASSERT_TRUE(m_server.WaitForEvents("closed", 1));
    // An alarm has no connection to go out on.
    EXPECT_NE(0, connector.SendAlarm());
    QuietFor(200);
    EXPECT_TRUE(m_server.Events("unmount").empty());
}

INSTANTIATE_TEST_SUITE_P(Replies, RefusedHandshakeTest,
                         ::testing::Values(L"--refuse", L"--reply YES", L"--reply ye",
                                           L"--reply none", L"--reply split"));

TEST_F(SocketConnectorTest, WrongPasswordIsRefused) {
    StartServer(L"");
    const auto object = MakeServerObject(L"127.0.0.1", L"Secret", m_server.Port());
    SocketConnector connector(object.get());
    EXPECT_EQ(SocketConnector::kPasswordRefused, connector.Connect());
    ASSERT_TRUE(m_server.WaitForEvents("closed", 1));
    EXPECT_EQ("client", m_server.Events("closed")[0].Field("by"));
}

TEST_F(SocketConnectorTest, SplitReplyIsRefusedBecauseTheClientReceivesOnce) {
    StartServer(L"--reply split");
    SocketConnector connector(m_object.get());
    EXPECT_EQ(SocketConnector::kPasswordRefused, connector.Connect());
    // The client hung up after "y", before the server sent the rest.
    ASSERT_TRUE(m_server.WaitForEvents("closed", 1));
    EXPECT_EQ("client", m_server.Events("closed")[0].Field("by"));
}

TEST_F(SocketConnectorTest, RefusedConnectionGivesTheWinsockError) {
    // A bound socket that does not listen: its port refuses connections.
    unique_socket placeholder(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::bind(placeholder.get(), reinterpret_cast<sockaddr*>(&address), sizeof address));
    int length = sizeof address;
    ::getsockname(placeholder.get(), reinterpret_cast<sockaddr*>(&address), &length);

    const auto object = MakeServerObject(L"127.0.0.1", L"secret", ntohs(address.sin_port));
    SocketConnector connector(object.get());
    EXPECT_EQ(WSAECONNREFUSED, connector.Connect());
    EXPECT_FALSE(connector.IsConnected());
}

TEST_F(SocketConnectorTest, ServerClosingTheConnectionEndsTheWatcherAndTheNextProbeReconnects) {
    StartServer(L"--close-after 300");
    SocketConnector connector(m_object.get());
    ASSERT_EQ(0, connector.Connect());
    ASSERT_TRUE(WaitUntilDisconnected(connector));

    ASSERT_EQ(0, connector.Connect());
    const auto passwords = m_server.Events("password");
    ASSERT_EQ(2u, passwords.size());
    EXPECT_NE(passwords[0].Field("conn"), passwords[1].Field("conn"));
    EXPECT_EQ(kSecretBytes, passwords[1].Field("bytes"));
}

TEST_F(SocketConnectorTest, ServerResettingTheConnectionEndsTheWatcher) {
    StartServer(L"--reset-after 300");
    SocketConnector connector(m_object.get());
    ASSERT_EQ(0, connector.Connect());
    ASSERT_TRUE(m_server.WaitForEvents("reset", 1));
    EXPECT_TRUE(WaitUntilDisconnected(connector));
}

TEST_F(SocketConnectorTest, EmptyPasswordSendsOnlyThePrefix) {
    ASSERT_TRUE(m_server.Start(L"--listen 127.0.0.1:0"));
    const auto object = MakeServerObject(L"127.0.0.1", nullptr, m_server.Port());
    SocketConnector connector(object.get());
    EXPECT_EQ(0, connector.Connect());
    const auto passwords = m_server.Events("password");
    ASSERT_EQ(1u, passwords.size());
    EXPECT_EQ("7073773d", passwords[0].Field("bytes"));
}

TEST_F(SocketConnectorTest, PortAbove65535UsesItsLow16Bits) {
    ASSERT_TRUE(m_server.Start(L"--listen 127.0.0.77:4464 --password secret"));
    const auto object = MakeServerObject(L"127.0.0.77", L"secret", 70000);
    SocketConnector connector(object.get());
    EXPECT_EQ(0, connector.Connect());
    const auto connections = m_server.Events("connected");
    ASSERT_EQ(1u, connections.size());
    EXPECT_EQ("127.0.0.77:4464", connections[0].where);
}

TEST_F(SocketConnectorTest, HostNameIsResolved) {
    StartServer(L"");
    const auto object = MakeServerObject(L"localhost", L"secret", m_server.Port());
    SocketConnector connector(object.get());
    EXPECT_EQ(0, connector.Connect());
}

TEST_F(SocketConnectorTest, AlarmIsTheSevenBytesUnmountOnTheOpenConnection) {
    StartServer(L"");
    SocketConnector connector(m_object.get());
    ASSERT_EQ(0, connector.Connect());

    EXPECT_EQ(0, connector.SendAlarm());
    ASSERT_TRUE(m_server.WaitForEvents("unmount", 1));
    const auto connections = m_server.Events("connected");
    ASSERT_EQ(1u, connections.size());
    EXPECT_EQ(connections[0].Field("conn"), m_server.Events("unmount")[0].Field("conn"));
    // Nothing but the seven bytes arrived, and the client left the connection open.
    EXPECT_TRUE(m_server.Events("data").empty());
    EXPECT_TRUE(m_server.Events("closed").empty());
    EXPECT_TRUE(connector.IsConnected());
}

TEST_F(SocketConnectorTest, AlarmsBackToBackAreEachCounted) {
    StartServer(L"");
    SocketConnector connector(m_object.get());
    ASSERT_EQ(0, connector.Connect());
    // The stream has no framing: the server may read several in one go.
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(0, connector.SendAlarm());
    }
    EXPECT_TRUE(m_server.WaitForEvents("unmount", 20));
    QuietFor(200);
    EXPECT_EQ(20u, m_server.Events("unmount").size());
    EXPECT_TRUE(m_server.Events("data").empty());
}

TEST_F(SocketConnectorTest, EveryConnectionHasKeepAlive) {
    StartServer(L"");
    SocketConnector connector(m_object.get());
    ASSERT_EQ(0, connector.Connect());
    const SOCKET socket = connector.NativeSocket();
    DWORD value = 0;
    int size = sizeof value;
    ASSERT_EQ(
        0, ::getsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char*>(&value), &size));
    EXPECT_NE(0u, value);
    // Its timing shows only from outside under Wine, which does not read
    // the TCP-level options back: the out-of-process fault suite checks it.
}

TEST_F(SocketConnectorTest, AlarmAfterTheServerClosedTheConnectionGoesOutOnANewOne) {
    StartServer(L"--close-after 200");
    SocketConnector connector(m_object.get());
    ASSERT_EQ(0, connector.Connect());
    ASSERT_TRUE(WaitUntilDisconnected(connector));

    EXPECT_EQ(0, connector.SendAlarm());
    ASSERT_TRUE(m_server.WaitForEvents("unmount", 1)) << m_server.LogText();
    const auto passwords = m_server.Events("password");
    ASSERT_EQ(2u, passwords.size());
    EXPECT_EQ(passwords[1].Field("conn"), m_server.Events("unmount")[0].Field("conn"));

    // Gone for good: the alarm fails with the connection's error, for RPC
    // to take over.
    ASSERT_TRUE(WaitUntilDisconnected(connector));
    ASSERT_TRUE(m_server.Stop());
    EXPECT_EQ(WSAECONNREFUSED, connector.SendAlarm());
}

// A server that is up gets its order even when no check ever reached it
// (listed without a probe, or down at the last one).
TEST_F(SocketConnectorTest, AnAlarmWithoutAConnectionConnectsAndSends) {
    StartServer(L"");
    SocketConnector connector(m_object.get());
    EXPECT_EQ(0, connector.SendAlarm());
    EXPECT_TRUE(m_server.WaitForEvents("unmount", 1));
    EXPECT_EQ(1u, m_server.Events("connected").size());
}

TEST_F(SocketConnectorTest, SilentServerFailsTheProbeAfterTheBoundedWait) {
    StartServer(L"--reply silent");
    SocketConnector connector(m_object.get());
    const ULONGLONG started = ::GetTickCount64();
    EXPECT_EQ(SocketConnector::kPasswordRefused, connector.Connect());
    const ULONGLONG elapsedMs = ::GetTickCount64() - started;
    EXPECT_GE(elapsedMs, SocketConnector::kReplyWaitMs - 500);
    EXPECT_LT(elapsedMs, SocketConnector::kReplyWaitMs + 5000);
    EXPECT_FALSE(connector.IsConnected());
}

TEST_F(SocketConnectorTest, SettingsAreReadAtEveryConnect) {
    StartServer(L"");
    const auto object = MakeServerObject(L"127.0.0.1", L"wrong", m_server.Port());
    SocketConnector connector(object.get());
    EXPECT_EQ(SocketConnector::kPasswordRefused, connector.Connect());

    const KRVN::unique_bstr password(L"secret");
    object->put_Password(password.get());
    EXPECT_EQ(0, connector.Connect());
}

// A server that went away (a reboot, a restart) and came back: the checker's
// attempt while it was away failed, and the next order still takes a new
// connection instead of leaving it to an RPC the server may not have.
TEST_F(SocketConnectorTest, AServerThatComesBackGetsTheOrderOverANewConnection) {
    StartServer(L"");
    const std::wstring port = std::to_wstring(m_server.Port());
    SocketConnector connector(m_object.get());
    ASSERT_EQ(0, connector.Connect());
    ASSERT_TRUE(m_server.Stop());
    ASSERT_TRUE(WaitUntilDisconnected(connector));
    EXPECT_EQ(WSAECONNREFUSED, connector.Connect());

    SubstituteServerProcess again;
    ASSERT_TRUE(again.Start(L"--listen 127.0.0.1:" + port + L" --password secret"));
    EXPECT_EQ(0, connector.SendAlarm());
    EXPECT_TRUE(again.WaitForEvents("unmount", 1));
}

// A server that says more after its "yes" (a line end in a write of its own)
// and later ends the connection: what it said must not hide the end, or the
// order would go into a closed connection and be lost.
TEST(SocketConnectorWordsTest, WordsAfterTheHandshakeDoNotHideTheServersClose) {
    ScriptedAlarmServer server;
    ASSERT_TRUE(server.Start("127.0.0.1"));
    server.SetScript({0, "yes", "\r\n", 100});
    const auto object = MakeServerObject(L"127.0.0.1", L"secret", server.Port());
    SocketConnector connector(object.get());
    ASSERT_EQ(0, connector.Connect());
    PauseFor(400);
    server.CloseConnections();
    // Whether or not the watcher has seen the end yet, the order must arrive.
    PauseFor(100);
    EXPECT_EQ(0, connector.SendAlarm());
    EXPECT_TRUE(server.WaitForOrders(1, 5000));
    EXPECT_EQ(2u, server.Connections());
}

} // namespace
} // namespace krvn_test
