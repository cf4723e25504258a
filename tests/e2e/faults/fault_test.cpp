// Faults around the running service, out of process. Whatever fails, a press
// of the red button afterwards must still unmount every disk server that is
// up, and the service must keep answering its clients.

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "com/com_object.h"
#include "com/interface_map.h"
#include "com/unique_couninitialize.h"
#include "common/unique_handle.h"
#include "config/image_validation.h"
#include "tests/e2e/service/button_service_test.h"
#include "tests/e2e/service/disk_server.h"
#include "tests/e2e/service/service_client.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/wait.h"

namespace krvn_e2e {
namespace {

constexpr DWORD kWaitMs = 10000;
// An alarm pass gives up on a server still busy after this long, and so does
// each RPC step of a probe.
constexpr DWORD kBoundMs = 10000;
// Room for Wine's scheduling on a loaded machine, on top of a bound.
constexpr DWORD kSlackMs = 3000;
// Sorts before the socket servers' addresses: listed first.
constexpr wchar_t kFirstRpcAddress[] = L"127.0.0.1";

// Ends the server the hard way, as a crash would.
::testing::AssertionResult Kill(DWORD processId) {
    const KRVN::unique_handle process(
        ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!process || !::TerminateProcess(process.get(), 9) ||
        ::WaitForSingleObject(process.get(), kWaitMs) != WAIT_OBJECT_0) {
        return ::testing::AssertionFailure() << "could not kill process " << processId;
    }
    return ::testing::AssertionSuccess();
}

// A call to the service on a thread of its own, so the test can watch the
// service, and time the call, while it runs. The future waits for the call
// when it goes: whatever the call may hang on must be ended before that.
template <typename Call> auto CallAsync(Call call) {
    return std::async(std::launch::async, [call] {
        const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
        return call();
    });
}

std::future<HRESULT> TryConnectAsync(const ServiceClient& client, ServerSettings settings) {
    return CallAsync([&client, settings] { return client.TryConnect(settings); });
}

bool ReadyWithin(const std::future<HRESULT>& call, DWORD ms) {
    return call.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}

long long Milliseconds(const FILETIME& time) {
    return static_cast<long long>(
        ULARGE_INTEGER{{time.dwLowDateTime, time.dwHighDateTime}}.QuadPart / 10000);
}

// Milliseconds of UTC time, the clock of the substitute servers' logs.
long long UtcMs() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return Milliseconds(now);
}

long long UtcMs(const LogEvent& event) {
    SYSTEMTIME at{};
    FILETIME time;
    if (std::sscanf(event.time.c_str(), "%hu-%hu-%huT%hu:%hu:%hu.%huZ", &at.wYear, &at.wMonth,
                    &at.wDay, &at.wHour, &at.wMinute, &at.wSecond, &at.wMilliseconds) != 7 ||
        !::SystemTimeToFileTime(&at, &time)) {
        return -1;
    }
    return Milliseconds(time);
}

// An established TCP connection to address:port as the kernel sees it
// (/proc/net/tcp, drive Z: under Wine): its pending timer and when it fires.
struct KernelConnection {
    int timer = 0; // 2: keep-alive
    long long firesInMs = 0;
};
constexpr int kKeepAliveTimer = 2;
// The kernel counts timers in clock ticks of 10 ms.
constexpr long long kTickMs = 10;

std::vector<KernelConnection> KernelConnectionsTo(const char* address, std::uint16_t port) {
    std::vector<KernelConnection> found;
    const KRVN::unique_hfile table(::CreateFileW(L"Z:\\proc\\net\\tcp", GENERIC_READ,
                                                 FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    char buffer[8192];
    DWORD read = 0;
    while (table && ::ReadFile(table.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    // The peer as the table writes it: the address's four bytes as one
    // number of this little-endian machine, the port in network order.
    char peer[16];
    std::snprintf(peer, sizeof peer, "%08X:%04X", static_cast<unsigned>(::inet_addr(address)),
                  port);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line); // the column titles
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer;
        fields >> slot >> local >> remote >> state >> queues >> timer;
        if (remote != peer || state != "01" || timer.size() != 11) {
            continue;
        }
        found.push_back({std::stoi(timer.substr(0, 2), nullptr, 16),
                         std::stoll(timer.substr(3), nullptr, 16) * kTickMs});
    }
    return found;
}

class FaultTest : public ButtonServiceTest {
protected:
    // The service installed and watching the button's port, no check due.
    ::testing::AssertionResult Install() { return InstallWatching(kQuietCheckDelaySeconds); }

    // As Install, with disk started at address and listed (reachable at its
    // check).
    ::testing::AssertionResult InstallWith(SubstituteServerProcess& disk, const wchar_t* address) {
        if (auto started = disk.Start(Listen(address)); !started) {
            return started;
        }
        if (auto installed = Install(); !installed) {
            return installed;
        }
        if (const HRESULT hr = m_client.TryConnect(SocketServer(address, disk)); hr != 0) {
            return ::testing::AssertionFailure() << "TryConnect: 0x" << std::hex << hr;
        }
        return ::testing::AssertionSuccess();
    }

    // One change of the button's line: one press for the service.
    bool Toggle() {
        krvn_test::SettleFor(kLineSettleMs);
        m_held = !m_held;
        m_changedAt = UtcMs();
        return m_held ? VirtualButton::Press() : VirtualButton::Release();
    }

    // A server that was not reachable at the last check, and the event its
    // order shows as there.
    struct Unchecked {
        const SubstituteServerProcess* disk;
        const char* event;
    };

    // One press: each of the reachable servers logs one more "unmount", and
    // each unchecked one its order, none of those before the last of the
    // reachable ones (the log times have 1 ms steps).
    ::testing::AssertionResult
    PressReaches(const std::vector<const SubstituteServerProcess*>& disks,
                 const std::vector<Unchecked>& unchecked = {}) {
        std::vector<size_t> before;
        for (const auto* disk : disks) {
            before.push_back(disk->Events("unmount").size());
        }
        std::vector<size_t> uncheckedBefore;
        for (const auto& server : unchecked) {
            uncheckedBefore.push_back(server.disk->Events(server.event).size());
        }
        if (!Toggle()) {
            return ::testing::AssertionFailure() << "the button did not change";
        }
        std::string lastReachable;
        for (size_t i = 0; i < disks.size(); ++i) {
            if (!disks[i]->WaitForEvents("unmount", before[i] + 1, kWaitMs)) {
                return ::testing::AssertionFailure() << "no unmount at server " << i << "\n"
                                                     << disks[i]->LogText();
            }
            lastReachable = std::max(lastReachable, disks[i]->Events("unmount")[before[i]].time);
        }
        for (size_t i = 0; i < unchecked.size(); ++i) {
            const Unchecked& server = unchecked[i];
            if (!server.disk->WaitForEvents(server.event, uncheckedBefore[i] + 1, kWaitMs)) {
                return ::testing::AssertionFailure()
                       << "no " << server.event << " at unchecked server " << i << "\n"
                       << server.disk->LogText();
            }
            const std::string time = server.disk->Events(server.event)[uncheckedBefore[i]].time;
            if (time < lastReachable) {
                return ::testing::AssertionFailure()
                       << "unchecked server " << i << " got its order at " << time
                       << ", before the last reachable one at " << lastReachable;
            }
        }
        return ::testing::AssertionSuccess();
    }

    // As PressReaches, and each of the servers got its order at most withinMs
    // after the line changed.
    ::testing::AssertionResult
    PressReachesWithin(const std::vector<const SubstituteServerProcess*>& disks,
                       long long withinMs) {
        std::vector<size_t> before;
        for (const auto* disk : disks) {
            before.push_back(disk->Events("unmount").size());
        }
        if (auto reached = PressReaches(disks); !reached) {
            return reached;
        }
        for (size_t i = 0; i < disks.size(); ++i) {
            const long long at = UtcMs(disks[i]->Events("unmount")[before[i]]);
            const long long took = at - m_changedAt;
            if (at < 0 || took > withinMs) {
                return ::testing::AssertionFailure()
                       << "server " << i << " got its order " << took << " ms after the press";
            }
        }
        return ::testing::AssertionSuccess();
    }

    // As ButtonServiceTest::Restart, and the new service watches the button.
    ::testing::AssertionResult Restart() {
        if (auto restarted = ButtonServiceTest::Restart(); !restarted) {
            return restarted;
        }
        if (!VirtualButton::WaitForDtr(kWaitMs)) {
            return ::testing::AssertionFailure() << "the service does not watch the button";
        }
        return ::testing::AssertionSuccess();
    }

    bool m_held = false;
    long long m_changedAt = 0; // UtcMs of the last change of the line
};

// The sink client program: advised for presses and icon changes, then idle.
class SinkClient {
public:
    ~SinkClient() {
        if (m_process) {
            ::TerminateProcess(m_process.get(), 1);
            ::WaitForSingleObject(m_process.get(), kWaitMs);
        }
    }

    // forward: its SetSendRedButtonCallback; pressSeconds: how long its sink
    // takes to answer a press.
    ::testing::AssertionResult Start(LONG forward = 1, DWORD pressSeconds = 0) {
        const std::wstring eventName =
            L"krvn-sink-client-" + std::to_wstring(::GetCurrentProcessId());
        const KRVN::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        std::wstring commandLine = std::wstring(L"\"") + KRVN_SINK_CLIENT + L"\" " + eventName +
                                   L" 120 " + std::to_wstring(forward) + L" " +
                                   std::to_wstring(pressSeconds);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!ready || !::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &info)) {
            return ::testing::AssertionFailure() << "could not start the sink client";
        }
        m_process.reset(info.hProcess);
        const KRVN::unique_handle thread(info.hThread);
        const HANDLE handles[] = {ready.get(), m_process.get()};
        if (::WaitForMultipleObjects(2, handles, FALSE, 30000) != WAIT_OBJECT_0) {
            DWORD code = 0;
            ::GetExitCodeProcess(m_process.get(), &code);
            return ::testing::AssertionFailure() << "the sink client is not ready, code " << code;
        }
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult Kill() {
        if (!::TerminateProcess(m_process.get(), 9) ||
            ::WaitForSingleObject(m_process.get(), kWaitMs) != WAIT_OBJECT_0) {
            return ::testing::AssertionFailure() << "could not kill the sink client";
        }
        m_process.reset();
        return ::testing::AssertionSuccess();
    }

private:
    KRVN::unique_handle m_process;
};

// A client killed while it holds the red button, whether its presses are
// forwarded to it (1) or ignored (0).
class DeadClientTest : public FaultTest, public ::testing::WithParamInterface<LONG> {};

TEST_P(DeadClientTest, ItsSinkNoLongerSwallowsPresses) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(InstallWith(disk, L"127.0.0.2"));

    SinkClient client;
    ASSERT_TRUE(client.Start(GetParam()));
    // While the client lives, its sink takes the press (forwarded or ignored):
    // no alarm.
    ASSERT_TRUE(Toggle());
    krvn_test::QuietFor(1000);
    EXPECT_EQ(0u, disk.Events("unmount").size());

    ASSERT_TRUE(client.Kill());
    EXPECT_TRUE(PressReaches({&disk})) << "the press after the client died";
    EXPECT_TRUE(PressReaches({&disk})) << "the sink stays dropped";
    // Its change-icon sink is dead as well: a check reports to it in vain.
    ASSERT_EQ(S_OK, m_client.Servers()->RefreshState());
    EXPECT_TRUE(m_client.WaitForState(AllConnected, kWaitMs));
    EXPECT_TRUE(PressReaches({&disk}));
}

INSTANTIATE_TEST_SUITE_P(ForwardFlags, DeadClientTest, ::testing::Values(1, 0),
                         [](const ::testing::TestParamInfo<LONG>& flag) {
                             return flag.param == 1 ? "Forwarded" : "Ignored";
                         });

TEST_F(FaultTest, ASinkThatDoesNotAnswerDoesNotHoldThePress) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(InstallWith(disk, L"127.0.0.2"));

