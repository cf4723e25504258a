#include "tests/chaos/resting_usage.h"

#include <algorithm>
#include <sstream>

#include "tests/support/wait.h"

namespace krvn_chaos {

using krvn_e2e::MeasureProcess;
using krvn_e2e::ProcessUsage;

krvn_e2e::ProcessUsage RestingUsage(DWORD processId, int readings, const ProcessUsage* from,
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

std::string Growth(const ProcessUsage& before, const ProcessUsage& after, const UsageSlack& slack) {
    if (!before.valid || !after.valid) {
        return "the service could not be measured";
    }
    if (after.handles - after.keys > before.handles - before.keys + slack.handles ||
        after.keys > before.keys + slack.keys || after.threads > before.threads + slack.threads) {
        std::ostringstream text;
        text << "grew from " << before << " to " << after << " (slack: " << slack.handles
             << " handles, " << slack.keys << " registry keys, " << slack.threads << " threads)";
        return text.str();
    }
    return std::string();
}

} // namespace krvn_chaos
