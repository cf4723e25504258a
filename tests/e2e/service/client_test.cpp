// A C++ client against the running service, out of process: the change-icon
// callback, red-button forwarding through the virtual button, the port
// setting, restarts, and a press that unmounts every substitute disk server.

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "com/bstr.h"
#include "com/com_object.h"
#include "com/dispatch_impl.h"
#include "com/interface_map.h"
#include "tests/e2e/service/button_service_test.h"
#include "tests/e2e/service/change_icon_recorder.h"
#include "tests/e2e/service/disk_server.h"
#include "tests/e2e/service/red_button_recorder.h"
#include "tests/e2e/service/service_client.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/wait.h"

namespace krvn_e2e {
namespace {

// The check period of the tests that wait for the checker, and how long one
// check may take beyond it.
constexpr DWORD kCheckDelaySeconds = 1;
constexpr DWORD kCheckSlackMs = 1500;
constexpr DWORD kWaitMs = 10000;

using ServiceClientTest = ButtonServiceTest;

size_t CountEvents(const SubstituteServerProcess& process, const std::string& event) {
    return process.Events(event).size();
}

// Presses and releases the button, each change ending in one more "unmount".
::testing::AssertionResult ClickForUnmounts(const SubstituteServerProcess& disk) {
    const size_t before = CountEvents(disk, "unmount");
    if (!VirtualButton::Press() || !disk.WaitForEvents("unmount", before + 1, kWaitMs)) {
        return ::testing::AssertionFailure() << "no alarm on the press\n" << disk.LogText();
    }
    krvn_test::SettleFor(kLineSettleMs);
    if (!VirtualButton::Release() || !disk.WaitForEvents("unmount", before + 2, kWaitMs)) {
        return ::testing::AssertionFailure() << "no alarm on the release\n" << disk.LogText();
    }
    return ::testing::AssertionSuccess();
}

TEST_F(ServiceClientTest, ChangeIconReportsALostServerWithinOneCheckPeriod) {
    SubstituteServerProcess first;
    SubstituteServerProcess second;
    ASSERT_TRUE(first.Start(Listen(L"127.0.0.2")));
    ASSERT_TRUE(second.Start(Listen(L"127.0.0.3")));
    SetConnectCheckDelay(kCheckDelaySeconds);
    ASSERT_TRUE(Install());

    const auto sink = KRVN::com::ComObject<ChangeIconRecorder>::Make();
    ASSERT_EQ(S_OK, m_client.Communications()->AdviseChangeIcon(sink.get()));
    ASSERT_EQ(S_OK, m_client.Add(SocketServer(L"127.0.0.2", first)));
    ASSERT_EQ(S_OK, m_client.Add(SocketServer(L"127.0.0.3", second)));
    ASSERT_TRUE(sink->WaitFor(
        0, [](const ChangeIconCall& call) { return call.state == AllConnected; }, kWaitMs));
    // The service stores the state once the report returned.
    EXPECT_TRUE(m_client.WaitForState(AllConnected, kWaitMs));

    const size_t mark = sink->Count();
    const ULONGLONG stopped = ::GetTickCount64();
    ASSERT_TRUE(first.Stop());
    ChangeIconCall lost{};
    ASSERT_TRUE(sink->WaitFor(
        mark, [](const ChangeIconCall& call) { return !call.addresses.empty(); }, kWaitMs, &lost));
    EXPECT_EQ(SomeConnected, lost.state);
    EXPECT_EQ(L"127.0.0.2\n", lost.addresses);
    EXPECT_LE(lost.tick - stopped, kCheckDelaySeconds * 1000 + kCheckSlackMs);

    // Without a sink the service reports to nobody.
    EXPECT_EQ(S_OK, m_client.Communications()->UnadviseChangeIcon());
    const size_t calls = sink->Count();
    ASSERT_TRUE(second.Stop());
    ASSERT_TRUE(m_client.WaitForState(AllDisconnected, kWaitMs));
    EXPECT_EQ(calls, sink->Count());
}

TEST_F(ServiceClientTest, AdvisedPressesGoToTheSinkInsteadOfTheAlarm) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.2")));
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    SetComPortSetting(VirtualButton::Port());
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.2", disk)));
    ASSERT_TRUE(VirtualButton::WaitForDtr(kWaitMs)) << "the service watches the button's port";

