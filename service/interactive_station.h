#pragma once
// Whether this process runs on an interactive window station: the only place
// where a window it shows can be seen and closed. A service, or a custom
// action that msiexec runs as LocalSystem, is on a window station of its
// own that nobody sees, and a message box there waits for ever.

#include <windows.h>

// The two calls of the documented test, so a test can see what they are
// handed and answer for either kind of window station.
class WindowStationCalls {
public:
    virtual ~WindowStationCalls() = default;
    // GetProcessWindowStation: a handle the caller must not close.
    virtual HWINSTA ProcessWindowStation() = 0;
    // GetUserObjectInformationW.
    virtual bool ObjectInformation(HANDLE object, int index, void* info, DWORD length,
                                   DWORD* needed) = 0;
};

// True when the window station has WSF_VISIBLE; false also when either call
// fails, since a box that nobody can close is worse than none.
bool IsInteractiveWindowStation(WindowStationCalls& calls);

// The same for this process, through the system's calls.
bool IsInteractiveWindowStation();
