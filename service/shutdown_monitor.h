#pragma once
// Ends a plain local server some time after its last object and lock are
// gone: once the module has stayed unused for the whole shutdown wait, the
// class objects are suspended and the quit message goes to the thread that
// runs the message loop. A client that comes back within the wait keeps the
// server alive.

#include <windows.h>

#include <atomic>
#include <functional>

#include "common/smart_thread.h"
#include "common/unique_handle.h"

class ShutdownMonitor : public CEventThread<CRuntimeThreadCreator> {
public:
    // unused tells whether no object or lock is left.
    ShutdownMonitor(DWORD loopThreadId, DWORD waitMs, std::function<bool()> unused);
    ~ShutdownMonitor() override;

    // The module has just become unused.
    void Notify() noexcept;

protected:
    void Run() override;

private:
    enum : DWORD { kActivity, kQuiet, kStopped };
    // Which came first within timeoutMs: activity, nothing, or the stop request.
    DWORD Wait(DWORD timeoutMs);

    DWORD m_loopThreadId;
    DWORD m_waitMs;
    std::function<bool()> m_unused;
    KRVN::unique_event m_activityEvent;
    std::atomic<bool> m_activity{false};
};
