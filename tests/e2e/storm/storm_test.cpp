// Several clients at once, C++ and script, change and read the server list,
// send alarms and restart the checker while the checker ticks as often as it
// may and the red button is pressed at a steady rate. Nothing may hang; every
// press and every SendAlarm must reach the standing servers exactly once;
// afterwards the service, the registry and the clients must agree on the
// list, and the service must hold no more handles, threads or memory than
// before.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "com/unique_couninitialize.h"
#include "config/image_validation.h"
#include "tests/e2e/service/button_service_test.h"
#include "tests/e2e/service/disk_server.h"
#include "tests/e2e/service/process_usage.h"
#include "tests/e2e/service/script_run.h"
#include "tests/e2e/service/service_client.h"
#include "tests/e2e/storm/stored_server_list.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/wait.h"
#include "tests/unit/connections/refusing_port.h"

namespace krvn_e2e {
namespace {

// Listed before the storm and never removed: every alarm pass reaches them.
const std::wstring kAnchors[] = {L"127.0.1.1", L"127.0.1.2"};
// Its connections are closed by the server 20 ms after the handshake, so
// every tick connects again: its handshakes count the ticks.
constexpr wchar_t kFlapping[] = L"127.0.1.9";

constexpr int kCppClients = 3;
constexpr int kScriptClients = 2;
constexpr int kOwnAddresses = 3;
constexpr int kOperations = 8;
constexpr int kCppRounds = 3 * kOperations;
constexpr int kScriptRounds = 3;
constexpr int kPresses = 16;
constexpr DWORD kPressPeriodMs = 700;
constexpr DWORD kWaitMs = 10000;
constexpr DWORD kStormBoundMs = 240000;
// Handshakes with the flapping server in the long run of ticks, each tick
// made at once by a refresh.
constexpr size_t kLongRunTicks = 300;
// The shortest period between two checks.
constexpr DWORD kFastestCheckDelaySeconds = 1;
constexpr DWORD kLongRunBoundMs = 180000;

// Wine's COM runtime keeps one registry key open in the server for each
// query of an interface that is not registered, and a script's CreateObject
// makes one; the service's own code opens none per call. So registry keys
// may grow by the number of objects the script clients create, no more.
constexpr size_t kScriptObjects = kScriptClients * (1 + 3 * kScriptRounds);

using Slack = krvn_e2e::UsageSlack;
constexpr size_t kMiB = 1024 * 1024;
// From the warmed-up baseline to the first storm: the pool of call threads
// and their handles may reach a new high-water mark.
constexpr Slack kFirstStormSlack{40, kScriptObjects, 10, 16 * kMiB};
// Between two storms alike: what grows with the work shows (each storm makes
// well over a hundred calls), while a high-water mark the first storm fell a
// little short of may still be reached.
constexpr Slack kRepeatStormSlack{16, kScriptObjects, 4, 8 * kMiB};
// Over a long run of ticks with no client.
constexpr Slack kTicksSlack{8, 0, 4, 8 * kMiB};

std::wstring OwnAddress(int client, int slot) {
    return L"127.0.2." + std::to_wstring(10 * client + slot + 1);
}

std::wstring UnreachableAddress(int client) {
    return L"127.0.3." + std::to_wstring(client + 1);
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

size_t UnmountsAt(const SubstituteServerProcess& disks, const std::wstring& address) {
    const std::string prefix = Narrow(address) + ":";
    const auto events = disks.Events("unmount");
    return static_cast<size_t>(std::count_if(events.begin(), events.end(), [&](const auto& event) {
        return event.where.compare(0, prefix.size(), prefix) == 0;
    }));
}

// What one client did and believes at its end.
struct ClientOutcome {
    std::set<std::wstring> listed; // its own addresses it believes listed
    int alarms = 0;                // SendAlarm calls that reached the service
    std::string failure;           // the first result it did not expect
};

// The ports and addresses every client knows.
struct StormSetting {
    ULONG diskPort = 0;
    ULONG refusedPort = 0;
    std::set<std::wstring> universe; // every address any client may see listed
};

class CppClient {
public:
    CppClient(int index, const StormSetting& setting) : m_index(index), m_setting(setting) {}

    ClientOutcome Run(int rounds) {
        const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
        if (const HRESULT hr = m_service.Connect(); FAILED(hr)) {
            Fail("Connect", hr);
            return m_outcome;
        }
        for (int round = 0; round < rounds && m_outcome.failure.empty(); ++round) {
            Operate(round);
        }
        m_service.Disconnect();
        return m_outcome;
    }

private:
    void Fail(const std::string& what, HRESULT hr) {
        if (m_outcome.failure.empty()) {
            std::ostringstream text;
            text << "client " << m_index << ": " << what << " gave 0x" << std::hex << hr;
            m_outcome.failure = text.str();
        }
    }

    bool Known(const ServerSettings& server) const {
        return m_setting.universe.count(server.address) != 0;
    }

    void Operate(int round) {
        const std::wstring own = OwnAddress(m_index, round / kOperations % kOwnAddresses);
        const ServerSettings settings{own, kPassword, m_setting.diskPort};
        switch ((round + m_index) % kOperations) {
        case 0:
            if (const HRESULT hr = m_service.TryConnect(settings); hr != 0) {
                return Fail("TryConnect of a reachable server", hr);
            }
            m_outcome.listed.insert(own);
            break;
        case 1:
            if (const HRESULT hr = m_service.Add(settings); hr != S_OK) {
                return Fail("Add", hr);
            }
            m_outcome.listed.insert(own);
            break;
        case 2:
            if (const HRESULT hr = m_service.Remove(own); hr != S_OK) {
                return Fail("Remove", hr);
            }
            m_outcome.listed.erase(own);
            break;
        case 3: {
            // The list changes under it: a position past the end is refused,
            // any other gives a server that some client listed.
            const LONG count = m_service.Count();
            const ServerSettings item = m_service.Item(round % std::max<LONG>(count, 1));
            if (!item.address.empty() && !Known(item)) {
                return Fail("Item gave a stranger", E_UNEXPECTED);
            }
            if (m_service.Find(kAnchors[round % 2]).address != kAnchors[round % 2]) {
                return Fail("Item of a standing server", E_UNEXPECTED);
            }
            break;
        }
        case 4: {
            std::vector<ServerSettings> servers;
            if (const HRESULT hr = m_service.Enumerate(servers); hr != S_OK) {
                return Fail("_NewEnum", hr);
            }
            size_t anchors = 0;
            for (const auto& server : servers) {
                if (!Known(server)) {
                    return Fail("_NewEnum gave a stranger", E_UNEXPECTED);
                }
                anchors += server.address == kAnchors[0] || server.address == kAnchors[1];
            }
            if (anchors != 2) {
                return Fail("_NewEnum lost a standing server", E_UNEXPECTED);
            }
            break;
        }
        case 5: {
            // -1 when some server did not take it (one not yet checked).
            const HRESULT hr = m_service.Servers()->SendAlarm();
            if (hr != S_OK && hr != static_cast<HRESULT>(0xFFFFFFFF)) {
                return Fail("SendAlarm", hr);
            }
            ++m_outcome.alarms;
            break;
        }
        case 6:
            if (const HRESULT hr = m_service.Servers()->RefreshState(); hr != S_OK) {
                return Fail("RefreshState", hr);
            }
            break;
        case 7: {
            const std::wstring nowhere = UnreachableAddress(m_index);
            if (m_service.TryConnect({nowhere, kPassword, m_setting.refusedPort}) == 0) {
                return Fail("TryConnect of an unreachable server", S_OK);
            }
            if (!m_service.Find(nowhere).address.empty()) {
                return Fail("an unreachable server was listed", E_UNEXPECTED);
            }
            break;
        }
        }
    }

    const int m_index;
    const StormSetting& m_setting;
    ServiceClient m_service;
    ClientOutcome m_outcome;
};

// The script client's commands: per round, check and list one of its
// servers, enumerate, add another, find a standing one, alarm, refresh,
// remove the first and check an unreachable one.
std::wstring ScriptCommands(int client, int rounds, const StormSetting& setting) {
    const std::wstring disk =
        L" " + std::wstring(kPassword) + L" " + std::to_wstring(setting.diskPort) + L" ";
    const std::wstring refused =
        L" " + std::wstring(kPassword) + L" " + std::to_wstring(setting.refusedPort) + L" ";
    std::wstring commands;
    for (int round = 0; round < rounds; ++round) {
        const std::wstring first = OwnAddress(client, round % kOwnAddresses);
        const std::wstring second = OwnAddress(client, (round + 1) % kOwnAddresses);
        commands += L"try " + first + disk + L"each add " + second + disk + L"find " +
                    kAnchors[round % 2] + L" alarm refresh remove " + first + L" try " +
                    UnreachableAddress(client) + refused;
    }
    return commands;
}

ClientOutcome RunScriptClient(int client, int rounds, const StormSetting& setting) {
    ClientOutcome outcome;
    std::vector<std::string> lines;
    if (auto ran = RunScript(ScriptCommands(client, rounds, setting), lines, kStormBoundMs); !ran) {
        outcome.failure = "script client " + std::to_string(client) + ": " + ran.message();
        return outcome;
    }
    const std::string unreachable = Narrow(UnreachableAddress(client));
    size_t enumerations = 0;
    size_t anchorsSeen = 0;
    for (const std::string& line : lines) {
        std::istringstream words(line);
        std::string verb;
        std::string address;
        std::string result;
        words >> verb >> address >> result;
        if (verb == "try" && address == unreachable) {
            if (result != "unlisted") {
                outcome.failure = "an unreachable server was listed: " + line;
            }
        } else if (verb == "try") {
            if (result != "listed") {
                outcome.failure = "a reachable server was not listed: " + line;
            }
            outcome.listed.insert(Widen(address));
        } else if (verb == "added") {
            outcome.listed.insert(Widen(address));
        } else if (verb == "removed") {
            outcome.listed.erase(Widen(address));
        } else if (verb == "alarm") {
            ++outcome.alarms;
        } else if (verb == "enumerated") {
            ++enumerations;
        } else if (verb == "each") {
            anchorsSeen += address == Narrow(kAnchors[0]) || address == Narrow(kAnchors[1]);
        } else if (verb != "found" && verb != "refreshed") {
            outcome.failure = "unexpected line: " + line;
        }
    }
    if (enumerations != static_cast<size_t>(rounds) || anchorsSeen != 2 * enumerations) {
        outcome.failure =
            "script client " + std::to_string(client) + ": the enumerations lost a standing server";
    }
    return outcome;
}

// A storm that outlives its bound is a deadlock: report it and end at once,
// since the futures' destructors would wait for the stuck calls.
void AwaitOrAbort(std::future<ClientOutcome>& client, ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    const auto left = std::chrono::milliseconds(deadline > now ? deadline - now : 0);
    if (client.wait_for(left) != std::future_status::ready) {
        std::cerr << "the storm did not end within " << kStormBoundMs << " ms: deadlock"
                  << std::endl;
        ::ExitProcess(4);
    }
}

class StormTest : public ButtonServiceTest {
protected:
    ::testing::AssertionResult StartPeers() {
        if (auto started = m_anchors.Start(L"--listen 127.0.1.1-127.0.1.2:0 --password secret");
            !started) {
            return started;
        }
        if (auto started = m_flapping.Start(std::wstring(L"--listen ") + kFlapping +
                                            L":0 --password secret --close-after 20");
            !started) {
            return started;
        }
        if (auto started = m_disks.Start(L"--listen 127.0.2.1-127.0.2.50:0 --password secret");
            !started) {
            return started;
        }
        m_setting.diskPort = m_disks.Port();
        m_setting.refusedPort = m_refusing.Port();
        m_setting.universe = {kAnchors[0], kAnchors[1], kFlapping};
        for (int client = 0; client < kCppClients + kScriptClients; ++client) {
            for (int slot = 0; slot < kOwnAddresses; ++slot) {
                m_setting.universe.insert(OwnAddress(client, slot));
            }
        }
        return ::testing::AssertionSuccess();
    }

    // The service checking as often as it may, with the standing servers listed.
    ::testing::AssertionResult InstallWithStandingServers() {
        if (auto installed = InstallWatching(kFastestCheckDelaySeconds); !installed) {
            return installed;
        }
        for (const auto& anchor : kAnchors) {
            if (const HRESULT hr = m_client.TryConnect({anchor, kPassword, m_anchors.Port()})) {
                return ::testing::AssertionFailure() << "TryConnect of a standing server: " << hr;
            }
        }
        if (const HRESULT hr = m_client.TryConnect({kFlapping, kPassword, m_flapping.Port()})) {
            return ::testing::AssertionFailure() << "TryConnect of the flapping server: " << hr;
        }
        const KRVN::unique_handle service = FindProcess(L"Tolvane.exe");
        m_serviceId = service ? ::GetProcessId(service.get()) : 0;
        if (m_serviceId == 0) {
            return ::testing::AssertionFailure() << "no Tolvane.exe process";
        }
        return ::testing::AssertionSuccess();
    }

    // Presses at a steady rate, each after the last was handled; returns how
    // many changes of the line it made.
    int PressSteadily(int presses) {
        int made = 0;
        for (; made < presses; ++made) {
            const ULONGLONG started = ::GetTickCount64();
            const size_t before = UnmountsAt(m_anchors, kAnchors[0]);
            m_held = !m_held;
            if (!(m_held ? VirtualButton::Press() : VirtualButton::Release())) {
                ADD_FAILURE() << "the button did not change";
                break;
            }
            // An alarm from a client may come first; the period then still
            // leaves the watcher time for the press.
            krvn_test::WaitUntil([&] { return UnmountsAt(m_anchors, kAnchors[0]) > before; },
                                 kWaitMs, 20);
            const ULONGLONG spent = ::GetTickCount64() - started;
            if (spent < kPressPeriodMs) {
                krvn_test::PauseFor(static_cast<DWORD>(kPressPeriodMs - spent));
            }
        }
        return made;
    }

    // The clients and the button at once; what each client did and believes.
    std::vector<ClientOutcome> Storm(int cppClients, int cppRounds, int scriptClients,
                                     int scriptRounds, int presses, int& pressed) {
        std::vector<std::future<ClientOutcome>> running;
        for (int client = 0; client < cppClients; ++client) {
            running.push_back(std::async(std::launch::async, [this, client, cppRounds] {
                return CppClient(client, m_setting).Run(cppRounds);
            }));
        }
        for (int client = kCppClients; client < kCppClients + scriptClients; ++client) {
            running.push_back(std::async(std::launch::async, [this, client, scriptRounds] {
                return RunScriptClient(client, scriptRounds, m_setting);
            }));
        }
        pressed = PressSteadily(presses);
        const ULONGLONG deadline = ::GetTickCount64() + kStormBoundMs;
        std::vector<ClientOutcome> outcomes;
        for (auto& client : running) {
            AwaitOrAbort(client, deadline);
            outcomes.push_back(client.get());
        }
        return outcomes;
    }

    // Waits until each standing server logged exactly this many unmounts
    // more than before, and no more come.
    ::testing::AssertionResult EveryPassArrived(const std::vector<size_t>& before, size_t passes) {
        for (size_t i = 0; i < 2; ++i) {
            const size_t expected = before[i] + passes;
            krvn_test::WaitUntil([&] { return UnmountsAt(m_anchors, kAnchors[i]) >= expected; },
                                 kWaitMs, 50);
        }
        krvn_test::QuietFor(1000);
        for (size_t i = 0; i < 2; ++i) {
            const size_t got = UnmountsAt(m_anchors, kAnchors[i]) - before[i];
            if (got != passes) {
                return ::testing::AssertionFailure()
                       << Narrow(kAnchors[i]) << " got " << got << " alarms for " << passes
                       << " passes (presses and SendAlarm calls)\n"
                       << m_anchors.LogText();
            }
        }
        return ::testing::AssertionSuccess();
    }

    std::vector<size_t> AnchorUnmounts() const {
        return {UnmountsAt(m_anchors, kAnchors[0]), UnmountsAt(m_anchors, kAnchors[1])};
    }

    ProcessUsage Usage(const char* when, int readings, const ProcessUsage& from = {},
                       const Slack& slack = {}) const {
        const ProcessUsage least = krvn_e2e::RestingUsage(m_serviceId, readings, &from, slack);
        std::cout << "service " << when << ": " << least << std::endl;
        return least;
    }

    static ::testing::AssertionResult NoGrowth(const ProcessUsage& before,
                                               const ProcessUsage& after, const Slack& slack) {
        const std::string growth = krvn_e2e::Growth(before, after, slack);
        if (!growth.empty()) {
            return ::testing::AssertionFailure() << growth;
        }
        return ::testing::AssertionSuccess();
    }

    // One storm; then every press and SendAlarm reached the standing
    // servers once, and the service, the registry and the clients agree.
    void StormAndAgree() {
        const std::vector<size_t> before = AnchorUnmounts();
        const ULONGLONG started = ::GetTickCount64();
        int pressed = 0;
        const std::vector<ClientOutcome> outcomes =
            Storm(kCppClients, kCppRounds, kScriptClients, kScriptRounds, kPresses, pressed);
        std::cout << "storm: " << ::GetTickCount64() - started << " ms" << std::endl;
        ASSERT_EQ(kPresses, pressed);

        std::set<std::wstring> believed = {kAnchors[0], kAnchors[1], kFlapping};
        size_t alarms = 0;
        for (const auto& outcome : outcomes) {
            EXPECT_EQ("", outcome.failure);
            believed.insert(outcome.listed.begin(), outcome.listed.end());
            alarms += static_cast<size_t>(outcome.alarms);
        }
        EXPECT_TRUE(EveryPassArrived(before, kPresses + alarms));

        // The service's list, by position and by enumeration, in list order.
        std::vector<ServerSettings> enumerated;
        ASSERT_EQ(S_OK, m_client.Enumerate(enumerated));
        ASSERT_EQ(static_cast<LONG>(enumerated.size()), m_client.Count());
        std::set<std::wstring> listed;
        for (size_t i = 0; i < enumerated.size(); ++i) {
            const ServerSettings item = m_client.Item(static_cast<LONG>(i));
            EXPECT_EQ(enumerated[i].address, item.address);
            EXPECT_EQ(kPassword, item.password);
            listed.insert(item.address);
        }
        EXPECT_EQ(believed, listed);

        // The registry's list: sound by the store's own rules, and the same
        // servers in the same order when read independently.
        const StoredValue stored = ReadServerListSetting();
        ASSERT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
        EXPECT_EQ(KRVN::ImageStatus::Ok,
                  KRVN::ValidateImage(stored.bytes.data(), stored.bytes.size()));
        std::vector<StoredServer> servers;
        std::string error;
        ASSERT_TRUE(ReadStoredServerList(stored.bytes, servers, error)) << error;
        ASSERT_EQ(enumerated.size(), servers.size());
        for (size_t i = 0; i < servers.size(); ++i) {
            EXPECT_EQ(enumerated[i].address, servers[i].address);
            EXPECT_EQ(kPassword, servers[i].password);
            EXPECT_EQ(std::to_wstring(enumerated[i].port), servers[i].port);
        }
    }

    SubstituteServerProcess m_anchors;
    SubstituteServerProcess m_flapping;
    SubstituteServerProcess m_disks;
    krvn_test::RefusingPort m_refusing;
    StormSetting m_setting;
    DWORD m_serviceId = 0;
    bool m_held = false;
};

TEST_F(StormTest, ClientsButtonAndCheckerAtOnce) {
    ASSERT_TRUE(StartPeers());
    ASSERT_TRUE(InstallWithStandingServers());

    // A short storm of the same width first: the call threads and connections
    // that the service keeps for as many concurrent callers, and what it sets
    // up once (type information), belong in the baseline.
    int pressed = 0;
    for (const auto& outcome : Storm(kCppClients, kOperations, kScriptClients, 1, 2, pressed)) {
        ASSERT_EQ("", outcome.failure);
    }
    const ProcessUsage baseline = Usage("before the storms", 5);

    // Two storms alike: what the first leaves behind may be a high-water
    // mark, what the second adds to it grows with the work.
    ProcessUsage afterStorm;
    for (int storm = 1; storm <= 2; ++storm) {
        SCOPED_TRACE("storm " + std::to_string(storm));
        const ProcessUsage& from = storm == 1 ? baseline : afterStorm;
        const Slack& slack = storm == 1 ? kFirstStormSlack : kRepeatStormSlack;
        ASSERT_NO_FATAL_FAILURE(StormAndAgree());
        const ProcessUsage after =
            Usage(storm == 1 ? "after the first storm" : "after the second storm", 1, from, slack);
        EXPECT_TRUE(NoGrowth(from, after, slack));
        afterStorm = after;
    }

    // A long run of ticks with nothing else going on, one refresh after the
    // other.
    const size_t handshakes = m_flapping.Events("password").size();
    const ULONGLONG ticking = ::GetTickCount64();
    ASSERT_TRUE(krvn_test::WaitUntil(
        [&] {
            m_client.Servers()->RefreshState();
            return m_flapping.Events("password").size() >= handshakes + kLongRunTicks;
        },
        kLongRunBoundMs, 0));
    std::cout << kLongRunTicks << " ticks: " << ::GetTickCount64() - ticking << " ms" << std::endl;
    const ProcessUsage afterTicks = Usage("after the ticks", 1, afterStorm, kTicksSlack);
    EXPECT_TRUE(NoGrowth(afterStorm, afterTicks, kTicksSlack));

    // And the button still works.
    const std::vector<size_t> last = AnchorUnmounts();
    EXPECT_EQ(1, PressSteadily(1));
    EXPECT_TRUE(EveryPassArrived(last, 1));
}

} // namespace
} // namespace krvn_e2e
