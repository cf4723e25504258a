// How long the whole alarm takes from the red button, and what one check of
// the server list costs. Needs the virtual red button (bench/run.sh sets it
// up) and one substitute server for 127.0.0.1 to 127.0.0.200. See README.md.
//
// - For N = 1, 10, 100, 200 connected socket servers: from the moment the
//   button closes to the last "unmount" the substitute server logged,
//   through a fresh AlarmManager, its port watcher and its alarm pass;
//   beside it the same measure for a plain loop of send("unmount") on N
//   open sockets, and the ratio of the two.
// - For N = 10 and 100: the same press with an RPC server listed first that
//   answers its probe but never an order, against the press without it.
//   Both kinds of press come after the same quiet time, in turns, since a
//   press after ten quiet seconds is slower than one 50 ms after the last.
// - The CPU time of one connection-checker tick over 100 connected socket
//   servers (nothing is sent: every connection is up).
//
// Each figure is also printed as a line "row: <key> <N> <value> <baseline>
// <unit>" for bench/report.sh.

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/com_object.h"
#include "com/unique_couninitialize.h"
#include "common/unique_handle.h"
#include "config/registry_store.h"
#include "service/connect_checker.h"
#include "connections/qn_server.h"
#include "service/alarm_manager.h"
#include "service/event_reporter.h"
#include "bench/plain_alarm.h"
#include "tests/support/environment.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/virtual_button.h"
#include "tests/support/wait.h"

namespace {

using krvn_bench::MakeServer;
using krvn_bench::Median;
using krvn_bench::OpenPlain;
using krvn_bench::ServerAddress;
using krvn_test::LogEvent;
using krvn_test::SubstituteServerProcess;
using krvn_test::VirtualButton;

constexpr int kMaxServers = 200;
constexpr int kTickServers = 100;
constexpr DWORD kWaitMs = 20000;
// An alarm pass gives up on a server still busy after about this long; the
// watcher sees the next change only once its pass is over.
constexpr DWORD kPassBoundMs = 10000;

// Milliseconds since midnight UTC, the clock of the substitute server's log.
long long NowMs() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    return ((now.wHour * 60LL + now.wMinute) * 60 + now.wSecond) * 1000 + now.wMilliseconds;
}

bool Pressed() {
    return ::GetFileAttributesW(VirtualButton::StateFile(L"pressed").c_str()) !=
           INVALID_FILE_ATTRIBUTES;
}

void SetButton(bool pressed) {
    if (pressed) {
        VirtualButton::Press();
    } else {
        VirtualButton::Release();
    }
}

// Times (ms since midnight UTC) of the "unmount" lines the server logged.
std::vector<long long> UnmountTimes(const SubstituteServerProcess& server) {
    std::vector<long long> times;
    for (const LogEvent& unmount : server.Events("unmount")) {
        const std::string& at = unmount.time; // <date>T<hh:mm:ss.mmm>Z
        const auto field = [&](size_t from, size_t n) { return std::stoll(at.substr(from, n)); };
        times.push_back(((field(11, 2) * 60 + field(14, 2)) * 60 + field(17, 2)) * 1000 +
                        field(20, 3));
    }
    return times;
}

// Waits until count unmounts are logged; the time of the last one, or -1.
long long WaitForUnmounts(const SubstituteServerProcess& server, size_t count) {
    long long last = -1;
    krvn_test::WaitUntil(
        [&] {
            const auto times = UnmountTimes(server);
            if (times.size() < count) {
                return false;
            }
            last = *std::max_element(times.begin(), times.end());
            return true;
        },
        kWaitMs, 5);
    return last;
}

