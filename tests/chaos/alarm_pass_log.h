#pragma once
// The alarm passes as the plain local server prints them (service/
// tolvane_messages.mc, events 100 to 120): how each began, what it reported
// for each server's order, and its summary. Read as the console grows.

#include <map>
#include <string>
#include <vector>

#include "tests/support/log_tail.h"

namespace krvn_chaos {

enum class OrderReport {
    Sent,      // 110: the order went out
    Failed,    // 111: it failed
    StillBusy, // 112: still under way at the pass's bound; counts as failed
};

struct ReportedOrder {
    std::string address;
    OrderReport report = OrderReport::Sent;
    std::string text; // the line, for violations
};

enum class PassSource { Unknown, Button, Tray, Program };

struct AlarmPass {
    unsigned long number = 0;
    PassSource source = PassSource::Unknown;
    unsigned long processId = 0; // of a client's pass
    int servers = -1;            // "Unmount orders go to N servers"
    std::vector<ReportedOrder> orders;
    bool finished = false;
    int sent = -1;
    int failed = -1;

    // The report for the address, or null when the pass names it nowhere.
    const ReportedOrder* OrderTo(const std::string& address) const;
};

class AlarmPassLog {
public:
    explicit AlarmPassLog(std::wstring consolePath) : m_console(std::move(consolePath)) {}

    // Reads what the console gained.
    void Poll();
    // The lowest-numbered finished pass above `after` that began from
    // source; null when there is none yet.
    const AlarmPass* FinishedAfter(unsigned long after, PassSource source) const;
    // Every finished pass above `after`, whatever began it.
    std::vector<const AlarmPass*> AllFinishedAfter(unsigned long after) const;
    // Console lines that belong to no pass (port events, list changes).
    std::vector<std::string> TakeOtherLines();

private:
    void Parse(const std::string& line);

    krvn_test::LogTail m_console;
    std::map<unsigned long, AlarmPass> m_passes;
    std::vector<std::string> m_other;
};

} // namespace krvn_chaos
