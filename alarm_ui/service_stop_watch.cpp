#include "alarm_ui/service_stop_watch.h"

#include "contract/desktop_program.h"

ServiceStopWatch::ServiceStopWatch(HINSTANCE instance, std::function<void()> onClose,
                                   OpenEventFunction open)
    : m_onClose(std::move(onClose)) {
    if (!Create(instance, HWND_MESSAGE, nullptr, 0)) {
        return;
    }
    // Waiting is all we may do with it, and all we need.
    m_event.reset(open(SYNCHRONIZE, FALSE, KRVN::contract::kDesktopCloseEventName));
    if (!m_event) {
        return;
    }
    // Once: the event stays set (manual reset) and one request is enough.
    HANDLE wait = nullptr;
    if (::RegisterWaitForSingleObject(&wait, m_event.get(), &OnEventSet, this, INFINITE,
                                      WT_EXECUTEONLYONCE)) {
        m_wait.reset(wait);
    }
}

void CALLBACK ServiceStopWatch::OnEventSet(void* context, BOOLEAN) {
    // A thread of the pool: posting is all it does.
    auto* self = static_cast<ServiceStopWatch*>(context);
    ::PostMessageW(self->Handle(), kCloseRequestedMessage, 0, 0);
}

LRESULT ServiceStopWatch::OnCloseRequested(UINT, WPARAM, LPARAM) {
    m_onClose();
    return 0;
}
