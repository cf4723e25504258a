#pragma once
// Where the service core reports what an administrator should know of: the
// service host hands in its event log; tests hand in a recorder. An event is
// an id of the message table (service/tolvane_messages.mc), a type and the
// strings that fill the message's inserts (%1, %2, ...), in order.

#include <windows.h>

#include <string>
#include <vector>

#include "service/tolvane_messages.h"

enum class EventType { Information, Warning, Error };

struct Event {
    EventType type;
    DWORD id;
    std::vector<std::wstring> inserts;
};

class EventReporter {
public:
    virtual ~EventReporter() = default;

    virtual void Report(const Event& event) = 0;
};