    SinkClient client;
    ASSERT_TRUE(client.Start(1, 60));
    EXPECT_TRUE(PressReachesWithin({&disk}, 3000)) << "the press the sink sits on";
    EXPECT_TRUE(PressReachesWithin({&disk}, 3000)) << "the next one";
}

// A living client's sink that fails every press with the same result.
class FailingSink : public IRedButtonEvents {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IRedButtonEvents>>;

    explicit FailingSink(HRESULT result) : m_result(result) {}

    HRESULT STDMETHODCALLTYPE RedButtonPressed() override {
        ++m_calls;
        return m_result;
    }

    long Calls() const { return m_calls.load(); }

    bool WaitForCalls(long count) const {
        return krvn_test::WaitUntil([&] { return m_calls.load() >= count; }, kWaitMs);
    }

private:
    const HRESULT m_result;
    std::atomic<long> m_calls{0};
};

TEST_F(FaultTest, OnlyADisconnectionDropsAFailingSink) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(InstallWith(disk, L"127.0.0.2"));
    ASSERT_EQ(S_OK, m_client.Communications()->SetSendRedButtonCallback(1));

    // Any other failure is the client's business: the press stays with it.
    const auto failing = KRVN::com::ComObject<FailingSink>::Make(E_FAIL);
    ASSERT_EQ(S_OK, m_client.Communications()->Advise(failing.get()));
    for (long press = 1; press <= 2; ++press) {
        ASSERT_TRUE(Toggle());
        ASSERT_TRUE(failing->WaitForCalls(press));
    }
    krvn_test::QuietFor(1000);
    EXPECT_EQ(0u, disk.Events("unmount").size());

    // A failure COM gives (a fault in the call, access refused, a client
    // stopping) is no taking: the press raises the alarm, and the living
    // client keeps its sink.
    const auto faulting = KRVN::com::ComObject<FailingSink>::Make(RPC_E_SERVERFAULT);
    ASSERT_EQ(S_OK, m_client.Communications()->Advise(faulting.get()));
    EXPECT_TRUE(PressReaches({&disk})) << "a press the client's COM failed";
    EXPECT_TRUE(PressReaches({&disk}));
    EXPECT_EQ(2, faulting->Calls());

    const auto gone =
        KRVN::com::ComObject<FailingSink>::Make(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    ASSERT_EQ(S_OK, m_client.Communications()->Advise(gone.get()));
    EXPECT_TRUE(PressReaches({&disk})) << "the press the sink could not take";
    EXPECT_TRUE(PressReaches({&disk})) << "the sink stays dropped";
    EXPECT_EQ(1, gone->Calls());
    EXPECT_EQ(2, failing->Calls());
}

