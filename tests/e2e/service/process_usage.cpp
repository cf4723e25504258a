#include "tests/e2e/service/process_usage.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "common/unique_handle.h"
#include "tests/support/wait.h"

namespace krvn_e2e {

namespace {

// SystemExtendedHandleInformation: every open handle of the system, with
// its owner; the layout is the one the system has used since its first x64
// release.
constexpr ULONG kExtendedHandleInformation = 64;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

// Handles of the process, and of those how many are registry keys: a key
// of our own, found in the same table, tells the type number of keys.
bool CountHandles(DWORD processId, size_t& count, size_t& keys) {
    KRVN::unique_hkey probe;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, probe.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    std::vector<BYTE> buffer(1 << 18);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status = ::NtQuerySystemInformation(
            static_cast<SYSTEM_INFORMATION_CLASS>(kExtendedHandleInformation), buffer.data(),
            static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0) {
            return false;
        }
        const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
        const ULONG_PTR self = ::GetCurrentProcessId();
        const auto probeValue = reinterpret_cast<ULONG_PTR>(probe.get());
        int keyType = -1;
        for (ULONG_PTR i = 0; i < table->count; ++i) {
            const HandleEntry& entry = table->entries[i];
            if (entry.processId == self && entry.handle == probeValue) {
                keyType = entry.objectTypeIndex;
            }
        }
        if (keyType < 0) {
            return false;
        }
        count = 0;
        keys = 0;
        for (ULONG_PTR i = 0; i < table->count; ++i) {
            const HandleEntry& entry = table->entries[i];
            if (entry.processId == processId) {
                ++count;
                keys += entry.objectTypeIndex == keyType;
            }
        }
        return true;
    }
    return false;
}

bool CountThreads(DWORD processId, size_t& count) {
    const KRVN::unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    if (!snapshot || !::Thread32First(snapshot.get(), &entry)) {
        return false;
    }
    count = 0;
    do {
        if (entry.th32OwnerProcessID == processId) {
            ++count;
        }
    } while (::Thread32Next(snapshot.get(), &entry));
    return true;
}

} // namespace

std::ostream& operator<<(std::ostream& out, const ProcessUsage& usage) {
    return out << usage.handles << " handles (" << usage.keys << " registry keys), "
               << usage.threads << " threads, " << usage.workingSet / 1024 << " KiB working set";
}

ProcessUsage MeasureProcess(DWORD processId) {
    ProcessUsage usage;
    const KRVN::unique_handle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    PROCESS_MEMORY_COUNTERS counters{};
    if (!process || !::GetProcessMemoryInfo(process.get(), &counters, sizeof counters) ||
        !CountHandles(processId, usage.handles, usage.keys) ||
        !CountThreads(processId, usage.threads)) {
        return usage;
    }
    usage.workingSet = counters.WorkingSetSize;
    usage.peakWorkingSet = counters.PeakWorkingSetSize;
    usage.valid = true;
    return usage;
}

std::string Growth(const ProcessUsage& before, const ProcessUsage& after, const UsageSlack& slack) {
    if (!before.valid || !after.valid) {
        return "the service could not be measured";
    }
    const bool workingSetGrew = after.workingSet > before.workingSet &&
                                after.workingSet - before.workingSet > slack.workingSet;
    if (after.handles - after.keys > before.handles - before.keys + slack.handles ||
        after.keys > before.keys + slack.keys || after.threads > before.threads + slack.threads ||
        workingSetGrew) {
        std::ostringstream text;
        text << "grew from " << before << " to " << after << " (slack: " << slack.handles
             << " handles, " << slack.keys << " registry keys, " << slack.threads << " threads)";
        return text.str();
    }
    return std::string();
}

ProcessUsage RestingUsage(DWORD processId, int readings, const ProcessUsage* from,
                          const UsageSlack& slack) {
    constexpr int kMostReadings = 15;
    krvn_test::SettleFor(1000);
    ProcessUsage least = MeasureProcess(processId);
    for (int reading = 1;
         reading < kMostReadings && least.valid &&
         (reading < readings || (from && from->valid && !Growth(*from, least, slack).empty()));
         ++reading) {
        krvn_test::PauseFor(500);
        const ProcessUsage usage = MeasureProcess(processId);
        least.valid = usage.valid;
        least.handles = std::min(least.handles, usage.handles);
        least.keys = std::min(least.keys, usage.keys);
        least.threads = std::min(least.threads, usage.threads);
        least.workingSet = std::min(least.workingSet, usage.workingSet);
    }
    return least;
}

} // namespace krvn_e2e
