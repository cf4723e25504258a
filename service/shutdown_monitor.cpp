#include "service/shutdown_monitor.h"

#include <objbase.h>

#include "com/unique_couninitialize.h"

ShutdownMonitor::ShutdownMonitor(DWORD loopThreadId, DWORD waitMs, std::function<bool()> unused)
    : m_loopThreadId(loopThreadId), m_waitMs(waitMs), m_unused(std::move(unused)),
      m_activityEvent(KRVN::unique_event::create(false, false)) {}

ShutdownMonitor::~ShutdownMonitor() {
    Stop(true);
}

void ShutdownMonitor::Notify() noexcept {
    m_activity = true;
    m_activityEvent.SetEvent();
}

DWORD ShutdownMonitor::Wait(DWORD timeoutMs) {
    const HANDLE handles[] = {StopEvent().Handle(), m_activityEvent.get()};
    switch (::WaitForMultipleObjects(2, handles, FALSE, timeoutMs)) {
    case WAIT_OBJECT_0 + 1:
        return kActivity;
    case WAIT_TIMEOUT:
        return kQuiet;
    default:
        return kStopped;
    }
}

void ShutdownMonitor::Run() {
    // It suspends and resumes the class objects: COM calls need an apartment.
    const KRVN::unique_couninitialize apartment(COINIT_MULTITHREADED);
    for (;;) {
        if (Wait(INFINITE) == kStopped) {
            return;
        }
        DWORD woke = kActivity;
        while (woke == kActivity) {
            m_activity = false;
            woke = Wait(m_waitMs);
        }
        if (woke == kStopped) {
            return;
        }
        if (m_activity || !m_unused()) {
            continue;
        }
        // No activation may slip in between the last test and the quit.
        ::CoSuspendClassObjects();
        if (m_unused()) {
            break;
        }
        ::CoResumeClassObjects();
    }
    ::PostThreadMessageW(m_loopThreadId, WM_QUIT, 0, 0);
}
