// The alarm manager against substitute disk servers: the server list, the
// two alarm passes with their choice of transport, and the restarts of the
// connection checker.

#include <gtest/gtest.h>

#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/com_object.h"
#include "common/unique_handle.h"
#include "connections/qn_server.h"
#include "service/alarm_manager.h"
#include "service/com_port_waiter.h"
#include "tests/unit/connections/refusing_port.h"
#include "tests/support/substitute_server_process.h"
#include "tests/unit/connections/test_environment.h"
#include "tests/unit/service/service_test_support.h"

namespace krvn_test {
namespace {

// The passwords of the RemoteOpen calls the RPC server saw, in order.
std::vector<std::string> OpenedPasswords(const SubstituteServerProcess& server) {
    std::vector<std::string> passwords;
    for (const LogEvent& open : server.Events("RemoteOpen")) {
        passwords.push_back(open.Field("password"));
    }
    return passwords;
}

const AlarmSource kPress = AlarmSource::Button(L"COM7");

size_t AlarmsWithPassword(const SubstituteServerProcess& server, const std::string& password) {
    // An alarm is an open followed by RemoteAlarm on its context.
    size_t count = 0;
    for (const LogEvent& alarm : server.Events("RemoteAlarm")) {
        for (const LogEvent& open : server.Events("RemoteOpen")) {
            count += open.Field("ctx") == alarm.Field("ctx") && open.Field("password") == password;
        }
    }
    return count;
}

class AlarmManagerTest : public ::testing::Test {
protected:
    AlarmRegistry m_registry;
    SubstituteServerProcess m_rpc;
    // Outlives the managers, whose port watchers report to it.
    RecordingReporter m_reporter;
    AlarmManager m_manager;
};

TEST_F(AlarmManagerTest, AddressesDifferingOnlyInCaseAreOneEntry) {
    ASSERT_TRUE(m_rpc.Start(L"--rpc --open-result 0"));
    m_manager.AddServer(MakeServerObject(L"Alpha", L"first", 0).get());
    m_manager.AddServer(MakeServerObject(L"alpha", L"second", 0).get());
    ASSERT_EQ(1u, m_manager.ServerCount());
    EXPECT_EQ(L"Alpha", m_manager.Servers().front().first);

    EXPECT_EQ(0, m_manager.SendAlarmTo(L"ALPHA"));
    EXPECT_EQ(std::vector<std::string>{"first"}, OpenedPasswords(m_rpc));
    EXPECT_EQ(1u, AlarmsWithPassword(m_rpc, "first"));

    EXPECT_EQ(AlarmManager::kNotListed, m_manager.SendAlarmTo(L"Alpha2"));
    EXPECT_EQ(1u, m_rpc.Events("RemoteOpen").size());
}

TEST_F(AlarmManagerTest, ReachableServersGetTheAlarmFirst) {
    // One process serves both transports, so its log orders them.
    ASSERT_TRUE(
        m_rpc.Start(L"--rpc --open-result 0 --password s --listen 127.0.0.11-127.0.0.13:0"));
    const auto s1 = MakeServerObject(L"127.0.0.11", L"s", m_rpc.Port());
    const auto s2 = MakeServerObject(L"127.0.0.12", L"s2", 0);
    const auto s3 = MakeServerObject(L"127.0.0.13", L"s", m_rpc.Port());
    ASSERT_EQ(0, m_manager.TryConnectAdd(s3.get()));
    m_manager.AddServer(s2.get());
    ASSERT_EQ(0, m_manager.TryConnectAdd(s1.get()));
    s2->put_StateCode(5);
    const size_t opensBefore = m_rpc.Events("RemoteOpen").size();

    EXPECT_EQ(0, m_manager.AlarmAll(kPress));
    ASSERT_TRUE(m_rpc.WaitForEvents("unmount", 2));
    std::vector<std::string> order;
    for (const LogEvent& event : m_rpc.Events()) {
        if (event.event == "unmount") {
            order.push_back(event.where.substr(0, event.where.find(':')));
        } else if (event.event == "RemoteOpen" && event.Field("password") == "s2") {
            order.push_back("rpc " + event.Field("password"));
        }
    }
    EXPECT_EQ((std::vector<std::string>{"127.0.0.11", "127.0.0.13", "rpc s2"}), order);
    EXPECT_EQ(opensBefore + 1, m_rpc.Events("RemoteOpen").size());
    // The pass leaves the state codes alone.
    LONG code = 0;
    s2->get_StateCode(&code);
    EXPECT_EQ(5, code);
}

// A server whose state changes at every look, as when the checker reaches
// it in the middle of a pass.
class FlickeringServer : public QNServer {
public:
    HRESULT STDMETHODCALLTYPE get_StateCode(LONG* value) override {
        *value = m_looks++ % 2 == 0 ? 5 : 0;
        return S_OK;
    }

private:
    std::atomic<int> m_looks{0};
};

TEST_F(AlarmManagerTest, AServerWhoseStateChangesDuringAPassStillGetsItsOrder) {
    ASSERT_TRUE(m_rpc.Start(L"--password s --listen 127.0.0.24:0"));
    const KRVN::com_ptr<IQNServer> server(KRVN::com::ComObject<FlickeringServer>::Make());
    const KRVN::unique_bstr address(L"127.0.0.24");
    const KRVN::unique_bstr password(L"s");
    server->put_Address(address.get());
    server->put_Password(password.get());
    server->put_Port(m_rpc.Port());
    m_manager.AddServer(server.get());

    EXPECT_EQ(0, m_manager.AlarmAll(kPress));
    EXPECT_TRUE(m_rpc.WaitForEvents("unmount", 1));
}

TEST_F(AlarmManagerTest, TransportFollowsPortAndFallsBackToRpc) {
    ASSERT_TRUE(m_rpc.Start(L"--rpc --open-result 0"));
    SubstituteServerProcess tcp;
    ASSERT_TRUE(tcp.Start(L"--password sock --listen 127.0.0.21-127.0.0.22:0"));
    RefusingPort refusing;

    // Port 0 although a listener waits on its address: RPC only.
    m_manager.AddServer(MakeServerObject(L"127.0.0.21", L"rpc-only", 0).get());
    // Connected: the alarm goes over the socket alone.
    ASSERT_EQ(0,
              m_manager.TryConnectAdd(MakeServerObject(L"127.0.0.22", L"sock", tcp.Port()).get()));
    // A port, but no connection: the socket send fails, RPC takes over.
    m_manager.AddServer(MakeServerObject(L"127.0.0.23", L"fallback", refusing.Port()).get());

    EXPECT_EQ(0, m_manager.AlarmAll(kPress));
    EXPECT_TRUE(tcp.WaitForEvents("unmount", 1));
    const auto unmounts = tcp.Events("unmount");
    ASSERT_EQ(1u, unmounts.size());
    EXPECT_EQ("127.0.0.22", unmounts[0].where.substr(0, unmounts[0].where.find(':')));
    EXPECT_EQ(1u, tcp.Events("connected").size()); // the probe's connection only
    auto opened = OpenedPasswords(m_rpc);
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ((std::vector<std::string>{"fallback", "rpc-only"}), opened);
    EXPECT_EQ(1u, AlarmsWithPassword(m_rpc, "rpc-only"));
    EXPECT_EQ(1u, AlarmsWithPassword(m_rpc, "fallback"));
}

TEST_F(AlarmManagerTest, AFailedServerFailsThePassButNotTheOthers) {
    ASSERT_TRUE(m_rpc.Start(L"--rpc --password good"));
    RefusingPort refusing;
    m_manager.AddServer(MakeServerObject(L"127.0.0.31", L"good", 0).get());
    m_manager.AddServer(MakeServerObject(L"127.0.0.30", L"wrong", refusing.Port()).get());
    m_manager.AddServer(MakeServerObject(L"127.0.0.32", L"good", 0).get());

    EXPECT_EQ(-1, m_manager.AlarmAll(kPress));
    // The three orders run at once: their order at the server is free.
    auto opened = OpenedPasswords(m_rpc);
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ((std::vector<std::string>{"good", "good", "wrong"}), opened);
    EXPECT_EQ(2u, AlarmsWithPassword(m_rpc, "good"));

    // Addressed alone, the entry hands back its connection's error.
    EXPECT_EQ(WSAECONNREFUSED, m_manager.SendAlarmTo(L"127.0.0.30"));
}

TEST_F(AlarmManagerTest, EmptyListTakesTheAlarmAndUnlistedAddressesAreNotFound) {
    EXPECT_EQ(0, m_manager.AlarmAll(kPress));
    EXPECT_EQ(AlarmManager::kNotListed, m_manager.SendAlarmTo(L"127.0.0.1"));
    EXPECT_EQ(AlarmManager::kNotListed, m_manager.SendAlarmTo(L""));
}

TEST_F(AlarmManagerTest, TryConnectAddListsOnlyReachableServers) {
    SubstituteServerProcess tcp;
    ASSERT_TRUE(tcp.Start(L"--password sock --listen 127.0.0.41:0"));
    RefusingPort refusing;

    const auto down = MakeServerObject(L"127.0.0.1", L"sock", refusing.Port());
    EXPECT_EQ(WSAECONNREFUSED, m_manager.TryConnectAdd(down.get()));
    LONG code = 0;
    down->get_StateCode(&code);
    EXPECT_EQ(WSAECONNREFUSED, code);
    EXPECT_EQ(0u, m_manager.ServerCount());

    const auto up = MakeServerObject(L"127.0.0.41", L"sock", tcp.Port());
    EXPECT_EQ(0, m_manager.TryConnectAdd(up.get()));
    up->get_StateCode(&code);
    EXPECT_EQ(0, code);
    ASSERT_EQ(1u, m_manager.ServerCount());
    EXPECT_EQ(up.get(), m_manager.Servers().front().second->GetServer().get());

    // Objects that are no servers are never listed.
    const auto recorder = MakeChangeIconRecorder();
    EXPECT_EQ(E_NOINTERFACE, m_manager.TryConnectAdd(recorder.get()));
    m_manager.AddServer(recorder.get());
    EXPECT_EQ(1u, m_manager.ServerCount());
}

TEST_F(AlarmManagerTest, StartListsTheSavedServersAndWatchesTheSavedPort) {
    // Nothing answers on either: the checker's probes fail at once.
    m_manager.AddServer(MakeServerObject(L"127.0.0.62", L"pb", 7).get());
    m_manager.AddServer(MakeServerObject(L"127.0.0.61", L"pa", 0).get());
    ASSERT_EQ(S_OK, m_manager.SaveList());
    AlarmRegistry::SetCheckDelay(3600);
    m_manager.SetComPort(L"COM9");

    AlarmManager started;
    started.Start(m_reporter);
    const auto servers = started.Servers();
    ASSERT_EQ(2u, servers.size());
    EXPECT_EQ(L"127.0.0.61", servers[0].first);
    EXPECT_EQ(L"127.0.0.62", servers[1].first);
    ULONG port = 0;
    servers[1].second->GetServer()->get_Port(&port);
    EXPECT_EQ(7u, port);
    EXPECT_EQ(3600, started.ConnectCheckDelay());
    EXPECT_EQ(L"COM9", started.GetComPort());
}

// 0 made the checker spin; a huge value a wait that never ended.
TEST_F(AlarmManagerTest, AStoredCheckDelayOutsideItsRangeIsTakenAsItsNearerEnd) {
    const struct {
        DWORD stored;
        LONG used;
    } cases[] = {{0, 1}, {100000, 86400}, {0xFFFFFFFF, 86400}, {86400, 86400}};
    for (const auto& c : cases) {
        AlarmRegistry::SetCheckDelay(c.stored);
        RecordingReporter reporter({MSG_CHECK_DELAY_OUT_OF_RANGE});
        AlarmManager started;
        started.Start(reporter);
        EXPECT_EQ(c.used, started.ConnectCheckDelay()) << c.stored;
        EXPECT_EQ(c.used == static_cast<LONG>(c.stored) ? 0u : 1u, reporter.CallCount())
            << c.stored;
        started.Shutdown();
    }
}

TEST_F(AlarmManagerTest, AStopDuringStartUpLeavesThePortUnwatched) {
    AlarmRegistry::SetCheckDelay(3600);
    m_manager.SetComPort(L"COM9");

    AlarmManager started;
    started.Shutdown();
    started.Start(m_reporter);
    ASSERT_TRUE(started.PortWatcher());
    EXPECT_FALSE(started.PortWatcher()->IsRunning());
    EXPECT_EQ(L"COM9", started.GetComPort());
}

std::wstring ProgramFileName() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full = path;
    return full.substr(full.find_last_of(L"\\/") + 1);
}

TEST_F(AlarmManagerTest, APassReportsItsSourceEachServerAndASummaryWithoutPasswords) {
    ASSERT_TRUE(m_rpc.Start(L"--rpc --password rpc-secret"));
    SubstituteServerProcess tcp;
    ASSERT_TRUE(tcp.Start(L"--password tcp-secret --listen 127.0.0.81:0"));
    RefusingPort refusing;
    ASSERT_EQ(0, m_manager.TryConnectAdd(
                     MakeServerObject(L"127.0.0.81", L"tcp-secret", tcp.Port()).get()));
    m_manager.AddServer(MakeServerObject(L"127.0.0.82", L"rpc-secret", 0).get());
    // Its socket never connected and RPC refuses its password.
    m_manager.AddServer(MakeServerObject(L"127.0.0.83", L"bad-secret", refusing.Port()).get());
    m_manager.ReportTo(m_reporter);

    // A call from this process's own code: the service is its own caller.
    EXPECT_EQ(-1, m_manager.AlarmAll(AlarmSource::ClientCall()));
    EXPECT_EQ(-1, m_manager.AlarmAll(AlarmSource::Button(L"COM5")));
    ASSERT_TRUE(m_reporter.WaitForCalls(10));
    const std::vector<Event> events = m_reporter.Events();
    ASSERT_EQ(10u, events.size());

    const Event& start = events[0];
    EXPECT_EQ(EventType::Warning, start.type);
    EXPECT_EQ(MSG_ALARM_BY_PROGRAM, start.id);
    ASSERT_EQ(5u, start.inserts.size());
    EXPECT_EQ(L"1", start.inserts[0]);
    EXPECT_NE(L"an unknown account", start.inserts[1]);
    EXPECT_EQ(ProgramFileName(), start.inserts[2]);
    EXPECT_EQ(std::to_wstring(::GetCurrentProcessId()), start.inserts[3]);
    EXPECT_EQ(L"3", start.inserts[4]);

    // Reachable first (the open connection), then the workers in list order.
    const struct {
        DWORD id;
        const wchar_t* address;
        const wchar_t* transport;
    } servers[] = {{MSG_ALARM_ORDER_SENT, L"127.0.0.81", L"TCP"},
                   {MSG_ALARM_ORDER_SENT, L"127.0.0.82", L"RPC"},
                   {MSG_ALARM_ORDER_FAILED, L"127.0.0.83", L"TCP, then RPC"}};
    const Event& summary = events[4];
    ASSERT_EQ(4u, summary.inserts.size());
    const long long totalMs = std::stoll(summary.inserts[3]);
    for (size_t i = 0; i < 3; ++i) {
        const Event& order = events[1 + i];
        SCOPED_TRACE(servers[i].address);
        EXPECT_EQ(servers[i].id, order.id);
        ASSERT_LE(4u, order.inserts.size());
        EXPECT_EQ(L"1", order.inserts[0]);
        EXPECT_EQ(servers[i].address, order.inserts[1]);
        EXPECT_EQ(servers[i].transport, order.inserts[2]);
        EXPECT_LE(std::stoll(order.inserts[3]), totalMs);
    }
    const Event& failed = events[3];
    EXPECT_EQ(EventType::Error, failed.type);
    ASSERT_EQ(6u, failed.inserts.size());
    EXPECT_EQ(std::to_wstring(WSAECONNREFUSED), failed.inserts[4]);

    EXPECT_EQ(EventType::Error, summary.type);
    EXPECT_EQ(MSG_ALARM_FINISHED, summary.id);
    EXPECT_EQ((std::vector<std::wstring>{L"1", L"2", L"1"}),
              std::vector<std::wstring>(summary.inserts.begin(), summary.inserts.begin() + 3));

    EXPECT_EQ(MSG_ALARM_BY_BUTTON, events[5].id);
    EXPECT_EQ((std::vector<std::wstring>{L"2", L"COM5", L"3"}), events[5].inserts);
    EXPECT_EQ(MSG_ALARM_FINISHED, events[9].id);

    for (const Event& event : events) {
        for (const std::wstring& insert : event.inserts) {
            EXPECT_EQ(std::wstring::npos, insert.find(L"secret")) << event.id;
        }
    }
}

// The checker's restarts, seen by a client's change-icon sink.
class CheckerRestartTest : public AlarmManagerTest {
protected:
    void SetUp() override {
        AlarmRegistry::SetCheckDelay(3600); // no tick but the one at each start
        ASSERT_TRUE(m_tcp.Start(L"--password sock --listen 127.0.0.51:0"));
        ASSERT_EQ(0, m_manager.TryConnectAdd(
                         MakeServerObject(L"127.0.0.51", L"sock", m_tcp.Port()).get()));
        m_manager.SetChangeIconSink(m_sink.get());
        m_manager.Start(m_reporter);
        ASSERT_TRUE(m_sink->WaitForCalls(1));
        // The state is stored right after the sink was told.
        ASSERT_TRUE(WaitUntil([&] { return m_manager.CurrentState() == AllConnected; }));
    }