TEST_F(FaultTest, ADiskServerKilledDuringTheHandshake) {
    SubstituteServerProcess mute;
    SubstituteServerProcess disk;
    ASSERT_TRUE(mute.Start(Listen(L"127.0.0.2", L" --reply silent")));
    ASSERT_TRUE(InstallWith(disk, L"127.0.0.3"));

    auto probe = TryConnectAsync(m_client, SocketServer(L"127.0.0.2", mute));
    ASSERT_TRUE(mute.WaitForEvents("password", 1, kWaitMs)) << mute.LogText();
    ASSERT_TRUE(Kill(mute.ProcessId()));
    // The dead peer ends the probe at once, not at the end of its wait.
    ASSERT_EQ(std::future_status::ready, probe.wait_for(std::chrono::seconds(5)));
    EXPECT_NE(0, probe.get());
    EXPECT_EQ(1, m_client.Count());
    EXPECT_TRUE(PressReaches({&disk}));
}

TEST_F(FaultTest, DiskServerKilledWhileConnectedAndBetweenAlarms) {
    SubstituteServerProcess doomed;
    SubstituteServerProcess disk;
    ASSERT_TRUE(doomed.Start(Listen(L"127.0.0.2")));
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.2", doomed)));
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", disk)));
    ASSERT_TRUE(PressReaches({&doomed, &disk}));

    ASSERT_TRUE(Kill(doomed.ProcessId()));
    EXPECT_TRUE(PressReaches({&disk})) << "the first alarm after the death";
    EXPECT_TRUE(PressReaches({&disk})) << "the next one";
    EXPECT_EQ(2, m_client.Count());
}