    const auto sink = KRVN::com::ComObject<RedButtonRecorder>::Make();
    ASSERT_EQ(S_OK, m_client.Communications()->Advise(sink.get()));
    ASSERT_EQ(S_OK, m_client.Communications()->SetSendRedButtonCallback(1));
    ASSERT_TRUE(VirtualButton::Press());
    EXPECT_TRUE(sink->WaitForPresses(1, kWaitMs));
    krvn_test::SettleFor(kLineSettleMs);
    ASSERT_TRUE(VirtualButton::Release());
    EXPECT_TRUE(sink->WaitForPresses(2, kWaitMs));
    krvn_test::QuietFor(500);
    EXPECT_EQ(2, sink->Presses());
    EXPECT_EQ(0u, CountEvents(disk, "unmount"));

    // Any value but 1 keeps the presses from the sink, and still no alarm.
    ASSERT_EQ(S_OK, m_client.Communications()->SetSendRedButtonCallback(2));
    ASSERT_TRUE(VirtualButton::Click());
    krvn_test::QuietFor(1000);
    EXPECT_EQ(2, sink->Presses());
    EXPECT_EQ(0u, CountEvents(disk, "unmount"));

    ASSERT_EQ(S_OK, m_client.Communications()->Unadvise());
    EXPECT_TRUE(ClickForUnmounts(disk));
    EXPECT_EQ(2, sink->Presses());
}

TEST_F(ServiceClientTest, PortAndServerListSurviveARestart) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.2")));
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    ASSERT_TRUE(Install());
    EXPECT_EQ(L"", m_client.ComPort()) << "nothing stored, nothing watched";

    const std::vector<ServerSettings> listed = {
        SocketServer(L"127.0.0.2", disk),
        {L"127.0.0.9", L"other", 4242},
        {L"Quendor-RPC", L"rpc password", 0},
    };
    ASSERT_EQ(0, m_client.TryConnect(listed[0]));
    ASSERT_EQ(S_OK, m_client.Add(listed[1]));
    ASSERT_EQ(S_OK, m_client.Add(listed[2]));

    // The new port is watched at once.
    ASSERT_EQ(S_OK, m_client.SetComPort(VirtualButton::Port()));
    EXPECT_EQ(VirtualButton::Port(), m_client.ComPort());
    ASSERT_TRUE(VirtualButton::WaitForDtr(kWaitMs));
    ASSERT_TRUE(ClickForUnmounts(disk));

    // Away from the button's port, a press does nothing.
    ASSERT_EQ(S_OK, m_client.SetComPort(L"COM9"));
    EXPECT_EQ(L"COM9", m_client.ComPort());
    // Time for the watcher to let go of the button's port.
    krvn_test::SettleFor(300);
    ASSERT_TRUE(VirtualButton::Click());
    krvn_test::QuietFor(1000);
    EXPECT_EQ(2u, CountEvents(disk, "unmount"));

    VirtualButton::ForgetDtr();
    ASSERT_EQ(S_OK, m_client.SetComPort(VirtualButton::Port()));
    ASSERT_TRUE(VirtualButton::WaitForDtr(kWaitMs));

    ASSERT_TRUE(Restart());
    EXPECT_EQ(VirtualButton::Port(), m_client.ComPort());
    ASSERT_EQ(static_cast<LONG>(listed.size()), m_client.Count());
    for (LONG i = 0; i < m_client.Count(); ++i) {
        const ServerSettings item = m_client.Item(i);
        EXPECT_EQ(listed[i].address, item.address) << i;
        EXPECT_EQ(listed[i].password, item.password) << i;
        EXPECT_EQ(listed[i].port, item.port) << i;
    }
    // After the first check the reachable server takes the alarm again.
    ASSERT_TRUE(m_client.WaitForState(SomeConnected, kWaitMs));
    ASSERT_TRUE(VirtualButton::WaitForDtr(kWaitMs));
    EXPECT_TRUE(ClickForUnmounts(disk));
}

// The events of one alarm pass in the substitute server's log, from index on.
std::vector<LogEvent> AlarmEvents(const SubstituteServerProcess& disks, size_t from) {
    std::vector<LogEvent> alarms;
    const std::vector<LogEvent> events = disks.Events();
    for (size_t i = from; i < events.size(); ++i) {
        if (events[i].event == "unmount" || events[i].event == "RemoteAlarm") {
            alarms.push_back(events[i]);
        }
    }
    return alarms;
}

bool WaitForAlarmEvents(const SubstituteServerProcess& disks, size_t from, size_t count) {
    return krvn_test::WaitUntil([&] { return AlarmEvents(disks, from).size() >= count; }, kWaitMs,
                                20);
}

