#pragma once
// The application module: the common controls the program's windows use, and
// the registry of message loops, one per thread that runs one.

#include <windows.h>

#include <map>
#include <mutex>

#include "window/message_loop.h"

namespace KRVN {

class CAppModule {
public:
    // Loads the common controls (list view, combo box and the standard ones);
    // false when the system refuses.
    bool InitModule();

    // The calling thread's loop; false when that thread already has one.
    bool AddMessageLoop(CMessageLoop* loop);
    // Forgets the calling thread's loop; false when it had none.
    bool RemoveMessageLoop();
    // The loop registered for the thread, or null.
    CMessageLoop* GetMessageLoop(DWORD threadId = ::GetCurrentThreadId());

private:
    std::mutex m_lock;
    std::map<DWORD, CMessageLoop*> m_loops;
};

} // namespace KRVN
