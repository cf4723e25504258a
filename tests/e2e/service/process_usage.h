#pragma once
// What a process holds, seen from outside it: open handles, threads and
// working set. Leak checks compare two readings of the service.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

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

// How much a process may grow between two readings; registry keys are
// counted apart from the other handles, and the working set only when a
// bound is given.
struct UsageSlack {
    size_t handles = 0;
    size_t keys = 0;
    size_t threads = 0;
    size_t workingSet = SIZE_MAX; // bytes
};

// Empty when after is within slack of before, else what grew.
std::string Growth(const ProcessUsage& before, const ProcessUsage& after, const UsageSlack& slack);

// The process at rest: the least of its readings, one every half second
// after a second's settling; at least `readings` of them, and more while
// they still exceed `slack` over `from`, for up to eight seconds (the system
// thread pool keeps an idle worker for five).
ProcessUsage RestingUsage(DWORD processId, int readings, const ProcessUsage* from = nullptr,
                          const UsageSlack& slack = {});

} // namespace krvn_e2e