    SubstituteServerProcess m_tcp;
    KRVN::com_ptr<ChangeIconRecorder> m_sink = MakeChangeIconRecorder();
};

TEST_F(CheckerRestartTest, RestartInAnUnchangedWorldNotifiesOnce) {
    m_manager.RestartChecker();
    ASSERT_TRUE(m_sink->WaitForCalls(2));
    QuietFor(300);
    const auto calls = m_sink->Calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(AllConnected, calls[1].state);
    EXPECT_EQ(L"", calls[1].addresses);
}

TEST_F(CheckerRestartTest, RemovingAnUnlistedAddressStillRestartsTheChecker) {
    // Only a new tick can see the server go.
    ASSERT_TRUE(m_tcp.Stop());
    const auto entry = m_manager.Servers().front().second;
    ASSERT_TRUE(WaitUntil([&] { return !entry->SocketTransport().IsConnected(); }));
    QuietFor(200);
    EXPECT_EQ(1u, m_sink->CallCount());

    m_manager.RemoveServer(L"127.0.0.52");
    EXPECT_EQ(1u, m_manager.ServerCount());
    ASSERT_TRUE(m_sink->WaitForCalls(2));
    const auto calls = m_sink->Calls();
    EXPECT_EQ(AllDisconnected, calls[1].state);
    EXPECT_EQ(L"127.0.0.51\n", calls[1].addresses);
}

// A client stuck in its handler holds no list edit or refresh, and gets the
// reports it missed once it returns; a client whose handler calls back into
// the service is served.
TEST_F(CheckerRestartTest, AStuckOrReentrantClientHoldsNothingUp) {
    const KRVN::unique_event release = KRVN::unique_event::create(true, false);
    m_sink->DuringCall([&] { ::WaitForSingleObject(release.get(), 30000); });
    m_manager.RestartChecker();
    ASSERT_TRUE(m_sink->WaitForCalls(2));
    auto edits = std::async(std::launch::async, [&] {
        m_manager.RemoveServer(L"127.0.0.51");
        m_manager.RestartChecker();
    });
    const bool returned = edits.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    release.SetEvent();
    EXPECT_TRUE(returned) << "a list edit waited for the client";
    edits.wait();
    ASSERT_TRUE(m_sink->WaitForCalls(3));
    EXPECT_EQ(NoneConnect, m_sink->Calls().back().state);

    std::atomic<int> handled{0};
    m_sink->DuringCall([&] {
        if (handled++ == 0) {
            m_manager.RestartChecker();
        }
    });
    const size_t before = m_sink->CallCount();
    m_manager.RestartChecker();
    // The restart's own report, then the one of the restart made inside it.
    EXPECT_TRUE(m_sink->WaitForCalls(before + 2));
}

TEST_F(CheckerRestartTest, ARemovedServerIsNeverReportedLost) {
    m_manager.RemoveServer(L"127.0.0.51");
    EXPECT_EQ(0u, m_manager.ServerCount());
    ASSERT_TRUE(m_sink->WaitForCalls(2));
    const auto calls = m_sink->Calls();
    EXPECT_EQ(NoneConnect, calls[1].state);
    EXPECT_EQ(L"", calls[1].addresses);
}

} // namespace
} // namespace krvn_test
