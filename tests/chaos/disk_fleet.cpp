#include "tests/chaos/disk_fleet.h"

#include <cstdio>

#include "common/unique_handle.h"
#include "tests/support/unix_process.h"

namespace krvn_chaos {

namespace {

constexpr DWORD kKillWaitMs = 10000;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

long long Milliseconds(const FILETIME& time) {
    return static_cast<long long>(
        ULARGE_INTEGER{{time.dwLowDateTime, time.dwHighDateTime}}.QuadPart / 10000);
}

int SlotOfPassword(const std::string& password) {
    for (int slot = 0; slot < kServers; ++slot) {
        if (Narrow(Password(slot)) == password) {
            return slot;
        }
    }
    return -1;
}

} // namespace

long long UtcMs() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return Milliseconds(now);
}

long long UtcMs(const std::string& logTime) {
    SYSTEMTIME at{};
    FILETIME time;
    if (std::sscanf(logTime.c_str(), "%hu-%hu-%huT%hu:%hu:%hu.%huZ", &at.wYear, &at.wMonth,
                    &at.wDay, &at.wHour, &at.wMinute, &at.wSecond, &at.wMilliseconds) != 7 ||
        !::SystemTimeToFileTime(&at, &time)) {
        return -1;
    }
    return Milliseconds(time);
}

DiskFleet::DiskFleet(std::wstring folder, int lifetimeSeconds)
    : m_folder(std::move(folder)), m_lifetimeSeconds(lifetimeSeconds) {}

DiskFleet::~DiskFleet() {
    End();
}

