// The QNServers collection over an alarm manager's list: indexing,
// enumeration, the edits and what they store, and the SendAlarm of a
// client's own QNServer object.

#include <gtest/gtest.h>

#include <winsock2.h>

#include <atomic>
#include <thread>
#include <vector>

#include "com/bstr.h"
#include "com/class_factory.h"
#include "com/com_object.h"
#include "com/variant.h"
#include "common/unique_handle.h"
#include "config/registry_store.h"
#include "service/qn_servers.h"
#include "connections/configuration_gate.h"
#include "service/alarm_manager.h"
#include "service/configuration_policy.h"
#include "service/qn_alarm.h"
#include "tests/support/substitute_server_process.h"
#include "tests/unit/connections/test_environment.h"
#include "tests/unit/service/service_test_support.h"

namespace krvn_test {
namespace {

std::wstring AddressOf(IUnknown* object) {
    const auto server = KRVN::com_ptr<IUnknown>(object).try_query<IQNServer>();
    KRVN::unique_bstr address;
    if (server) {
        server->get_Address(address.put());
    }
    return address ? address.get() : L"<none>";
}

KRVN::unique_variant Index(VARTYPE type, LONG value) {
    KRVN::unique_variant index;
    VARIANT* raw = index.put();
    V_VT(raw) = type;
    if (type == VT_I2) {
        V_I2(raw) = static_cast<SHORT>(value);
    } else {
        V_I4(raw) = value;
    }
    return index;
}

KRVN::unique_variant Index(const wchar_t* address) {
    KRVN::unique_variant index;
    VARIANT* raw = index.put();
    V_VT(raw) = VT_BSTR;
    V_BSTR(raw) = KRVN::unique_bstr(address).release();
    return index;
}

// The addresses the stored list holds, in order.
std::vector<std::wstring> StoredAddresses() {
    KRVN::ServerRecordList stored;
    EXPECT_EQ(S_OK, KRVN::LoadStoredServerList(stored));
    std::vector<std::wstring> addresses;
    for (const auto& server : stored) {
        addresses.push_back(server.address);
    }
    return addresses;
}

class QNServersTest : public ::testing::Test {
protected:
    void ListThree() {
        for (const wchar_t* address : {L"srv-b", L"SRV-C", L"srv-a"}) {
            m_manager.AddServer(MakeServerObject(address, L"pw", 0).get());
        }
    }

    KRVN::com_ptr<IQNServers> MakeCollection() {
        return KRVN::com_ptr<IQNServers>(KRVN::com::ComObject<QNServers>::Make(m_manager));
    }