TEST_F(FaultTest, AServerThatNeverAnswersStallsOnlyItsProbe) {
    SubstituteServerProcess mute;
    SubstituteServerProcess disk;
    ASSERT_TRUE(mute.Start(Listen(L"127.0.0.2", L" --reply silent")));
    ASSERT_TRUE(InstallWith(disk, L"127.0.0.3"));

    const ULONGLONG started = ::GetTickCount64();
    auto probe = TryConnectAsync(m_client, SocketServer(L"127.0.0.2", mute));
    ASSERT_TRUE(mute.WaitForEvents("password", 1, kWaitMs)) << mute.LogText();
    // The probe holds the server list; the count is answered meanwhile.
    const ULONGLONG asked = ::GetTickCount64();
    EXPECT_EQ(1, m_client.Count());
    EXPECT_LT(::GetTickCount64() - asked, 2000u);
    EXPECT_EQ(std::future_status::timeout, probe.wait_for(std::chrono::seconds(0)));

    ASSERT_EQ(std::future_status::ready, probe.wait_for(std::chrono::seconds(20)));
    EXPECT_NE(0, probe.get());
    const ULONGLONG took = ::GetTickCount64() - started;
    EXPECT_GE(took, 9000u) << "the probe waits its full time for the answer";
    EXPECT_LE(took, 15000u);
    EXPECT_TRUE(PressReaches({&disk}));
}

