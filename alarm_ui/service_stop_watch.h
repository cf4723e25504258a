#pragma once
// Closing when the service stops: the service sets the global event
// KRVN::contract::kDesktopCloseEventName and gives us a few seconds before
// it ends the process. A wait of the thread pool notices the event and
// hands over to the main thread by a message to a window of its own (a
// message-only window, which the modal loops of open dialogs dispatch to as
// well), where the program ends itself as "&Выйти" does.

#include <windows.h>

#include <functional>

#include "alarm_ui/app_messages.h"
#include "alarm_ui/unique_wait.h"
#include "common/unique_handle.h"
#include "window/message_map.h"
#include "window/window_impl.h"

class ServiceStopWatch : public KRVN::CWindowImpl<ServiceStopWatch> {
public:
    static constexpr wchar_t kClassName[] = L"KrvnServiceStopWatch";
    using OpenEventFunction = decltype(&::OpenEventW);

    // Main thread. `onClose` runs on this thread once the service asks us
    // to close. Without the event (a service that makes none, or no right
    // to it) nothing is watched. `open` is OpenEventW unless a test looks
    // at what it is given.
    ServiceStopWatch(HINSTANCE instance, std::function<void()> onClose,
                     OpenEventFunction open = &::OpenEventW);

    bool Watching() const noexcept { return static_cast<bool>(m_wait); }

    KRVN_BEGIN_MSG_MAP()
    KRVN_MESSAGE_HANDLER(kCloseRequestedMessage, OnCloseRequested)
    KRVN_END_MSG_MAP()

private:
    static void CALLBACK OnEventSet(void* context, BOOLEAN timedOut);
    LRESULT OnCloseRequested(UINT, WPARAM, LPARAM);

    std::function<void()> m_onClose;
    KRVN::unique_handle m_event;
    // Last, so that it ends first (waiting for a callback under way): before
    // the event it waits on closes and before the window it posts to goes.
    unique_wait m_wait;
};
