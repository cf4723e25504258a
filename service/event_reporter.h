#pragma once
// Where the service core reports what an administrator should know of: the
// service host hands in its event log; tests hand in a recorder. Texts are
// plain English sentences, one event each.

#include <string_view>

class EventReporter {
public:
    virtual ~EventReporter() = default;

    virtual void Information(std::wstring_view text) = 0;
    virtual void Warning(std::wstring_view text) = 0;
};