bool Listed(AlarmManager& manager, const std::wstring& address, ULONG port) {
    if (const std::int32_t code = manager.TryConnectAdd(MakeServer(address, port).get())) {
        std::printf("probe of %ls failed: %d\n", address.c_str(), code);
        return false;
    }
    return true;
}
// The port watchers' reports, printed among the figures: a port that fails
// explains a round without presses. The passes' own reports are left out.
class PrintedReports : public EventReporter {
public:
    void Report(const Event& event) override {
        if (event.id == MSG_ALARM_FINISHED) {
            ++m_passes;
            ::SetEvent(m_passEnded.get());
        }
        if (event.id != MSG_PORT_FAILED && event.id != MSG_PORT_WORKS_AGAIN) {
            return;
        }
        std::printf("port watcher: event %lu:", event.id);
        for (const std::wstring& insert : event.inserts) {
            std::printf(" %ls;", insert.c_str());
        }
        std::printf("\n");
    }

    // Alarm passes over so far, of every manager.
    long Passes() const { return m_passes; }

    // Waits, without taking the processor from the pass, until more than
    // passes alarm passes are over.
    bool WaitForPassAfter(long passes, DWORD boundMs) const {
        const ULONGLONG deadline = ::GetTickCount64() + boundMs;
        while (m_passes == passes) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) {
                return false;
            }
            ::WaitForSingleObject(m_passEnded.get(), static_cast<DWORD>(deadline - now));
        }
        return true;
    }

private:
    std::atomic<long> m_passes{0};
    const KRVN::unique_event m_passEnded = KRVN::unique_event::create();
};

PrintedReports g_reports;

// Changes the button and waits for its pass, then for count unmounts in
// all: the log is read only once the pass is over, so that reading it does
// not compete with the orders. The time from the change to the last
// unmount, or -1.
long long TimedPress(const SubstituteServerProcess& server, size_t count, DWORD passBoundMs) {
    const long passes = g_reports.Passes();
    const long long start = NowMs();
    SetButton(!Pressed());
    if (!g_reports.WaitForPassAfter(passes, passBoundMs + kWaitMs)) {
        std::printf("the alarm pass did not end within its bound\n");
        return -1;
    }
    const long long last = WaitForUnmounts(server, count);
    return last < 0 ? -1 : last - start;
}

// A manager with n connected socket servers, watching the button's port.
// With an RPC server listed first, that one takes the first address (it
// sorts first) and the socket servers the next n.
std::unique_ptr<AlarmManager> MakeManager(int n, ULONG port, const std::wstring& portName,
                                          bool rpcFirst = false) {
    // The DTR flag stays after a port is closed; Start may open the port
    // stored by an earlier manager.
    VirtualButton::ForgetDtr();
    auto manager = std::make_unique<AlarmManager>();
    manager->Start(g_reports);
    if (rpcFirst && !Listed(*manager, ServerAddress(0), 0)) {
        return nullptr;
    }
    for (int i = rpcFirst ? 1 : 0, end = i + n; i < end; ++i) {
        if (!Listed(*manager, ServerAddress(i), port)) {
            return nullptr;
        }
    }
    manager->SetComPort(portName);
    // 100 ms for the watcher to begin its wait on the port.
    if (!VirtualButton::WaitForDtr(kWaitMs, 100)) {
        std::printf("the port watcher did not raise DTR on %ls\n", portName.c_str());
        return nullptr;
    }
    return manager;
}

