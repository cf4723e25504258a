// Faults around the running service, out of process. Whatever fails, a press
// of the red button afterwards must still unmount every disk server that is
// up, and the service must keep answering its clients.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
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
#include "tests/e2e/service/virtual_button.h"
#include "tests/unit/connections/substitute_server_process.h"

namespace krvn_e2e {
namespace {

using krvn_test::SubstituteServerProcess;

// Long enough that no check runs while a test presses the button.
constexpr DWORD kQuietCheckDelaySeconds = 600;
constexpr DWORD kWaitMs = 10000;
// A change of the line that comes while the watcher is still busy with the
// last one can be missed: the next change waits until that one took effect.
constexpr DWORD kSettleMs = 300;

std::wstring Listen(const wchar_t* address, const wchar_t* extra = L"") {
    return std::wstring(L"--listen ") + address + L":0" + kSubstituteOptions + extra;
}

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

// TryConnect on a thread of its own, so the test can watch the service while
// the probe runs.
std::future<LONG> TryConnectAsync(const ServiceClient& client, ServerSettings settings) {
    return std::async(std::launch::async, [&client, settings] {
        const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
        return static_cast<LONG>(client.TryConnect(settings));
    });
}

class FaultTest : public ButtonServiceTest {
protected:
    // The service installed and watching the button's port, no check due.
    ::testing::AssertionResult Install() { return InstallWatching(kQuietCheckDelaySeconds); }

    // One change of the button's line: one press for the service.
    bool Toggle() {
        ::Sleep(kSettleMs);
        m_held = !m_held;
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

    // Stops the service under the client's objects; the next Connect starts it.
    ::testing::AssertionResult Restart() {
        m_client.Disconnect();
        if (auto stopped = StopService(); !stopped) {
            return stopped;
        }
        VirtualButton::ForgetDtr();
        if (const HRESULT hr = m_client.Connect(); FAILED(hr)) {
            return ::testing::AssertionFailure() << "Connect: 0x" << std::hex << hr;
        }
        if (!VirtualButton::WaitForDtr(kWaitMs)) {
            return ::testing::AssertionFailure() << "the service does not watch the button";
        }
        return ::testing::AssertionSuccess();
    }

    bool m_held = false;
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

    ::testing::AssertionResult Start() {
        const std::wstring eventName =
            L"krvn-sink-client-" + std::to_wstring(::GetCurrentProcessId());
        const KRVN::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        std::wstring commandLine =
            std::wstring(L"\"") + KRVN_SINK_CLIENT + L"\" " + eventName + L" 120";
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

TEST_F(FaultTest, ADeadClientsSinkNoLongerSwallowsPresses) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.2")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect({L"127.0.0.2", kPassword, disk.Port()}));

    SinkClient client;
    ASSERT_TRUE(client.Start());
    // While the client lives, its sink takes the press: no alarm.
    ASSERT_TRUE(Toggle());
    ::Sleep(1000);
    EXPECT_EQ(0u, disk.Events("unmount").size());

    ASSERT_TRUE(client.Kill());
    EXPECT_TRUE(PressReaches({&disk})) << "the press after the client died";
    EXPECT_TRUE(PressReaches({&disk})) << "the sink stays dropped";
    // Its change-icon sink is dead as well: a check reports to it in vain.
    ASSERT_EQ(S_OK, m_client.Servers()->RefreshState());
    EXPECT_TRUE(m_client.WaitForState(AllConnected, kWaitMs));
    EXPECT_TRUE(PressReaches({&disk}));
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
        const ULONGLONG deadline = ::GetTickCount64() + kWaitMs;
        while (m_calls.load() < count && ::GetTickCount64() < deadline) {
            ::Sleep(10);
        }
        return m_calls.load() >= count;
    }

private:
    const HRESULT m_result;
    std::atomic<long> m_calls{0};
};

TEST_F(FaultTest, OnlyADisconnectionDropsAFailingSink) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.2")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.2", disk)));
    ASSERT_EQ(S_OK, m_client.Communications()->SetSendRedButtonCallback(1));

    // Any other failure is the client's business: the press stays with it.
    const auto failing = KRVN::com::ComObject<FailingSink>::Make(E_FAIL);
    ASSERT_EQ(S_OK, m_client.Communications()->Advise(failing.get()));
    for (long press = 1; press <= 2; ++press) {
        ASSERT_TRUE(Toggle());
        ASSERT_TRUE(failing->WaitForCalls(press));
    }
    ::Sleep(1000);
    EXPECT_EQ(0u, disk.Events("unmount").size());

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
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", disk)));

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
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", disk)));

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

TEST_F(FaultTest, CallsAfterTheServiceStoppedFailInsteadOfHanging) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", disk)));
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
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.3")));
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.3", disk)));
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
