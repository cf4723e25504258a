#pragma once
// One Alarm per machine, whoever starts it: the running instance holds the
// named event kRunningEventName in the global namespace. Every interactive
// user may open it for SYNCHRONIZE, so a second user's start sees it too
// (with the creator's default security it would be refused, and the refusal
// looked like "nothing runs").

#include <windows.h>

#include "common/unique_handle.h"

class SingleInstance {
public:
    using CreateEventFunction = decltype(&::CreateEventExW);

    // Creates the event, or opens the one another instance holds. `create`
    // is CreateEventExW unless a test looks at what it is given.
    explicit SingleInstance(CreateEventFunction create = &::CreateEventExW);

    // The event existed already, or exists and may not be opened by us: an
    // instance runs elsewhere. Without the event at all (any other failure)
    // this one runs as the first.
    bool AnotherRuns() const noexcept { return m_anotherRuns; }

private:
    KRVN::unique_handle m_event;
    bool m_anotherRuns = false;
};
