#pragma once
// The campaign's judge: given what each server got and what the service
// said about each order, it tells violations (one line each, with the seed
// and the step) from what is allowed, and keeps the counts of the summary.
//
// For every order (an alarm pass's, after a press or SendAlarm, or one
// server's own SendAlarm):
// - a listed server whose mode takes orders must get it within the bound
//   (10 s, plus the slack Wine's scheduling needs), whatever the service says;
// - an order the service reports sent (event 110, SendAlarm 0) must have
//   arrived within that time;
// - an order the service reports failed (111, a nonzero result) must not have
//   arrived; one still under way at the bound (112) must not have arrived
//   before the bound;
// - a pass reports each listed server once, and only listed ones, and its
//   summary and SendAlarm's result agree with its per-server reports.

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/chaos/alarm_pass_log.h"
#include "tests/chaos/run_log.h"

namespace krvn_chaos {

enum class Listing { Yes, No, Unknown };

// One server at one order, as the campaign saw it.
struct OrderFacts {
    std::string name;    // "tcp-3 127.0.7.3"
    std::string address; // as the service reports it
    Listing listed = Listing::Unknown;
    bool takesOrders = false;
    std::string mode;
    int arrivals = 0;              // orders it got within the order's window
    long long firstArrivalMs = -1; // the first of them, after the order began
    const ReportedOrder* report = nullptr;
};

class Oracle {
public:
    // The service's bound for an order, from the press or the call.
    static constexpr long long kBoundMs = 10000;
    // Room for Wine's scheduling on a loaded machine, after the bound.
    static constexpr long long kSlackMs = 1000;
    // An order still under way at the bound may have arrived just before it.
    static constexpr long long kBoundMarginMs = 500;

    Oracle(std::uint64_t seed, RunLog& log) : m_seed(seed), m_log(log) {}

    // The step that the next lines are about: its number, "setup", "warm-up"
    // or "tail".
    void SetStep(std::string label) { m_step = std::move(label); }

    void Violation(const std::string& kind, const std::string& what);
    // Oddities worth a line in the run's log, not violations.
    void Note(const std::string& what);
    // Failures of the campaign itself (a substitute server that would not
    // start): the run proves nothing past them.
    void HarnessFailure(const std::string& what);

    // The orders of one pass. what: "press" or "SendAlarm"; result:
    // SendAlarm's, null for a press.
    void CheckPass(const std::string& what, const AlarmPass& pass,
                   const std::vector<OrderFacts>& servers, const HRESULT* result);
    // Orders for which the service printed no pass at all.
    void CheckUnreported(const std::string& what, const std::vector<OrderFacts>& servers);
    // One server's own SendAlarm (QNServer.SendAlarm) and its result.
    void CheckSingle(const OrderFacts& server, HRESULT result);

    void Count(const std::string& counter, long by = 1) { m_counts[counter] += by; }
    long Counted(const std::string& counter) const;

    size_t Violations() const noexcept { return m_violations; }
    size_t HarnessFailures() const noexcept { return m_harnessFailures; }
    // The summary's lines about violations: how many of each kind, and the
    // first step that showed each.
    std::vector<std::string> ViolationSummary() const;
    // Every counter whose name starts with prefix, as "name=count ...".
    std::string Counters(const std::string& prefix) const;

private:
    void CheckArrival(const std::string& what, const OrderFacts& server);
    // An order reported sent that did not arrive.
    void SentNotReceived(const std::string& what, const OrderFacts& server,
                         const std::string& said);

    const std::uint64_t m_seed;
    RunLog& m_log;
    std::string m_step = "setup";
    size_t m_violations = 0;
    size_t m_harnessFailures = 0;
    std::map<std::string, long> m_kinds;
    std::map<std::string, std::string> m_firstStep;
    std::map<std::string, long> m_counts;
};

} // namespace krvn_chaos
