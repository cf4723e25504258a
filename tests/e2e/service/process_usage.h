#pragma once
// What a process holds, seen from outside it: open handles, threads and
// working set. Leak checks compare two readings of the service.

#include <windows.h>

#include <cstddef>
#include <ostream>

namespace krvn_e2e {

struct ProcessUsage {
    bool valid = false;
    size_t handles = 0; // registry keys included
    size_t keys = 0;    // open registry keys
    size_t threads = 0;
    size_t workingSet = 0; // bytes
    size_t peakWorkingSet = 0;
};

std::ostream& operator<<(std::ostream& out, const ProcessUsage& usage);

// Handles from the system's handle table (GetProcessHandleCount answers 0 for
// another process under Wine), threads from a snapshot, the working set from
// the process's memory counters.
ProcessUsage MeasureProcess(DWORD processId);

} // namespace krvn_e2e
