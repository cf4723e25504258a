#include "tests/chaos/oracle.h"

#include <cstdio>

#include "tests/chaos/server_mode.h"

namespace krvn_chaos {

namespace {

// What the service said about one order, for a violation's line.
std::string Said(const ReportedOrder* report) {
    if (!report) {
        return "nothing";
    }
    const size_t colon = report->text.find(": ");
    return "\"" + (colon == std::string::npos ? report->text : report->text.substr(colon + 2)) +
           "\"";
}

std::string Hex(HRESULT value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
    return text;
}

std::string Who(const OrderFacts& server) {
    return server.name + " (" + server.mode + ")";
}

} // namespace

void Oracle::Violation(const std::string& kind, const std::string& what) {
    ++m_violations;
    ++m_kinds[kind];
    m_firstStep.emplace(kind, m_step);
    char seed[32];
    std::snprintf(seed, sizeof seed, "%llu", static_cast<unsigned long long>(m_seed));
    m_log.Show(std::string("VIOLATION seed=") + seed + " step=" + m_step + " kind=" + kind + ": " +
               what);
}

void Oracle::Note(const std::string& what) {
    m_log.Write("  note: " + what);
}

void Oracle::HarnessFailure(const std::string& what) {
    ++m_harnessFailures;
    m_log.Show("CAMPAIGN FAILURE step=" + m_step + ": " + what);
}

void Oracle::SentNotReceived(const std::string& what, const OrderFacts& server,
                             const std::string& said) {
    const std::string text =
        what + ": " + said + "; the server got nothing in " + std::to_string(kBoundMs) + " ms";
    // The protocol has no acknowledgement: "sent" means handed to the
    // server's connection, whose kernel takes the bytes while its process
    // is stopped; they are read when it goes on.
    if (server.mode == ModeName(ServerMode::Suspended)) {
        Note(text + " (its process is stopped: the bytes wait in its connection)");
        return;
    }
    Violation("sent-not-received", text);
}

void Oracle::CheckArrival(const std::string& what, const OrderFacts& server) {
    const bool due = server.listed == Listing::Yes && server.takesOrders;
    const OrderReport* report = server.report ? &server.report->report : nullptr;
    if (server.arrivals == 0) {
        if (due) {
            Violation("lost-order", what + " to " + Who(server) + ": expected unmount within " +
                                        std::to_string(kBoundMs) +
                                        " ms; seen none; the service said " + Said(server.report));
        } else if (report && *report == OrderReport::Sent) {
            SentNotReceived(what + " to " + Who(server), server,
                            "the service said " + Said(server.report));
        }
        return;
    }
    const std::string got =
        "the server got it " + std::to_string(server.firstArrivalMs) + " ms after";
    if (report &&
        (*report == OrderReport::Failed || (*report == OrderReport::StillBusy &&
                                            server.firstArrivalMs < kBoundMs - kBoundMarginMs))) {
        Violation("failed-but-received", what + " to " + Who(server) + ": the service said " +
                                             Said(server.report) + "; " + got);
    }
    if (server.listed == Listing::No) {
        Violation("order-to-unlisted", what + " to " + Who(server) + ": not listed, yet " + got);
    } else if (!server.takesOrders) {
        Note(what + " to " + Who(server) + ": taken by a server whose mode should not take it; " +
             got);
    }
    if (server.arrivals > 1) {
        Note(what + " to " + Who(server) + ": " + std::to_string(server.arrivals) +
             " orders arrived in its window");
    }
}

void Oracle::CheckPass(const std::string& what, const AlarmPass& pass,
                       const std::vector<OrderFacts>& servers, const HRESULT* result) {
    const std::string named = what + " (alarm " + std::to_string(pass.number) + ")";
    for (const OrderFacts& server : servers) {
        Count("orders checked");
        CheckArrival(named, server);
        if (server.listed == Listing::Yes && !server.report) {
            Violation("no-report", named + ": " + Who(server) +
                                       " is listed, but the pass reports nothing for it");
        } else if (server.listed == Listing::No && server.report) {
            Violation("no-report", named + ": " + Who(server) +
                                       " is not listed, but the pass said " + Said(server.report));
        }
    }
    const int reported = static_cast<int>(pass.orders.size());
    int sent = 0;
    for (const ReportedOrder& order : pass.orders) {
        sent += order.report == OrderReport::Sent;
    }
    if (pass.sent != sent || pass.failed != reported - sent || pass.servers != reported) {
        Violation("report-mismatch", named + ": began for " + std::to_string(pass.servers) +
                                         " servers, finished " + std::to_string(pass.sent) +
                                         " sent and " + std::to_string(pass.failed) +
                                         " failed, but reported " + std::to_string(sent) +
                                         " sent of " + std::to_string(reported));
    }
    if (result) {
        const HRESULT expected = sent == reported ? S_OK : static_cast<HRESULT>(0xFFFFFFFF);
        if (*result != expected) {
            Violation("report-mismatch", named + ": SendAlarm gave " + Hex(*result) +
                                             ", but the pass reported " + std::to_string(sent) +
                                             " sent of " + std::to_string(reported));
        }
    }
}

void Oracle::CheckUnreported(const std::string& what, const std::vector<OrderFacts>& servers) {
    for (const OrderFacts& server : servers) {
        Count("orders checked");
        CheckArrival(what, server);
    }
}

void Oracle::CheckSingle(const OrderFacts& server, HRESULT result) {
    Count("orders checked");
    const std::string what = "SendAlarm of " + Who(server);
    const std::string gave = "it gave " + Hex(result);
    if (server.listed == Listing::No) {
        if (result != 1168) {
            Violation("wrong-result", what + ": not listed, expected 1168 (not found); " + gave);
        }
        if (server.arrivals > 0) {
            Violation("order-to-unlisted", what + ": not listed, yet the server got an order");
        }
        return;
    }
    const bool due = server.listed == Listing::Yes && server.takesOrders;
    if (server.arrivals == 0) {
        if (due) {
            Violation("lost-order", what + ": expected unmount within " + std::to_string(kBoundMs) +
                                        " ms; seen none; " + gave);
        } else if (result == 0) {
            SentNotReceived(what, server, gave);
        }
        return;
    }
    if (result != 0 && server.firstArrivalMs < kBoundMs - kBoundMarginMs) {
        Violation("failed-but-received", what + ": " + gave + "; the server got it " +
                                             std::to_string(server.firstArrivalMs) + " ms after");
    } else if (!server.takesOrders) {
        Note(what + ": taken by a server whose mode should not take it");
    }
}

long Oracle::Counted(const std::string& counter) const {
    const auto found = m_counts.find(counter);
    return found == m_counts.end() ? 0 : found->second;
}

std::vector<std::string> Oracle::ViolationSummary() const {
    std::vector<std::string> lines;
    for (const auto& [kind, count] : m_kinds) {
        lines.push_back("  " + kind + ": " + std::to_string(count) + " (first at step " +
                        m_firstStep.at(kind) + ")");
    }
    return lines;
}

std::string Oracle::Counters(const std::string& prefix) const {
    std::string text;
    for (const auto& [name, count] : m_counts) {
        if (name.compare(0, prefix.size(), prefix) == 0) {
            text += (text.empty() ? "" : ", ") + name.substr(prefix.size()) + "=" +
                    std::to_string(count);
        }
    }
    return text.empty() ? "none" : text;
}

} // namespace krvn_chaos
