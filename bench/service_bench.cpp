// What the Tolvane service costs its clients and a press of the red button,
// measured out of process against the real service (see README.md):
//
// - cold: a client's first CoCreateInstance, which starts the service, up to
//   the first answered call;
// - warm: the round trip of one call to the running service;
// - press: from the virtual button's press to the last "unmount" that the
//   substitute disk servers log, for 10 and 100 listed servers;
// - memory: the service's working set, threads and handles while it checks 100
//   servers back to back (ConnectCheckDelay 0).
//
// Each figure is also printed as a line "row: <key> <N> <value> <baseline>
// <unit>" for bench/report.sh.
//
//   service_bench [--rounds R] [--calls M] [--ticks T]   (defaults 5, 2000, 100)

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/e2e/service/process_usage.h"
#include "tests/e2e/service/service_client.h"
#include "tests/e2e/service/tolvane_service.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/virtual_button.h"
#include "tests/support/wait.h"

namespace {

using namespace krvn_e2e;
using krvn_test::LogEvent;
using krvn_test::SubstituteServerProcess;
using krvn_test::VirtualButton;

constexpr wchar_t kPassword[] = L"secret";
constexpr DWORD kQuietCheckDelay = 600;
constexpr DWORD kWaitMs = 30000;
// Time for the watcher to wait again after a press before the next change.
constexpr DWORD kSettleMs = 300;

double NowMs() {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

// row: the key and N of the report's row, e.g. "service_press 10".
void Report(const char* what, const std::string& row, std::vector<double> values,
            const char* unit) {
    if (values.empty()) {
        std::printf("%-34s no samples\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    std::printf("%-34s median %9.3f %s   min %9.3f   max %9.3f   (n=%zu)\n", what,
                values[values.size() / 2], unit, values.front(), values.back(), values.size());
    std::printf("row: %s %.3f - %s\n", row.c_str(), values[values.size() / 2], unit);
}

bool Check(const ::testing::AssertionResult& result, const char* step) {
    if (!result) {
        std::printf("%s: %s\n", step, result.message());
    }
    return static_cast<bool>(result);
}

bool Check(HRESULT hr, const char* step) {
    if (FAILED(hr)) {
        std::printf("%s: 0x%08lx\n", step, static_cast<unsigned long>(hr));
    }
    return SUCCEEDED(hr);
}

// A freshly installed, stopped service with no servers, watching the button.
bool Prepare(DWORD checkDelay) {
    if (!Check(StopService(), "stop") || !Check(Tolvane(L"-UnregServer"), "-UnregServer")) {
        return false;
    }
    ClearSettings();
    SetConnectCheckDelay(checkDelay);
    SetComPortSetting(VirtualButton::Port());
    VirtualButton::Release();
    VirtualButton::ForgetDtr();
    return Check(Tolvane(L"-Service"), "-Service");
}

bool ColdStart(int rounds) {
    if (!Prepare(kQuietCheckDelay)) {
        return false;
    }
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        if (!Check(StopService(), "stop")) {
            return false;
        }
        const double start = NowMs();
        KRVN::com_ptr<IQNServers> servers;
        if (!Check(::CoCreateInstance(CLSID_QNServers, nullptr, CLSCTX_LOCAL_SERVER, IID_IQNServers,
                                      servers.put_void()),
                   "CoCreateInstance")) {
            return false;
        }
        LONG count = 0;
        servers->get_Count(&count);
        times.push_back(NowMs() - start);
    }
    Report("cold start to first answer", "cold_start -", times, "ms");
    return true;
}

bool WarmCalls(int calls) {
    ServiceClient client;
    if (!Check(client.Connect(), "connect")) {
        return false;
    }
    std::vector<double> count;
    std::vector<double> port;
    for (int i = 0; i < calls; ++i) {
        double start = NowMs();
        client.Count();
        count.push_back((NowMs() - start) * 1000.0);
        start = NowMs();
        client.ComPort();
        port.push_back((NowMs() - start) * 1000.0);
    }
    Report("warm call: Count", "warm_count -", count, "us");
    Report("warm call: ComPort (a BSTR back)", "warm_comport -", port, "us");
    return true;
}

// Milliseconds since midnight UTC of a log time ("2026-12-09T10:57:01.123Z").
double LogTimeMs(const std::string& line) {
    const size_t t = line.find('T');
    int h = 0;
    int m = 0;
    double s = 0;
    if (t == std::string::npos ||
        std::sscanf(line.c_str() + t + 1, "%d:%d:%lfZ", &h, &m, &s) != 3) {
        return -1;
    }
    return (h * 60 + m) * 60000.0 + s * 1000.0;
}

double SystemTimeMs() {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    return ((now.wHour * 60 + now.wMinute) * 60 + now.wSecond) * 1000.0 + now.wMilliseconds;
}

// The log time of the last "unmount" line, once count of them are logged.
double LastUnmountMs(const SubstituteServerProcess& disks, size_t count) {
    if (!disks.WaitForEvents("unmount", count, kWaitMs)) {
        return -1;
    }
    double last = -1;
    std::string line;
    size_t seen = 0;
    const std::string text = disks.LogText();
    size_t begin = 0;
    while (seen < count && begin < text.size()) {
        const size_t end = text.find('\n', begin);
        line = text.substr(begin, end - begin);
        if (line.find(" unmount ") != std::string::npos) {
            ++seen;
            last = LogTimeMs(line);
        }
        begin = end == std::string::npos ? text.size() : end + 1;
    }
    return last;
}

bool PressToUnmount(SubstituteServerProcess& disks, int servers, int rounds) {
    if (!Prepare(kQuietCheckDelay)) {
        return false;
    }
    ServiceClient client;
    if (!Check(client.Connect(), "connect")) {
        return false;
    }
    for (int i = 0; i < servers; ++i) {
        const std::wstring address = L"127.0.0." + std::to_wstring(i + 1);
        if (client.TryConnect({address, kPassword, disks.Port()}) != 0) {
            std::printf("server %ls is not reachable\n", address.c_str());
            return false;
        }
    }
    if (!VirtualButton::WaitForDtr(kWaitMs)) {
        std::printf("the service does not watch %ls\n", VirtualButton::Port().c_str());
        return false;
    }
    std::vector<double> times;
    size_t unmounts = disks.Events("unmount").size();
    for (int i = 0; i < 2 * rounds; ++i) {
        const double pressed = SystemTimeMs();
        const bool changed = i % 2 == 0 ? VirtualButton::Press() : VirtualButton::Release();
        unmounts += servers;
        const double last = LastUnmountMs(disks, unmounts);
        if (!changed || last < 0) {
            std::printf("press %d: not every server logged unmount\n", i);
            return false;
        }
        times.push_back(last >= pressed ? last - pressed : last + 86400000.0 - pressed);
        krvn_test::SettleFor(kSettleMs);
    }
    const std::string what = "press to last unmount, " + std::to_string(servers) + " servers";
    Report(what.c_str(), "service_press " + std::to_string(servers), times, "ms");
    return true;
}

// 50 socket servers whose substitute closes every connection soon after its
// handshake, so that each tick connects again, and 50 RPC servers, each
// opened and closed at every tick; the RPC log counts the ticks.
bool MemoryUnderTicks(int ticks) {
    constexpr int kSocketServers = 50;
    constexpr int kRpcServers = 50;
    constexpr DWORD kSampleMs = 1000;
    constexpr int kShowEvery = 10;
    constexpr int kWarmUpTicks = 5;
    // Within the substitute servers' own lifetime.
    constexpr DWORD kLimitMs = 150000;
    SubstituteServerProcess sockets;
    SubstituteServerProcess rpc;
    if (!Check(sockets.Start(L"--listen 127.0.0.1-127.0.0.50:0 --password secret --close-after 20"),
               "socket servers") ||
        !Check(rpc.Start(L"--rpc --password secret"), "RPC server") || !Prepare(0)) {
        return false;
    }
    ServiceClient client;
    if (!Check(client.Connect(), "connect")) {
        return false;
    }
    for (int i = 0; i < kSocketServers; ++i) {
        client.Add({L"127.0.0." + std::to_wstring(i + 1), kPassword, sockets.Port()});
    }
    for (int i = 0; i < kRpcServers; ++i) {
        client.Add({L"rpc-" + std::to_wstring(i + 1), kPassword, 0});
    }
    client.Servers()->RefreshState();
    const KRVN::unique_handle process = FindProcess(L"Tolvane.exe");
    const DWORD service = process ? ::GetProcessId(process.get()) : 0;
    std::printf("memory with %d servers, ConnectCheckDelay 0 (a tick checks every server):\n",
                kSocketServers + kRpcServers);
    std::printf("  %8s %6s %12s %12s %8s %8s\n", "seconds", "ticks", "working set", "peak",
                "threads", "handles");
    const ULONGLONG start = ::GetTickCount64();
    int done = 0;
    int shown = -kShowEvery;
    std::vector<double> workingSets;
    std::vector<size_t> handles;
    ProcessUsage last;
    size_t maxThreads = 0;
    while (done < ticks && ::GetTickCount64() - start < kLimitMs) {
        krvn_test::PauseFor(kSampleMs);
        done = static_cast<int>(rpc.Events("RemoteOpen").size() / kRpcServers);
        const ProcessUsage usage = MeasureProcess(service);
        if (!usage.valid) {
            std::printf("  cannot read the service's usage: %lu\n", ::GetLastError());
            return false;
        }
        last = usage;
        maxThreads = std::max(maxThreads, usage.threads);
        if (done >= kWarmUpTicks) {
            workingSets.push_back(usage.workingSet / 1024.0);
            handles.push_back(usage.handles);
        }
        if (done - shown >= kShowEvery || done >= ticks) {
            shown = done;
            std::printf("  %8.1f %6d %8zu KiB %8zu KiB %8zu %8zu\n",
                        (::GetTickCount64() - start) / 1000.0, done, usage.workingSet / 1024,
                        usage.peakWorkingSet / 1024, usage.threads, usage.handles);
        }
    }
    if (workingSets.size() >= 2) {
        std::printf("  working set from tick %d to %d: %.0f KiB -> %.0f KiB (%+.0f KiB)\n",
                    kWarmUpTicks, done, workingSets.front(), workingSets.back(),
                    workingSets.back() - workingSets.front());
        const int servers = kSocketServers + kRpcServers;
        std::printf("row: working_set %d %.0f %.0f KiB\n", servers, workingSets.back(),
                    workingSets.front());
        std::printf("row: peak_working_set %d %zu - KiB\n", servers, last.peakWorkingSet / 1024);
        std::printf("row: threads %d %zu - count\n", servers, maxThreads);
        std::printf("row: handles %d %zu %zu count\n", servers, handles.back(), handles.front());
        std::printf("row: ticks %d %d - ticks\n", servers, done);
    }
    return true;
}

int Option(int argc, wchar_t** argv, const wchar_t* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], name) == 0) {
            return std::max(1, _wtoi(argv[i + 1]));
        }
    }
    return fallback;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = Option(argc, argv, L"--rounds", 5);
    const int calls = Option(argc, argv, L"--calls", 2000);
    const int ticks = Option(argc, argv, L"--ticks", 100);
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 3;
    }
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                           RPC_C_IMP_LEVEL_DELEGATE, nullptr, EOAC_NONE, nullptr);
    bool ok = ColdStart(rounds) && WarmCalls(calls);
    if (ok) {
        SubstituteServerProcess disks;
        ok = Check(disks.Start(L"--listen 127.0.0.1-127.0.0.100:0 --password secret"),
                   "substitute servers") &&
             PressToUnmount(disks, 10, rounds) && PressToUnmount(disks, 100, rounds);
    }
    ok = ok && MemoryUnderTicks(ticks);
    StopService();
    Tolvane(L"-UnregServer");
    ClearSettings();
    ::CoUninitialize();
    return ok ? 0 : 1;
}