    AlarmRegistry m_registry;
    // Outlives the manager, which reports to it.
    RecordingReporter m_reporter;
    AlarmManager m_manager;
    KRVN::com_ptr<IQNServers> m_servers = MakeCollection();
};

TEST_F(QNServersTest, ItemFindsPositionsAndAddressesInListOrder) {
    ListThree();
    LONG count = 0;
    ASSERT_EQ(S_OK, m_servers->get_Count(&count));
    ASSERT_EQ(3, count);

    KRVN::unique_variant item;
    ASSERT_EQ(S_OK, m_servers->Item(Index(VT_I4, count - 1).get(), item.put()));
    ASSERT_EQ(VT_DISPATCH, item.type());
    EXPECT_EQ(L"SRV-C", AddressOf(V_DISPATCH(&item.get())));
    ASSERT_EQ(S_OK, m_servers->Item(Index(VT_I2, 0).get(), item.put()));
    EXPECT_EQ(L"srv-a", AddressOf(V_DISPATCH(&item.get())));
    ASSERT_EQ(S_OK, m_servers->Item(Index(L"Srv-B").get(), item.put()));
    EXPECT_EQ(L"srv-b", AddressOf(V_DISPATCH(&item.get())));

    // The listed object itself, not a copy.
    const auto listed = m_manager.Servers()[1].second->GetServer();
    EXPECT_EQ(static_cast<IDispatch*>(listed.get()), V_DISPATCH(&item.get()));
}

// Halves round to the even neighbour, as VBScript's CLng rounds.
TEST_F(QNServersTest, ItemTakesANumberOfAnyTypeAsAPosition) {
    ListThree();
    const struct {
        VARTYPE type;
        double value;
        const wchar_t* expected; // null: E_INVALIDARG
    } cases[] = {{VT_UI1, 2, L"SRV-C"},         {VT_UI4, 0, L"srv-a"},  {VT_I8, 1, L"srv-b"},
                 {VT_R8, 1.5, L"SRV-C"},        {VT_R8, 0.5, L"srv-a"}, {VT_R8, 2.6, nullptr},
                 {VT_I8, 4294967296.0, nullptr}};
    for (const auto& number : cases) {
        KRVN::unique_variant index;
        KRVN::unique_variant item;
        VARIANT* raw = index.put();
        V_VT(raw) = VT_R8;
        V_R8(raw) = number.value;
        ASSERT_EQ(S_OK, ::VariantChangeType(raw, raw, 0, number.type));
        if (number.expected) {
            ASSERT_EQ(S_OK, m_servers->Item(index.get(), item.put())) << number.value;
            EXPECT_EQ(number.expected, AddressOf(V_DISPATCH(&item.get())));
        } else {
            EXPECT_EQ(E_INVALIDARG, m_servers->Item(index.get(), item.put())) << number.value;
        }
    }
}

TEST_F(QNServersTest, ItemRejectsBadIndexesWithoutTouchingTheResult) {
    ListThree();
    const struct {
        KRVN::unique_variant index;
        HRESULT expected;
    } cases[] = {{Index(VT_I4, 3), E_INVALIDARG},       {Index(VT_I4, -1), E_INVALIDARG},
                 {Index(VT_I2, 3), E_INVALIDARG},       {Index(VT_BOOL, 0), E_INVALIDARG},
                 {Index(VT_EMPTY, 0), E_INVALIDARG},    {Index(L"srv-d"), AlarmManager::kNotListed},
                 {Index(L""), AlarmManager::kNotListed}};
    for (const auto& bad : cases) {
        VARIANT result;
        V_VT(&result) = VT_I4;
        V_I4(&result) = 4242;
        EXPECT_EQ(bad.expected, m_servers->Item(bad.index.get(), &result));
        EXPECT_EQ(VT_I4, V_VT(&result));
        EXPECT_EQ(4242, V_I4(&result));
    }
}

TEST_F(QNServersTest, EnumeratorFollowsTheEnumVariantRules) {
    ListThree();
    KRVN::com_ptr<IUnknown> unknown;
    ASSERT_EQ(S_OK, m_servers->get__NewEnum(unknown.put()));
    auto enumerator = unknown.query<IEnumVARIANT>();

    VARIANT items[4];
    ULONG fetched = 99;
    EXPECT_EQ(E_INVALIDARG, enumerator->Next(0, items, &fetched));
    EXPECT_EQ(E_POINTER, enumerator->Next(1, nullptr, &fetched));
    EXPECT_EQ(E_POINTER, enumerator->Next(2, items, nullptr));
    EXPECT_EQ(E_INVALIDARG, enumerator->Skip(0));

    ASSERT_EQ(S_OK, enumerator->Next(1, items, nullptr));
    EXPECT_EQ(L"srv-a", AddressOf(V_DISPATCH(&items[0])));
    ::VariantClear(&items[0]);

    KRVN::com_ptr<IEnumVARIANT> clone;
    ASSERT_EQ(S_OK, enumerator->Clone(clone.put()));
    EXPECT_EQ(S_FALSE, enumerator->Next(4, items, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(L"srv-b", AddressOf(V_DISPATCH(&items[0])));
    EXPECT_EQ(L"SRV-C", AddressOf(V_DISPATCH(&items[1])));
    ::VariantClear(&items[0]);
    ::VariantClear(&items[1]);
    EXPECT_EQ(S_FALSE, enumerator->Next(1, items, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_FALSE, enumerator->Skip(1));

    EXPECT_EQ(S_OK, enumerator->Reset());
    EXPECT_EQ(S_OK, enumerator->Skip(2));
    EXPECT_EQ(S_FALSE, enumerator->Skip(2));

    // The clone kept its own position, and its elements outlive the
    // enumerator it came from and the entries themselves.
    unknown.reset();
    enumerator.reset();
    m_manager.RemoveServer(L"srv-b");
    ASSERT_EQ(S_OK, clone->Next(2, items, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(L"srv-b", AddressOf(V_DISPATCH(&items[0])));
    EXPECT_EQ(L"SRV-C", AddressOf(V_DISPATCH(&items[1])));
    ::VariantClear(&items[0]);
    ::VariantClear(&items[1]);
}

TEST_F(QNServersTest, AddKeepsAListedAddressAndSavesEachTime) {
    ASSERT_EQ(S_OK, m_servers->Add(MakeServerObject(L"srv-a", L"first", 1).get()));
    EXPECT_EQ(std::vector<std::wstring>{L"srv-a"}, StoredAddresses());
    ASSERT_EQ(S_OK, m_servers->Add(MakeServerObject(L"SRV-A", L"second", 2).get()));
    LONG count = 0;
    m_servers->get_Count(&count);
    EXPECT_EQ(1, count);

    KRVN::ServerRecordList stored;
    ASSERT_EQ(S_OK, KRVN::LoadStoredServerList(stored));
    ASSERT_EQ(1u, stored.size());
    EXPECT_EQ(L"first", stored[0].password);
    EXPECT_EQ(1u, stored[0].port);

    // The list holds the service's copy, never the client's object.
    const auto client = MakeServerObject(L"srv-b", L"pw", 0);
    ASSERT_EQ(S_OK, m_servers->Add(client.get()));
    KRVN::unique_variant item;
    ASSERT_EQ(S_OK, m_servers->Item(Index(L"srv-b").get(), item.put()));
    EXPECT_NE(static_cast<IDispatch*>(client.get()), V_DISPATCH(&item.get()));
}

TEST_F(QNServersTest, AddAndTryConnectOfNoServerChangeNothing) {
    const auto alarm =
        KRVN::com_ptr<IDispatch>(KRVN::com::ComObject<QNAlarm>::Make(m_manager).query<IQNAlarm>());
    EXPECT_EQ(E_POINTER, m_servers->Add(nullptr));
    EXPECT_EQ(E_NOINTERFACE, m_servers->Add(alarm.get()));
    EXPECT_EQ(E_POINTER, m_servers->TryConnect(nullptr));
    EXPECT_EQ(E_NOINTERFACE, m_servers->TryConnect(alarm.get()));
    EXPECT_EQ(0u, m_manager.ServerCount());
    EXPECT_FALSE(AlarmRegistry::HasServerList());
}

TEST_F(QNServersTest, TryConnectListsAndSavesOnlyAReachableServer) {
    SubstituteServerProcess tcp;
    ASSERT_TRUE(tcp.Start(L"--password sock --listen 127.0.0.101:0"));

    // Nothing listens on the port's neighbour.
    const ULONG closedPort = tcp.Port() == 65535 ? tcp.Port() - 1 : tcp.Port() + 1;
    EXPECT_EQ(WSAECONNREFUSED,
              m_servers->TryConnect(MakeServerObject(L"127.0.0.101", L"sock", closedPort).get()));
    EXPECT_EQ(0u, m_manager.ServerCount());
    EXPECT_FALSE(AlarmRegistry::HasServerList());

    const auto client = MakeServerObject(L"127.0.0.101", L"sock", tcp.Port());
    EXPECT_EQ(S_OK, m_servers->TryConnect(client.get()));
    EXPECT_EQ(std::vector<std::wstring>{L"127.0.0.101"}, StoredAddresses());
    KRVN::unique_variant item;
    ASSERT_EQ(S_OK, m_servers->Item(Index(VT_I4, 0).get(), item.put()));
    LONG code = -1;
    KRVN::com_ptr<IDispatch>(V_DISPATCH(&item.get())).query<IQNServer>()->get_StateCode(&code);
    EXPECT_EQ(0, code);
    // The client's object was only read.
    client->get_StateCode(&code);
    EXPECT_EQ(-1, code);
}

TEST_F(QNServersTest, ListAndPortChangesAreReportedWithTheCallerButNoPassword) {
    SubstituteServerProcess tcp;
    ASSERT_TRUE(tcp.Start(L"--password tcp-secret --listen 127.0.0.102:0"));
    m_manager.ReportTo(m_reporter);
    const auto alarm = KRVN::com::ComObject<QNAlarm>::Make(m_manager).query<IQNAlarm>();

    // Only what changes the list or the port is reported.
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_EQ(S_OK, m_servers->Add(MakeServerObject(L"srv-a", L"a-secret", 0).get()));
    }
    EXPECT_EQ(S_OK, m_servers->TryConnect(
                        MakeServerObject(L"127.0.0.102", L"tcp-secret", tcp.Port()).get()));
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_EQ(S_OK, m_servers->Remove(KRVN::unique_bstr(L"SRV-A").get()));
    }
    ASSERT_EQ(S_OK, alarm->put_ComPort(KRVN::unique_bstr(L"COM7").get()));
    ASSERT_EQ(S_OK, alarm->put_ComPort(KRVN::unique_bstr(L"COM7").get()));

    // The port change was posted last: once it is in, so is everything before.
    ASSERT_TRUE(WaitUntil([&] {
        const auto events = m_reporter.Events();
        return !events.empty() && events.back().id == MSG_PORT_CHANGED;
    }));
    const std::vector<Event> events = m_reporter.Events();
    ASSERT_EQ(4u, events.size()) << [&] {
        std::string ids;
        for (const Event& event : events) {
            ids += std::to_string(event.id) + " ";
        }
        return ids;
    }();
    // This process's own calls: the caller is the test's own account.
    const std::wstring account = events[0].inserts.back();
    EXPECT_NE(L"an unknown account", account);
    const std::wstring port = L"TCP port " + std::to_wstring(tcp.Port());
    const std::pair<DWORD, std::vector<std::wstring>> expected[] = {
        {MSG_SERVER_ADDED, {L"srv-a", L"RPC", account}},
        {MSG_SERVER_ADDED, {L"127.0.0.102", port, account}},
        {MSG_SERVER_REMOVED, {L"SRV-A", account}},
        {MSG_PORT_CHANGED, {L"(none)", L"COM7", account}}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(EventType::Information, events[i].type) << i;
        EXPECT_EQ(expected[i].first, events[i].id) << i;
        EXPECT_EQ(expected[i].second, events[i].inserts) << i;
        for (const std::wstring& insert : events[i].inserts) {
            EXPECT_EQ(std::wstring::npos, insert.find(L"secret")) << i;
        }
    }
}

TEST_F(QNServersTest, RemoveTakesAddressesInAnyCaseAndSaves) {
    ListThree();
    EXPECT_EQ(S_OK, m_servers->Remove(nullptr));
    EXPECT_EQ(3u, m_manager.ServerCount());
    EXPECT_EQ((std::vector<std::wstring>{L"srv-a", L"srv-b", L"SRV-C"}), StoredAddresses());

    EXPECT_EQ(S_OK, m_servers->Remove(KRVN::unique_bstr(L"SRV-B").get()));
    EXPECT_EQ((std::vector<std::wstring>{L"srv-a", L"SRV-C"}), StoredAddresses());
}

// Edits from several clients at once: whatever order their saves take, the
// stored list ends as the service's own, so a restart loses no server a
// client added and brings back none a client removed.
TEST_F(QNServersTest, ConcurrentEditsLeaveTheStoredListAsTheServiceHasIt) {
    constexpr int kClients = 4;
    constexpr int kBursts = 10;
    const auto edit = [this](bool add) {
        // The clients start together, so their saves overlap.
        std::atomic<int> waiting{kClients};
        std::vector<std::thread> clients;
        for (int client = 0; client < kClients; ++client) {
            clients.emplace_back([this, client, add, &waiting] {
                const std::wstring address = L"srv-" + std::to_wstring(client);
                --waiting;
                while (waiting.load() > 0) {
                    std::this_thread::yield();
                }
                if (add) {
                    m_servers->Add(MakeServerObject(address.c_str(), L"pw", 0).get());
                } else {
                    m_servers->Remove(KRVN::unique_bstr(address.c_str()).get());
                }
            });
        }
        for (auto& client : clients) {
            client.join();
        }
    };
    // A long list makes each save take a while.
    constexpr size_t kKept = 500;
    for (size_t k = 0; k < kKept; ++k) {
        m_manager.AddServer(
            MakeServerObject((L"kept-" + std::to_wstring(k)).c_str(), L"pw", 0).get());
    }
    for (int burst = 0; burst < kBursts; ++burst) {
        edit(true);
        ASSERT_EQ(kKept + kClients, StoredAddresses().size()) << "burst " << burst;
        edit(false);
        ASSERT_EQ(kKept, StoredAddresses().size()) << "burst " << burst;
    }
}

TEST_F(QNServersTest, EmptyListAlarmsAndFreshStateIsUnknown) {
    EXPECT_EQ(S_OK, m_servers->SendAlarm());
    eConnectState state = NoneConnect;
    ASSERT_EQ(S_OK, m_servers->get_State(&state));
    EXPECT_EQ(UnknownState, state);
}

TEST(QNServersClass, RefusesAggregation) {
    const auto factory = KRVN::com::ClassFactory<QNServers>::Make();
    const auto outer = MakeChangeIconRecorder();
    KRVN::com_ptr<IUnknown> inner;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(outer.get(), IID_IUnknown, inner.put_void()));
    EXPECT_FALSE(inner);
}

// A client's QNServer object sends its alarm through the listed entry with
// its address, on the service's single manager.
TEST(QNServerSendAlarm, GoesThroughTheListedEntryOfTheServiceManager) {
    SubstituteServerProcess rpc;
    ASSERT_TRUE(rpc.Start(L"--rpc --open-result 0"));
    AlarmManager& manager = AlarmManager::Instance();
    manager.AddServer(MakeServerObject(L"Route-Test", L"listed", 0).get());

    const auto client = MakeServerObject(L"ROUTE-TEST", L"client", 0);
    EXPECT_EQ(S_OK, client->SendAlarm());
    const auto opens = rpc.Events("RemoteOpen");
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ("listed", opens[0].Field("password"));
    EXPECT_EQ(1u, rpc.Events("RemoteAlarm").size());

    EXPECT_EQ(AlarmManager::kNotListed, MakeServerObject(L"route-other", L"x", 0)->SendAlarm());
    EXPECT_EQ(AlarmManager::kNotListed, MakeServerObject(nullptr, nullptr, 0)->SendAlarm());
}

CallerIdentity OrdinaryUser() {
    return CallerIdentity{};
}

CallerIdentity Administrator() {
    CallerIdentity caller;
    caller.administrator = true;
    return caller;
}

// The configuration is guarded for the rest of a test, as the service's
// manager guards it, with the caller the test names.
class GuardedConfigurationTest : public QNServersTest {
protected:
    void SetUp() override {
        SetConfigurationGate(&CallerMayConfigure);
        SetCallerSource(&OrdinaryUser);
    }
    void TearDown() override {
        SetCallerSource(nullptr);
        SetConfigurationGate(nullptr);
    }
    static void SetAdminOnly(DWORD value) {
        KRVN::unique_hkey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, KRVN::kAlarmKeyPath, 0, nullptr, 0,
                                    KEY_SET_VALUE, nullptr, key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(key.get(), L"AdminOnlyConfiguration", 0, REG_DWORD,
                                   reinterpret_cast<BYTE*>(&value), sizeof value));
    }
};

TEST_F(GuardedConfigurationTest, AdministratorsOnlyKeepsOthersFromChangesAndPasswordsNotAlarms) {
    SubstituteServerProcess rpc;
    ASSERT_TRUE(rpc.Start(L"--rpc --open-result 0"));
    ListThree();
    ASSERT_EQ(S_OK, m_manager.SaveList());
    SetAdminOnly(1);
    const auto alarm = KRVN::com::ComObject<QNAlarm>::Make(m_manager).query<IQNAlarm>();

    const auto candidate = MakeServerObject(L"srv-new", L"pw", 0);
    EXPECT_EQ(E_ACCESSDENIED, m_servers->Add(candidate.query<IDispatch>().get()));
    EXPECT_EQ(E_ACCESSDENIED, m_servers->TryConnect(candidate.query<IDispatch>().get()));
    EXPECT_EQ(E_ACCESSDENIED, m_servers->Remove(KRVN::unique_bstr(L"srv-a").get()));
    EXPECT_EQ(E_ACCESSDENIED, alarm->put_ComPort(KRVN::unique_bstr(L"COM3").get()));
    KRVN::unique_variant item;
    ASSERT_EQ(S_OK, m_servers->Item(Index(VT_I4, 0).get(), item.put()));
    const auto listed = KRVN::com_ptr<IUnknown>(V_DISPATCH(&item.get())).query<IQNServer>();
    EXPECT_EQ(E_ACCESSDENIED, listed->put_Password(KRVN::unique_bstr(L"new").get()));
    EXPECT_EQ(E_ACCESSDENIED, listed->put_Port(7));
    KRVN::unique_bstr password;
    ASSERT_EQ(S_OK, listed->get_Password(password.put()));
    EXPECT_EQ(std::wstring(), password.get());

    LONG count = 0;
    EXPECT_EQ(S_OK, m_servers->get_Count(&count));
    EXPECT_EQ(3, count);
    EXPECT_EQ((std::vector<std::wstring>{L"srv-a", L"srv-b", L"SRV-C"}), StoredAddresses());
    EXPECT_EQ(L"<none>", AlarmRegistry::ComPort());
    // The alarm is everyone's.
    EXPECT_EQ(S_OK, m_servers->SendAlarm());
    EXPECT_TRUE(rpc.WaitForEvents("RemoteAlarm", 3));

    // The service's own reads, an administrator, or the setting off: as before.
    SetCallerSource(&Administrator);
    password.reset();
    ASSERT_EQ(S_OK, listed->get_Password(password.put()));
    EXPECT_EQ(std::wstring(L"pw"), password.get());
    EXPECT_EQ(S_OK, m_servers->Add(candidate.query<IDispatch>().get()));
    SetCallerSource(&OrdinaryUser);
    SetAdminOnly(0);
    EXPECT_EQ(S_OK, m_servers->Remove(KRVN::unique_bstr(L"srv-new").get()));
    EXPECT_EQ(S_OK, listed->put_Port(7));
}

// The button test keeps presses from raising the alarm: under the setting
// it is an administrator's; anyone may end it. Its start and end are
// recorded.
TEST_F(GuardedConfigurationTest, AdministratorsOnlyKeepsOthersFromStartingAButtonTest) {
    SetAdminOnly(1);
    m_manager.Start(m_reporter);
    const auto links =
        KRVN::com::ComObject<QNAlarm>::Make(m_manager).query<IEstablishCommunications>();
    const auto sink = MakeRedButtonRecorder();
    EXPECT_EQ(E_ACCESSDENIED, links->Advise(sink.get()));
    EXPECT_EQ(E_ACCESSDENIED, links->SetSendRedButtonCallback(1));
    SetCallerSource(&Administrator);
    EXPECT_EQ(S_OK, links->Advise(sink.get()));
    EXPECT_EQ(S_OK, links->SetSendRedButtonCallback(1));
    SetCallerSource(&OrdinaryUser);
    EXPECT_EQ(S_OK, links->Unadvise());

    // Only the administrator's test began, and it ended (the events keep
    // their order).
    std::vector<DWORD> ids;
    ASSERT_TRUE(WaitUntil([&] {
        ids.clear();
        for (const Event& event : m_reporter.Events()) {
            if (event.id == MSG_BUTTON_TEST_BEGAN || event.id == MSG_BUTTON_TEST_ENDED) {
                ids.push_back(event.id);
            }
        }
        return !ids.empty() && ids.back() == MSG_BUTTON_TEST_ENDED;
    }));
    EXPECT_EQ((std::vector<DWORD>{MSG_BUTTON_TEST_BEGAN, MSG_BUTTON_TEST_ENDED}), ids);
}

TEST_F(QNServersTest, PortNamesOtherThanSerialDevicesAreRefused) {
    m_manager.Start(m_reporter);
    const auto alarm = KRVN::com::ComObject<QNAlarm>::Make(m_manager).query<IQNAlarm>();
    // A pipe of the test's: a watcher that opened it would connect.
    const KRVN::unique_hfile pipe(::CreateNamedPipeW(L"\\\\.\\pipe\\t",
                                                     PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                                     PIPE_TYPE_BYTE, 1, 64, 64, 0, nullptr));
    ASSERT_TRUE(pipe);
    const KRVN::unique_event connected = KRVN::unique_event::create();
    OVERLAPPED overlapped{};
    overlapped.hEvent = connected.get();
    ::ConnectNamedPipe(pipe.get(), &overlapped);

    for (const wchar_t* name : {L"\\\\127.0.0.1\\x\\y", L"\\\\.\\pipe\\t", L"C:\\x", L"COM7\\x"}) {
        EXPECT_EQ(E_INVALIDARG, alarm->put_ComPort(KRVN::unique_bstr(name).get())) << name;
    }
    EXPECT_EQ(L"<none>", AlarmRegistry::ComPort());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(connected.get(), 500));
    for (const wchar_t* name : {L"COM7", L"\\\\.\\COM12"}) {
        EXPECT_EQ(S_OK, alarm->put_ComPort(KRVN::unique_bstr(name).get())) << name;
        EXPECT_EQ(name, AlarmRegistry::ComPort());
    }
    ::CancelIo(pipe.get());
}

} // namespace
} // namespace krvn_test
