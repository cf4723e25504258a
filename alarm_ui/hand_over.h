#pragma once
// Handing the running instance over to an elevated one. An administrator's
// tray program runs with a filtered token; started again elevated, the new
// instance takes over instead of ending at the single-instance check, and
// subscribes to the service only once the old one has withdrawn (the
// service keeps one state subscription, and a late Unadvise of the old
// instance would cancel the new one's).
//
// Two named events carry it, both made by the old instance before it
// starts the new one:
// - kHandOverEventName: set by the elevated instance once it has the
//   service's objects; only SYSTEM and enabled Administrators may set it.
// - kReleasedEventName: set by the old instance once it has shut down;
//   SYSTEM and Administrators may wait on it.
// Kernel objects rather than window messages: a process may not send or
// post to the windows of one of higher integrity (UIPI), and the objects the
// old (medium) instance makes carry its integrity level, which the elevated
// (high) one may write to; objects of the elevated one the old one could not
// set. Global, as the single-instance event is, so the names are the same
// in every session. Both carry the user as their owner, and the elevated
// instance follows only events its own user made: nobody else's squatted
// names can hold it up or let two instances run.

#include <windows.h>

#include <memory>

#include "common/unique_handle.h"

class HandOver {
public:
    HandOver(const HandOver&) = delete;
    HandOver& operator=(const HandOver&) = delete;

    // The old instance: makes both events. Fails with ERROR_ALREADY_EXISTS
    // when either exists already (someone else's object is never used).
    static HRESULT Offer(std::unique_ptr<HandOver>& offer);

    // Set once the elevated instance has taken over (waitable).
    HANDLE TakenEvent() const noexcept { return m_taken.get(); }
    // The old instance has shut down: the elevated one goes on.
    void LetGo() const noexcept { ::SetEvent(m_released.get()); }

    // The elevated instance, at the single-instance check: when this user's
    // instance offered a hand-over, takes it and waits up to `timeoutMs` for
    // that instance to let go. False when none was offered, the events are
    // not this user's, or the old instance did not let go in time.
    static bool TakeOver(DWORD timeoutMs);

private:
    HandOver(KRVN::unique_handle taken, KRVN::unique_handle released) noexcept
        : m_taken(std::move(taken)), m_released(std::move(released)) {}

    KRVN::unique_handle m_taken;
    KRVN::unique_handle m_released;
};