TEST_F(FaultTest, AServerThatResetsItsConnections) {
    SubstituteServerProcess resetting;
    SubstituteServerProcess disk;
    ASSERT_TRUE(resetting.Start(Listen(L"127.0.0.2", L" --reset-after 0")));
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    // Whatever the probe makes of it, every connection dies right after its
    // handshake: the unmount can never arrive there.
    m_client.TryConnect(SocketServer(L"127.0.0.2", resetting));
    ASSERT_TRUE(resetting.WaitForEvents("reset", 1, kWaitMs)) << resetting.LogText();
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", disk)));
    EXPECT_TRUE(PressReaches({&disk}));
    EXPECT_TRUE(PressReaches({&disk}));
}

TEST_F(FaultTest, AConnectionClosedSinceTheLastCheckIsMadeAgainForTheOrder) {
    SubstituteServerProcess refusingRpc;
    SubstituteServerProcess closing;
    SubstituteServerProcess disk;
    // Tells whether an order fell back to RPC, and fails it if so.
    ASSERT_TRUE(refusingRpc.Start(L"--rpc --open-result 5"));
    ASSERT_TRUE(closing.Start(Listen(L"127.0.0.2", L" --close-after 500")));
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.2", closing)));
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", disk)));
    // Closed with a FIN after its check; the next check is far away.
    ASSERT_TRUE(closing.WaitForEvents("closed", 1, kWaitMs)) << closing.LogText();

    EXPECT_TRUE(PressReaches({&closing, &disk}));
    const auto orders = closing.Events("unmount");
    EXPECT_TRUE(orders.empty() || orders.back().Field("conn") != "1")
        << "the order went out on the closed connection";

    ASSERT_TRUE(closing.WaitForEvents("closed", 2, kWaitMs)) << closing.LogText();
    const size_t before = closing.Events("unmount").size();
    EXPECT_EQ(S_OK, m_client.Servers()->SendAlarm()) << "an order sent again counts as sent";
    EXPECT_TRUE(closing.WaitForEvents("unmount", before + 1, kWaitMs)) << closing.LogText();
    EXPECT_EQ(0u, refusingRpc.Events("RemoteOpen").size()) << "RPC while a connection was possible";

    // Gone for good: no connection, so the order goes over RPC, which refuses it.
    ASSERT_TRUE(Kill(closing.ProcessId()));
    const size_t opens = refusingRpc.Events("RemoteOpen").size();
    EXPECT_TRUE(FAILED(m_client.Servers()->SendAlarm()));
    EXPECT_EQ(opens + 1, refusingRpc.Events("RemoteOpen").size());
    EXPECT_TRUE(PressReaches({&disk}));
}