::testing::AssertionResult DiskFleet::Start() {
    for (int target = 0; target < kFaultTargets; ++target) {
        if (auto started = Launch(target); !started) {
            return started;
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult DiskFleet::SetMode(int target, ServerMode mode, int parameterMs) {
    Target& server = m_targets[target];
    const ServerMode was = server.mode;
    if (was == ServerMode::Suspended) {
        if (auto continued = Signal(target, "CONT"); !continued) {
            return continued;
        }
        server.mode = ServerMode::Normal;
        // Continued, it is the server it was: its connections and what they
        // buffered meanwhile are still there.
        if (mode == ServerMode::Normal) {
            return ::testing::AssertionSuccess();
        }
    }
    if (mode == ServerMode::Suspended) {
        server.mode = mode;
        return Signal(target, "STOP");
    }
    if (auto killed = Kill(target); !killed) {
        return killed;
    }
    server.mode = mode;
    server.parameterMs = parameterMs;
    return mode == ServerMode::Down ? ::testing::AssertionSuccess() : Launch(target);
}

::testing::AssertionResult DiskFleet::Restart(int target) {
    if (auto killed = Kill(target); !killed) {
        return killed;
    }
    return Launch(target);
}

void DiskFleet::End() {
    for (int target = 0; target < kFaultTargets; ++target) {
        if (m_targets[target].mode == ServerMode::Suspended) {
            Signal(target, "CONT");
            m_targets[target].mode = ServerMode::Normal;
        }
        Kill(target);
    }
}

ULONG DiskFleet::Port(int slot) const {
    return IsRpc(slot) ? 0 : m_targets[slot].port;
}

::testing::AssertionResult DiskFleet::Launch(int target) {
    Target& server = m_targets[target];
    std::wstring options;
    std::wstring name;
    if (target == kRpcProcess) {
        name = L"rpc";
        options = L"--rpc --password " + Password(kTcpServers);
        for (int slot = kTcpServers + 1; slot < kServers; ++slot) {
            options += L" --also-accept " + Password(slot);
        }
    } else {
        name = Password(target);
        // The first start lets the system choose the port; every later one
        // takes the same.
        options = L"--listen " + Address(target) + L":" + std::to_wstring(server.port) +
                  L" --password " + Password(target);
    }
    options += ModeOptions(server.mode, server.parameterMs);
    const std::wstring log =
        m_folder + L"\\" + name + L"." + std::to_wstring(++server.incarnation) + L".log";
    auto process = std::make_unique<krvn_test::SubstituteServerProcess>();
    if (auto started = process->Start(options, log, m_lifetimeSeconds); !started) {
        return ::testing::AssertionFailure()
               << TargetName(target) << " did not start: " << started.message();
    }
    if (target != kRpcProcess) {
        const std::uint16_t port = process->Port();
        if (server.port != 0 && port != server.port) {
            return ::testing::AssertionFailure() << TargetName(target) << " came back on port "
                                                 << port << ", not " << server.port;
        }
        server.port = port;
    }
    server.log = std::make_unique<krvn_test::LogTail>(log);
    server.contexts.clear();
    server.unixPid = 0;
    server.process = std::move(process);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult DiskFleet::Kill(int target) {
    Target& server = m_targets[target];
    if (!server.process) {
        return ::testing::AssertionSuccess();
    }
    const DWORD id = server.process->ProcessId();
    const KRVN::unique_handle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    // One that has already ended, by whatever hand, is as good as killed.
    const bool ended =
        process && (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0 ||
                    (::TerminateProcess(process.get(), 9) &&
                     ::WaitForSingleObject(process.get(), kKillWaitMs) == WAIT_OBJECT_0));
    // What it logged before it died still counts.
    Read(target);
    server.log.reset();
    server.past.push_back(std::move(server.process));
    if (!ended) {
        return ::testing::AssertionFailure()
               << "could not kill " << TargetName(target) << " (process " << id << ")";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult DiskFleet::Signal(int target, const char* signal) {
    Target& server = m_targets[target];
    if (!server.process) {
        return ::testing::AssertionFailure() << TargetName(target) << " does not run";
    }
    if (server.unixPid == 0) {
        server.unixPid = krvn_test::UnixProcessWith(Narrow(server.process->LogPath()));
    }
    if (!krvn_test::SignalUnixProcess(server.unixPid, signal)) {
        return ::testing::AssertionFailure()
               << "could not send SIG" << signal << " to " << TargetName(target)
               << " (Unix process " << server.unixPid << ")";
    }
    return ::testing::AssertionSuccess();
}

void DiskFleet::Poll() {
    for (int target = 0; target < kFaultTargets; ++target) {
        Read(target);
    }
}

void DiskFleet::Read(int target) {
    Target& server = m_targets[target];
    if (!server.log) {
        return;
    }
    for (const std::string& line : server.log->Read()) {
        Record(target, krvn_test::ParseLogEvent(line));
    }
}

void DiskFleet::Record(int target, const krvn_test::LogEvent& event) {
    Target& server = m_targets[target];
    if (target != kRpcProcess) {
        if (event.event == "unmount") {
            m_arrivals[target].push_back(UtcMs(event.time));
        } else if (event.event == "data") {
            m_notes.push_back(TargetName(target) +
                              " got bytes other than an order: " + event.Field("bytes"));
        }
        return;
    }
    if (event.event == "RemoteOpen" && event.Field("result") == "0") {
        server.contexts.emplace_back(event.Field("ctx"), SlotOfPassword(event.Field("password")));
        return;
    }
    // A hung call is answered only as its process stops: no order was
    // carried out.
    if (event.event != "RemoteAlarm" || event.Field("result") != "0") {
        return;
    }
    for (const auto& [context, slot] : server.contexts) {
        if (context == event.Field("ctx") && slot >= 0) {
            m_arrivals[slot].push_back(UtcMs(event.time));
            return;
        }
    }
    m_notes.push_back("an RPC order on context " + event.Field("ctx") +
                      " that no listed server's password opened");
}

std::vector<std::string> DiskFleet::TakeNotes() {
    std::vector<std::string> notes;
    notes.swap(m_notes);
    return notes;
}

} // namespace krvn_chaos
