#pragma once
// Waiting on the window thread for an object while still answering messages
// that other threads send to this thread's windows (a worker that reports by
// SendMessage would otherwise never finish).

#include <windows.h>

namespace KRVN {

// Returns when the object is signalled or the wait fails; a null handle
// returns at once.
void WaitHandlingSentMessages(HANDLE object);

} // namespace KRVN