TEST_F(FaultTest, AlarmConnectionsAreKeptAliveToNoticeAVanishedPeer) {
    // A peer gone without a FIN (power, cable) is seen only by keep-alive;
    // the system's default would wait two hours before its first probe.
    constexpr long long kIdleMs = 10000;
    SubstituteServerProcess first;
    SubstituteServerProcess second;
    ASSERT_TRUE(first.Start(Listen(L"127.0.0.2")));
    ASSERT_TRUE(second.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.2", first)));
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", second)));
    for (const auto& [address, disk] : {std::pair{"127.0.0.2", &first}, {"127.0.0.3", &second}}) {
        const auto connections = KernelConnectionsTo(address, disk->Port());
        ASSERT_EQ(1u, connections.size()) << address;
        EXPECT_EQ(kKeepAliveTimer, connections[0].timer) << address;
        EXPECT_LE(connections[0].firesInMs, kIdleMs + 1000) << address;
    }
}

TEST_F(FaultTest, ARefusedPasswordFallsBackToRpc) {
    SubstituteServerProcess refusing;
    SubstituteServerProcess disk;
    ASSERT_TRUE(refusing.Start(Listen(L"127.0.0.2", L" --refuse --rpc")));
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    EXPECT_EQ(86, m_client.TryConnect(SocketServer(L"127.0.0.2", refusing)));
    ASSERT_EQ(S_OK, m_client.Add(SocketServer(L"127.0.0.2", refusing)));
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", disk)));

    // Listed first, but refused at its check: its order comes after the others'.
    EXPECT_TRUE(PressReaches({&disk}, {{&refusing, "RemoteAlarm"}}));
    EXPECT_EQ(0u, refusing.Events("unmount").size());
}

TEST_F(FaultTest, AServerUpAfterTheLastCheckIsAlarmedAfterTheReachableOnes) {
    SubstituteServerProcess first;
    SubstituteServerProcess second;
    ASSERT_TRUE(first.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(second.Start(Listen(L"127.0.0.4")));
    ASSERT_TRUE(Install());
    // Listed unchecked while it is down, first in the list's order.
    ASSERT_EQ(S_OK, m_client.Add({L"127.0.0.2", kPassword, first.Port()}));
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", first)));
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.4", second)));

    SubstituteServerProcess late;
    ASSERT_TRUE(late.Start(Listen(L"127.0.0.2", L" --rpc")));
    // Never connected by a check, so its order goes over RPC.
    EXPECT_TRUE(PressReaches({&first, &second}, {{&late, "RemoteAlarm"}}));
    EXPECT_TRUE(PressReaches({&first, &second}, {{&late, "RemoteAlarm"}}));
}

TEST_F(FaultTest, AnRpcServerKilledAfterItsProbe) {
    SubstituteServerProcess rpc;
    SubstituteServerProcess disk;
    ASSERT_TRUE(rpc.Start(Listen(L"127.0.0.4", L" --rpc")));
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect({L"Quendor-RPC", kPassword, 0}));
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", disk)));
    ASSERT_TRUE(Kill(rpc.ProcessId()));

    EXPECT_TRUE(PressReaches({&disk}));
    EXPECT_TRUE(PressReaches({&disk}));
    EXPECT_EQ(2, m_client.Count());
}

TEST_F(FaultTest, AnAbsentRpcServerDoesNotHoldUpTheOthers) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(S_OK, m_client.Add({L"Quendor-RPC", kPassword, 0}));
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", disk)));
    EXPECT_TRUE(PressReaches({&disk}));
    EXPECT_TRUE(PressReaches({&disk}));
}

