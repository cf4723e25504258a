#pragma once
// The events of one alarm pass, written once its result is known: what raised
// it, each server's order and a summary, all numbered with the pass. No event
// holds a password.

#include <string>
#include <utility>
#include <vector>

#include "connections/connector_holder.h"
#include "service/client_caller.h"
#include "service/event_reporter.h"

// What raised an alarm pass: the red button on a port, or the client whose
// call the pass's thread serves (named once the orders are out).
struct AlarmSource {
    enum class Kind { Button, ClientCall };

    static AlarmSource Button(std::wstring port) { return {Kind::Button, std::move(port)}; }
    static AlarmSource ClientCall() { return {Kind::ClientCall, {}}; }

    Kind kind;
    std::wstring port;
};

// One order of a pass as the event log tells it: done is false when the
// order was still under way at the pass's bound.
struct OrderOutcome {
    std::wstring address;
    bool done;
    std::int32_t code;
    AlarmTransport transport;
    long long elapsedMs;
};

struct AlarmPassRecord {
    // The pass's number, as the first insert of each of its events.
    std::wstring number;
    AlarmSource source;
    // The client, for a pass raised by a client's call.
    ClientCaller caller;
    std::vector<OrderOutcome> orders;
    long long totalMs;
};

// Reports the start, one event per order in the pass's order, then the
// summary.
void ReportAlarmPass(EventReporter& reporter, const AlarmPassRecord& pass);
