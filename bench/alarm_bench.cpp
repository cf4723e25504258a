// How much the server entry adds to an alarm: the socket alarm through
// ConnectorHolder over N open connections, the way an alarm pass makes it,
// against a plain loop of send calls on N open sockets, and the cost of one RPC alarm on loopback.
// Both sides talk to one substitute server process that stands for 200 servers (127.0.0.1 to
// 127.0.0.200 on one port). See README.md.
//
// Each figure is also printed as a line "row: <key> <N> <value> <baseline>
// <unit>" for bench/report.sh.

#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/com_object.h"
#include "common/unique_handle.h"
#include "connections/connector_holder.h"
#include "connections/qn_server.h"
#include "connections/rpc_connector.h"
#include "connections/winsock_session.h"
#include "bench/plain_alarm.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/wait.h"

namespace {

using krvn_bench::MakeServer;
using krvn_bench::Median;
using krvn_bench::OpenPlain;
using krvn_bench::ServerAddress;
using krvn_test::LogEvent;
using krvn_test::SubstituteServerProcess;

constexpr int kMaxServers = 200;

class Stopwatch {
public:
    Stopwatch() { ::QueryPerformanceCounter(&m_start); }
    double Microseconds() const {
        LARGE_INTEGER now;
        LARGE_INTEGER frequency;
        ::QueryPerformanceCounter(&now);
        ::QueryPerformanceFrequency(&frequency);
        return (now.QuadPart - m_start.QuadPart) * 1e6 / frequency.QuadPart;
    }

private:
    LARGE_INTEGER m_start;
};

bool BenchSocketAlarm(int servers, ULONG port, int rounds) {
    std::vector<std::unique_ptr<ConnectorHolder>> holders;
    std::vector<unique_socket> plain;
    for (int i = 0; i < servers; ++i) {
        const auto server = MakeServer(ServerAddress(i), port);
        holders.push_back(std::make_unique<ConnectorHolder>(server.get()));
        if (const std::int32_t code = holders.back()->Check()) {
            std::printf("probe of %ls failed: %d\n", ServerAddress(i).c_str(), code);
            return false;
        }
        plain.push_back(OpenPlain(i, port));
        if (!plain.back()) {
            std::printf("plain connection to %ls failed: %d\n", ServerAddress(i).c_str(),
                        ::WSAGetLastError());
            return false;
        }
    }

    std::vector<double> holderTimes;
    std::vector<double> plainTimes;
    int failures = 0;
    std::vector<SocketConnector*> connections;
    for (const auto& holder : holders) {
        connections.push_back(&holder->SocketTransport());
    }
    // As an alarm pass does it: one look at every connection for an end
    // already there, then each order on its open connection.
    const auto alarmThroughHolders = [&] {
        const Stopwatch watch;
        SocketConnector::NoticeEndedConnections(connections);
        for (const auto& holder : holders) {
            failures += !holder->SendAlarmNow();
        }
        holderTimes.push_back(watch.Microseconds());
    };
    const auto plainSends = [&] {
        const Stopwatch watch;
        for (const unique_socket& socket : plain) {
            failures += ::send(socket.get(), "unmount", 7, 0) != 7;
        }
        plainTimes.push_back(watch.Microseconds());
    };
    for (int round = 0; round < rounds; ++round) {
        // Alternate which side goes first after the pause.
        if (round % 2 == 0) {
            alarmThroughHolders();
            plainSends();
        } else {
            plainSends();
            alarmThroughHolders();
        }
        // Let the server read what arrived before the next round.
        krvn_test::SettleFor(20);
    }
    const double holderMedian = Median(holderTimes);
    const double plainMedian = Median(plainTimes);
    std::printf("%5d %15.1f %15.1f %15.2f %10.2f %9d\n", servers, holderMedian, plainMedian,
                holderMedian / servers, holderMedian / plainMedian, failures);
    std::printf("row: holder_alarm %d %.1f %.1f us\n", servers, holderMedian, plainMedian);
    return failures == 0;
}

bool BenchRpcAlarm(int calls) {
    const auto server = MakeServer(L"127.0.0.1", 0);
    RpcConnector connector(server.get());
    for (int i = 0; i < 3; ++i) {
        if (const std::int32_t code = connector.SendAlarm()) {
            std::printf("RPC alarm failed: %d\n", code);
            return false;
        }
    }
    std::vector<double> alarms;
    std::vector<double> probes;
    for (int i = 0; i < calls; ++i) {
        const Stopwatch alarm;
        connector.SendAlarm();
        alarms.push_back(alarm.Microseconds());
        const Stopwatch probe;
        connector.Connect();
        probes.push_back(probe.Microseconds());
    }
    std::printf("RPC over ncacn_np, %d calls each: alarm median %.2f ms (min %.2f), "
                "probe median %.2f ms (min %.2f)\n",
                calls, Median(alarms) / 1000,
                *std::min_element(alarms.begin(), alarms.end()) / 1000, Median(probes) / 1000,
                *std::min_element(probes.begin(), probes.end()) / 1000);
    std::printf("row: rpc_alarm_median 1 %.2f - ms\n", Median(alarms) / 1000);
    std::printf("row: rpc_alarm_min 1 %.2f - ms\n",
                *std::min_element(alarms.begin(), alarms.end()) / 1000);
    std::printf("row: rpc_probe_median 1 %.2f - ms\n", Median(probes) / 1000);
    std::printf("row: rpc_probe_min 1 %.2f - ms\n",
                *std::min_element(probes.begin(), probes.end()) / 1000);
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    int rounds = 31;
    int calls = 51;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring name = argv[i];
        if (name == L"--rounds") {
            rounds = std::max(1, _wtoi(argv[i + 1]));
        } else if (name == L"--rpc-calls") {
            calls = std::max(1, _wtoi(argv[i + 1]));
        }
    }

    const WinsockSession winsock;
    SubstituteServerProcess server;
    if (winsock.Status() != 0) {
        return 1;
    }
    if (const auto started = server.Start(L"--lifetime 600 --rpc --password secret --listen "
                                          L"127.0.0.1-127.0.0." +
                                          std::to_wstring(kMaxServers) + L":0");
        !started) {
        std::printf("%s\n", started.message());
        return 1;
    }
    std::printf("socket alarm, median of %d rounds (microseconds per round)\n", rounds);
    std::printf("%5s %15s %15s %15s %10s %9s\n", "N", "ConnectorHolder", "plain send",
                "holder/server", "ratio", "failures");
    bool ok = true;
    for (const int servers : {1, 10, 100, 200}) {
        ok = BenchSocketAlarm(servers, server.Port(), rounds) && ok;
    }
    ok = BenchRpcAlarm(calls) && ok;
    return ok ? 0 : 1;
}