// The median press time (ms), or -1 when the bench could not run.
double BenchButton(const SubstituteServerProcess& server, int n, int rounds,
                   const std::wstring& portName) {
    const auto manager = MakeManager(n, server.Port(), portName);
    std::vector<unique_socket> plain;
    for (int i = 0; i < n && manager; ++i) {
        plain.push_back(OpenPlain(i, server.Port()));
        if (!plain.back()) {
            std::printf("plain connection to %ls failed\n", ServerAddress(i).c_str());
            return -1;
        }
    }
    if (!manager) {
        return -1;
    }
    std::vector<double> button;
    std::vector<double> loop;
    size_t expected = UnmountTimes(server).size();
    for (int round = 0; round < rounds; ++round) {
        // Press and release are both changes of DSR: each is one alarm pass.
        for (int change = 0; change < 2; ++change) {
            expected += n;
            const long long took = TimedPress(server, expected, 0);
            if (took < 0) {
                std::printf("N=%d: the alarm pass did not reach every server\n", n);
                return -1;
            }
            button.push_back(static_cast<double>(took));
            krvn_test::PauseFor(50);
        }
        const long long start = NowMs();
        for (const unique_socket& socket : plain) {
            ::send(socket.get(), "unmount", 7, 0);
        }
        expected += n;
        const long long last = WaitForUnmounts(server, expected);
        if (last < 0) {
            std::printf("N=%d: the plain loop did not reach every server\n", n);
            return -1;
        }
        loop.push_back(static_cast<double>(last - start));
        krvn_test::PauseFor(50);
    }
    const double buttonMs = Median(button);
    const double loopMs = Median(loop);
    std::printf("%5d %18.0f %18.0f %10.2f\n", n, buttonMs, loopMs,
                loopMs > 0 ? buttonMs / loopMs : 0.0);
    std::printf("row: button_press %d %.0f %.0f ms\n", n, buttonMs, loopMs);
    return buttonMs;
}

// Changes of the button with n connected socket servers, in turns with and
// without an RPC server listed first that answers its probe but never an
// order; the medians of both kinds are compared. Each press comes a pass
// bound after the one before and once its pass is over. Every press with the
// hung server has one of its own, which gets a new order; it is stopped
// before the press without it, so that it answers the orders it holds and no
// worker of the manager stays on it. fastMs is the press 50 ms after the last
// (BenchButton), for reference.
bool BenchHungButton(const SubstituteServerProcess& server, int n, int rounds,
                     const std::wstring& portName, double fastMs) {
    std::unique_ptr<AlarmManager> manager;
    // Declared after the manager, so that it is stopped before the manager goes.
    SubstituteServerProcess hung;
    const auto startHung = [&hung] {
        const auto started = hung.Start(L"--rpc --rpc-hang alarm --password secret");
        if (!started) {
            std::printf("%s\n", started.message());
        }
        return static_cast<bool>(started);
    };
    if (!startHung()) {
        return false;
    }
    manager = MakeManager(n, server.Port(), portName, true);
    if (!manager) {
        return false;
    }
    std::vector<double> with;
    std::vector<double> without;
    size_t expected = UnmountTimes(server).size();
    long long lastPress = NowMs();
    for (int press = 0; press < 2 * rounds; ++press) {
        const bool hungListed = press % 2 == 0;
        if (hungListed && press > 0 && !(startHung() && Listed(*manager, ServerAddress(0), 0))) {
            return false;
        }
        if (!hungListed && !(hung.Stop() && manager->RemoveServer(ServerAddress(0)))) {
            std::printf("N=%d: the hung server could not be stopped and removed\n", n);
            return false;
        }
        // Every press after the same quiet time.
        krvn_test::PauseFor(static_cast<DWORD>(std::max(0LL, lastPress + kPassBoundMs - NowMs())));
        lastPress = NowMs();
        expected += n;
        const long long took = TimedPress(server, expected, kPassBoundMs);
        if (took < 0) {
            std::printf("N=%d, hung server %s: the alarm pass did not reach every server\n", n,
                        hungListed ? "listed" : "removed");
            return false;
        }
        (hungListed ? with : without).push_back(static_cast<double>(took));
    }
    const double withMs = Median(with);
    const double withoutMs = Median(without);
    std::printf("%5d %18.0f %18.0f %10.2f %18.0f\n", n, withMs, withoutMs,
                withoutMs > 0 ? withMs / withoutMs : 0.0, fastMs);
    std::printf("row: button_press_hung %d %.0f %.0f ms\n", n, withMs, withoutMs);
    return true;
}

double ThreadCpuMs() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 1e4;
}