// Reachable at the last check: the socket servers 127.0.0.2 and 127.0.0.3
// and the RPC server; not reachable: 127.0.0.1, which nothing serves on its
// port, and which the RPC transport reaches instead. In address order it
// would come first; it must come last.
void ExpectReachableFirst(const std::vector<LogEvent>& alarms, std::uint16_t port) {
    ASSERT_EQ(4u, alarms.size());
    const std::string suffix = ":" + std::to_string(port);
    EXPECT_EQ("unmount", alarms[0].event);
    EXPECT_EQ("127.0.0.2" + suffix, alarms[0].where);
    EXPECT_EQ("unmount", alarms[1].event);
    EXPECT_EQ("127.0.0.3" + suffix, alarms[1].where);
    EXPECT_EQ("RemoteAlarm", alarms[2].event);
    EXPECT_EQ("RemoteAlarm", alarms[3].event);
    for (size_t i = 2; i < alarms.size(); ++i) {
        EXPECT_EQ("0", alarms[i].Field("result"));
        EXPECT_NE("-", alarms[i].Field("ctx"));
    }
}

TEST_F(ServiceClientTest, APressUnmountsEveryServerReachableOnesFirst) {
    SubstituteServerProcess disks;
    ASSERT_TRUE(disks.Start(Listen(L"127.0.0.2-127.0.0.3", L" --rpc")));
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    SetComPortSetting(VirtualButton::Port());
    ASSERT_TRUE(Install());
    ASSERT_TRUE(VirtualButton::WaitForDtr(kWaitMs));

    const std::uint16_t port = disks.Port();
    ASSERT_EQ(0, m_client.TryConnect({L"127.0.0.2", kPassword, port}));
    ASSERT_EQ(0, m_client.TryConnect({L"127.0.0.3", kPassword, port}));
    ASSERT_EQ(0, m_client.TryConnect({L"Quendor-RPC", kPassword, 0}));
    const ServerSettings unreachable{L"127.0.0.1", kPassword, port};
    ASSERT_NE(0, m_client.TryConnect(unreachable));
    ASSERT_EQ(S_OK, m_client.Add(unreachable));
    ASSERT_EQ(S_OK, m_client.Servers()->RefreshState());
    ASSERT_TRUE(m_client.WaitForState(SomeConnected, kWaitMs));

    // Each change of the button's line is one press, one alarm pass.
    size_t mark = disks.Events().size();
    ASSERT_TRUE(VirtualButton::Press());
    ASSERT_TRUE(WaitForAlarmEvents(disks, mark, 4)) << disks.LogText();
    ExpectReachableFirst(AlarmEvents(disks, mark), port);

    krvn_test::SettleFor(kLineSettleMs);
    mark = disks.Events().size();
    ASSERT_TRUE(VirtualButton::Release());
    ASSERT_TRUE(WaitForAlarmEvents(disks, mark, 4)) << disks.LogText();
    ExpectReachableFirst(AlarmEvents(disks, mark), port);

    for (const LogEvent& open : disks.Events("RemoteOpen")) {
        EXPECT_EQ("secret", open.Field("password"));
    }
}

// A client's own server object: the service reads it through COM to make
// its copy.
class ClientsServer : public KRVN::com::DispatchImpl<IQNServer> {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IQNServer>,
                                               KRVN::com::Entry<IDispatch, IQNServer>>;

    explicit ClientsServer(const wchar_t* address) : m_address(address) {}

    HRESULT STDMETHODCALLTYPE get_Address(BSTR* value) override { return m_address.copy_to(value); }
    HRESULT STDMETHODCALLTYPE put_Address(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Password(BSTR* value) override {
        return KRVN::unique_bstr(kPassword).copy_to(value);
    }
    HRESULT STDMETHODCALLTYPE put_Password(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Port(ULONG* value) override {
        *value = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Port(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_StateCode(LONG* value) override {
        *value = -1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_StateCode(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendAlarm() override { return E_NOTIMPL; }

private:
    const KRVN::unique_bstr m_address;
};

TEST_F(ServiceClientTest, AnAddressWithControlCharactersIsNeitherAddedNorTried) {
    ASSERT_TRUE(Install());
    for (const wchar_t* address : {L"srv\r\nforged", L"srv\tforged"}) {
        const auto server = KRVN::com::ComObject<ClientsServer>::Make(address);
        EXPECT_EQ(E_INVALIDARG, m_client.Servers()->Add(server.get()));
        EXPECT_EQ(E_INVALIDARG, m_client.Servers()->TryConnect(server.get()));
    }
    EXPECT_EQ(0, m_client.Count());
    EXPECT_EQ(REG_NONE, ReadServerListSetting().type);
}

} // namespace
} // namespace krvn_e2e
