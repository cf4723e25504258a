#pragma once
// Who may change the service's configuration and read the disk servers'
// passwords. By default everyone who may call the service; with
// "AdminOnlyConfiguration" on, only SYSTEM, Administrators and the service's
// own code. The organisation's policy value (1 on, 0 off) wins over the
// DWORD under the settings key (non-zero on). The same goes for the
// red-button test (a stored sink keeps presses from raising the alarm).
// Everyone keeps the list, the states, the alarm, the refresh and the end of
// a button test.

#include <windows.h>

struct CallerIdentity {
    // No client call on this thread: the service's own code.
    bool inProcess = false;
    bool system = false;
    bool administrator = false;
};

// The decision itself.
bool MayConfigure(const CallerIdentity& caller, bool adminOnly) noexcept;

// The client whose call this thread serves, from its token.
CallerIdentity CurrentCaller();
// How callers are identified; tests put one of their own in its place.
using CallerSource = CallerIdentity (*)();
void SetCallerSource(CallerSource source) noexcept;

// AdminOnlyConfiguration as it applies now: the policy's, else the stored one.
bool AdminOnlyInEffect();
// MayConfigure for the current caller and AdminOnlyInEffect.
bool CallerMayConfigure();
