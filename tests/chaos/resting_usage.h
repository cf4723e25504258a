#pragma once
// The service's handles and threads at rest, read as the storm test reads
// them: the least of readings half a second apart after a second's settling,
// at least a few, and more while they still exceed the slack, for up to
// eight seconds (the system thread pool keeps an idle worker for five).

#include <windows.h>

#include <string>

#include "tests/e2e/service/process_usage.h"

namespace krvn_chaos {

// How much the service may hold at the end over its level before the
// campaign: the slack the storm test gives a first storm (a new high-water
// mark of the pool of call threads and their handles), registry keys
// counted apart.
struct UsageSlack {
    size_t handles = 40;
    size_t keys = 20;
    size_t threads = 10;
};

krvn_e2e::ProcessUsage RestingUsage(DWORD processId, int readings,
                                    const krvn_e2e::ProcessUsage* from = nullptr,
                                    const UsageSlack& slack = {});

// Empty when after is within slack of before, else what grew.
std::string Growth(const krvn_e2e::ProcessUsage& before, const krvn_e2e::ProcessUsage& after,
                   const UsageSlack& slack);

} // namespace krvn_chaos