TEST_F(FaultTest, AnRpcServerThatNeverAnswersHoldsUpNoOneElse) {
    std::future<HRESULT> alarm;
    std::future<LONG> count;
    std::future<HRESULT> removal;
    // Declared after the calls that may wait for it: it stops first and so
    // ends whatever still hangs on it.
    SubstituteServerProcess hung;
    SubstituteServerProcess first;
    SubstituteServerProcess second;
    ASSERT_TRUE(hung.Start(std::wstring(kSubstituteOptions) +
                           L" --rpc --rpc-hang open --rpc-hang-after 1"));
    ASSERT_TRUE(first.Start(Listen(L"127.0.0.2")));
    ASSERT_TRUE(second.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    // Its one answered open: listed as reachable, first of the list.
    ASSERT_EQ(0, m_client.TryConnect({kFirstRpcAddress, kPassword, 0}));
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.2", first)));
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", second)));

    EXPECT_TRUE(PressReachesWithin({&first, &second}, 100));
    EXPECT_TRUE(hung.WaitForEvents("hang", 1, kWaitMs)) << hung.LogText();

    alarm = CallAsync([this] { return m_client.Servers()->SendAlarm(); });
    if (ReadyWithin(alarm, kBoundMs + kSlackMs)) {
        const HRESULT result = alarm.get();
        EXPECT_TRUE(FAILED(result)) << "0x" << std::hex << result;
    } else {
        ADD_FAILURE() << "SendAlarm waits on the hung server";
    }

    // The next check's probe hangs in its turn; the list stays usable.
    const size_t hangs = hung.Events("hang").size();
    ASSERT_EQ(S_OK, m_client.Servers()->RefreshState());
    ASSERT_TRUE(hung.WaitForEvents("hang", hangs + 1, kWaitMs)) << hung.LogText();
    count = CallAsync([this] { return m_client.Count(); });
    if (count.wait_for(std::chrono::seconds(1)) == std::future_status::ready) {
        EXPECT_EQ(3, count.get());
    } else {
        ADD_FAILURE() << "Count waits for the hung probe";
    }
    removal = CallAsync([this] { return m_client.Remove(kFirstRpcAddress); });
    if (ReadyWithin(removal, kBoundMs + kSlackMs)) {
        EXPECT_EQ(S_OK, removal.get());
        EXPECT_EQ(2, m_client.Count());
        EXPECT_TRUE(PressReaches({&first, &second}));
    } else {
        ADD_FAILURE() << "Remove waits for the hung probe";
    }
}

TEST_F(FaultTest, CallsAfterTheServiceStoppedFailInsteadOfHanging) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(InstallWith(disk, L"127.0.0.3"));
    ASSERT_TRUE(StopService());

    auto count = std::async(std::launch::async, [this] {
        const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
        LONG value = 0;
        return m_client.Servers()->get_Count(&value);
    });
    ASSERT_EQ(std::future_status::ready, count.wait_for(std::chrono::seconds(30)));
    EXPECT_TRUE(FAILED(count.get()));

    ASSERT_TRUE(Restart());
    EXPECT_EQ(1, m_client.Count());
    EXPECT_TRUE(PressReaches({&disk}));
}

// A server list the service cannot read is dropped, never trusted, and the
// next change stores a sound one.
class DamagedServerListTest : public FaultTest,
                              public ::testing::WithParamInterface<std::vector<BYTE>> {};

TEST_P(DamagedServerListTest, StartsEmptyAndStoresASoundListAgain) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(InstallWith(disk, L"127.0.0.3"));
    const StoredValue sound = ReadServerListSetting();
    ASSERT_EQ(static_cast<DWORD>(REG_BINARY), sound.type);
    ASSERT_EQ(KRVN::ImageStatus::Ok, KRVN::ValidateImage(sound.bytes.data(), sound.bytes.size()));

    m_client.Disconnect();
    ASSERT_TRUE(StopService());
    const std::vector<BYTE>& damage = GetParam();
    if (damage.empty()) {
        const wchar_t text[] = L"127.0.0.3";
        ASSERT_TRUE(WriteServerListSetting(REG_SZ, text, sizeof text));
    } else {
        ASSERT_TRUE(
            WriteServerListSetting(REG_BINARY, damage.data(), static_cast<DWORD>(damage.size())));
    }
    ASSERT_TRUE(Restart());
    EXPECT_EQ(0, m_client.Count());

    ASSERT_EQ(S_OK, m_client.Add(SocketServer(L"127.0.0.3", disk)));
    const StoredValue stored = ReadServerListSetting();
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
    EXPECT_EQ(KRVN::ImageStatus::Ok, KRVN::ValidateImage(stored.bytes.data(), stored.bytes.size()));
    EXPECT_EQ(sound.bytes, stored.bytes);
    // A press goes over the socket only to servers the last check reached.
    ASSERT_EQ(S_OK, m_client.Servers()->RefreshState());
    ASSERT_TRUE(m_client.WaitForState(AllConnected, kWaitMs));
    EXPECT_TRUE(PressReaches({&disk}));
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedServerListTest,
                         ::testing::Values(std::vector<BYTE>{},                 // text, not binary
                                           std::vector<BYTE>{0x51, 0x4e, 0x01}, // cut short
                                           std::vector<BYTE>(68, 0xff))); // offsets everywhere

} // namespace
} // namespace krvn_e2e
