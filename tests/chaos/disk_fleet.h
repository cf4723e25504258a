#pragma once
// The campaign's dozen disk servers as processes (fleet_layout.h): started,
// killed, started again on the same address and port, stopped and continued,
// each in the mode the campaign gives it; and every order that reached each
// server, read from the logs of every process that ever served it ("unmount"
// lines over TCP, RemoteAlarm lines that succeeded over RPC, told apart by
// the password their context was opened with).

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/chaos/fleet_layout.h"
#include "tests/chaos/server_mode.h"
#include "tests/support/log_tail.h"
#include "tests/support/substitute_server_process.h"

namespace krvn_chaos {

class DiskFleet {
public:
    // Logs go to folder (kept); every process ends by itself after
    // lifetimeSeconds should the campaign not end it.
    DiskFleet(std::wstring folder, int lifetimeSeconds);
    ~DiskFleet();
    DiskFleet(const DiskFleet&) = delete;
    DiskFleet& operator=(const DiskFleet&) = delete;

    // Every process up in normal mode.
    ::testing::AssertionResult Start();
    // The target (a TCP slot or kRpcProcess) in mode from now on: stopped or
    // continued, killed, or killed and started again in the new mode on the
    // same address and port.
    ::testing::AssertionResult SetMode(int target, ServerMode mode, int parameterMs);
    // Killed and started again as it was.
    ::testing::AssertionResult Restart(int target);
    // Every process continued and ended.
    void End();

    ServerMode Mode(int target) const { return m_targets[target].mode; }
    // A TCP server's port; 0 for an RPC server.
    ULONG Port(int slot) const;

    // Reads what the logs gained since the last poll.
    void Poll();
    // Orders that reached the slot so far, and when (UTC milliseconds).
    size_t Arrivals(int slot) const { return m_arrivals[slot].size(); }
    long long ArrivalTime(int slot, size_t index) const { return m_arrivals[slot][index]; }
    // Oddities the logs showed since the last call: bytes other than an
    // order, RPC orders no listed server's password opened.
    std::vector<std::string> TakeNotes();

private:
    struct Target {
        std::unique_ptr<krvn_test::SubstituteServerProcess> process;
        std::unique_ptr<krvn_test::LogTail> log;
        ServerMode mode = ServerMode::Normal;
        int parameterMs = 0;
        int incarnation = 0;
        std::uint16_t port = 0;
        int unixPid = 0;
        // RPC contexts of the running process: ctx number to slot.
        std::vector<std::pair<std::string, int>> contexts;
        // Processes that served it before: kept for their logs.
        std::vector<std::unique_ptr<krvn_test::SubstituteServerProcess>> past;
    };

    ::testing::AssertionResult Launch(int target);
    ::testing::AssertionResult Kill(int target);
    ::testing::AssertionResult Signal(int target, const char* signal);
    void Read(int target);
    void Record(int target, const krvn_test::LogEvent& event);

    const std::wstring m_folder;
    const int m_lifetimeSeconds;
    Target m_targets[kFaultTargets];
    std::vector<long long> m_arrivals[kServers];
    std::vector<std::string> m_notes;
};

// Milliseconds of UTC time, the clock of the substitute servers' logs.
long long UtcMs();
// A log line's time as UtcMs; -1 when it cannot be read.
long long UtcMs(const std::string& logTime);

} // namespace krvn_chaos
