#include "tests/chaos/alarm_pass_log.h"

#include <cstdio>
#include <cstdlib>

namespace krvn_chaos {

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The number after marker in text; -1 when marker is not there.
long NumberAfter(const std::string& text, const char* marker) {
    const size_t at = text.find(marker);
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtol(text.c_str() + at + std::char_traits<char>::length(marker), nullptr, 10);
}

} // namespace

const ReportedOrder* AlarmPass::OrderTo(const std::string& address) const {
    for (const ReportedOrder& order : orders) {
        if (order.address == address) {
            return &order;
        }
    }
    return nullptr;
}

void AlarmPassLog::Poll() {
    for (const std::string& line : m_console.Read()) {
        Parse(line);
    }
}

void AlarmPassLog::Parse(const std::string& line) {
    unsigned long number = 0;
    int used = 0;
    if (std::sscanf(line.c_str(), "Alarm %lu%n", &number, &used) != 1) {
        m_other.push_back(line);
        return;
    }
    const std::string rest = line.substr(static_cast<size_t>(used));
    AlarmPass& pass = m_passes[number];
    pass.number = number;
    if (StartsWith(rest, " finished: ")) {
        pass.sent = static_cast<int>(NumberAfter(rest, "finished: "));
        pass.failed = static_cast<int>(NumberAfter(rest, " sent, "));
        pass.finished = true;
        return;
    }
    if (StartsWith(rest, ": the unmount order to ")) {
        ReportedOrder order;
        const size_t start = std::char_traits<char>::length(": the unmount order to ");
        const size_t end = rest.find(' ', start);
        order.address = rest.substr(start, end - start);
        const std::string outcome = end == std::string::npos ? std::string() : rest.substr(end + 1);
        order.report = StartsWith(outcome, "went out") ? OrderReport::Sent
                       : StartsWith(outcome, "failed") ? OrderReport::Failed
                                                       : OrderReport::StillBusy;
        order.text = line;
        pass.orders.push_back(std::move(order));
        return;
    }
    pass.servers = static_cast<int>(NumberAfter(rest, "Unmount orders go to "));
    if (StartsWith(rest, ": the red button")) {
        pass.source = PassSource::Button;
    } else if (StartsWith(rest, ": raised from the tray menu")) {
        pass.source = PassSource::Tray;
        pass.processId = static_cast<unsigned long>(NumberAfter(rest, "process "));
    } else if (StartsWith(rest, ": raised by the program")) {
        pass.source = PassSource::Program;
        pass.processId = static_cast<unsigned long>(NumberAfter(rest, "(process "));
    }
}

const AlarmPass* AlarmPassLog::FinishedAfter(unsigned long after, PassSource source) const {
    for (auto it = m_passes.upper_bound(after); it != m_passes.end(); ++it) {
        if (it->second.finished && it->second.source == source) {
            return &it->second;
        }
    }
    return nullptr;
}

std::vector<const AlarmPass*> AlarmPassLog::AllFinishedAfter(unsigned long after) const {
    std::vector<const AlarmPass*> passes;
    for (auto it = m_passes.upper_bound(after); it != m_passes.end(); ++it) {
        if (it->second.finished) {
            passes.push_back(&it->second);
        }
    }
    return passes;
}

std::vector<std::string> AlarmPassLog::TakeOtherLines() {
    std::vector<std::string> lines;
    lines.swap(m_other);
    return lines;
}

} // namespace krvn_chaos