bool BenchTick(const SubstituteServerProcess& server, int ticks, const std::wstring& portName) {
    const auto manager = MakeManager(kTickServers, server.Port(), portName);
    if (!manager) {
        return false;
    }
    // One tick of the real checker code, run on this thread so that its CPU
    // time can be read; the manager's own checker sleeps for an hour.
    ConnectChecker checker;
    checker.SetOwner(manager.get());
    // Thread CPU times advance in scheduler steps (10 ms under Wine), so the
    // CPU time is taken over all ticks together.
    std::vector<double> wall;
    const double cpuStart = ThreadCpuMs();
    for (int i = 0; i < ticks; ++i) {
        const ULONGLONG wallStart = ::GetTickCount64();
        checker.CheckAndNotify();
        wall.push_back(static_cast<double>(::GetTickCount64() - wallStart));
    }
    const double cpuPerTick = (ThreadCpuMs() - cpuStart) / ticks;
    std::printf("checker tick over %d connected socket servers, %d ticks: CPU %.2f ms per tick "
                "(%.1f us per server), wall median %.0f ms; state %ld\n",
                kTickServers, ticks, cpuPerTick, cpuPerTick * 1000 / kTickServers, Median(wall),
                manager->CurrentState());
    std::printf("row: tick_cpu %d %.2f - ms\n", kTickServers, cpuPerTick);
    std::printf("row: tick_wall %d %.0f - ms\n", kTickServers, Median(wall));
    return manager->CurrentState() == AllConnected;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring portName = VirtualButton::Port();
    if (portName.empty()) {
        portName = L"COM12";
    }
    int rounds = 5;
    int ticks = 101;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring name = argv[i];
        if (name == L"--rounds") {
            rounds = std::max(1, _wtoi(argv[i + 1]));
        } else if (name == L"--ticks") {
            ticks = std::max(1, _wtoi(argv[i + 1]));
        }
    }
    if (krvn_test::Env("KRVN_VBUTTON_STATE").empty()) {
        std::printf("no virtual red button: run through bench/run.sh\n");
        return 1;
    }

    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    // A clean settings key: nothing listed at start, and the managers' own
    // checkers tick only once.
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, KRVN::kAlarmKeyPath);
    KRVN::unique_hkey key;
    const DWORD hour = 3600;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, KRVN::kAlarmKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, key.put(), nullptr);
    ::RegSetValueExW(key.get(), L"ConnectCheckDelay", 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&hour), sizeof hour);
    const auto cleanUp = KRVN::scope_exit([] {
        SetButton(false);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, KRVN::kAlarmKeyPath);
    });

    SubstituteServerProcess server;
    if (const auto started = server.Start(L"--lifetime 900 --password secret --listen "
                                          L"127.0.0.1-127.0.0." +
                                          std::to_wstring(kMaxServers) + L":0");
        !started) {
        std::printf("%s\n", started.message());
        return 1;
    }
    SetButton(false);
    std::printf("red button to the last unmount logged, median of %d rounds (ms; log clock 1 ms)\n",
                rounds);
    std::printf("%5s %18s %18s %10s\n", "N", "button+alarm pass", "plain send loop", "ratio");
    bool ok = true;
    std::map<int, double> withoutHung;
    for (const int n : {1, 10, 100, kMaxServers}) {
        withoutHung[n] = BenchButton(server, n, rounds, portName);
        ok = withoutHung[n] >= 0 && ok;
    }
    std::printf("the same after a quiet time, in turns with and without an RPC server listed first "
                "that never answers an order, median of %d presses each (ms)\n",
                rounds);
    std::printf("%5s %18s %18s %10s %18s\n", "N", "with hung server", "without", "ratio",
                "without, no quiet");
    for (const int n : {10, 100}) {
        ok = BenchHungButton(server, n, rounds, portName, withoutHung[n]) && ok;
    }
    ok = BenchTick(server, ticks, portName) && ok;
    return ok ? 0 : 1;
}
