#include "window/wait_handling_sent.h"

namespace KRVN {

void WaitHandlingSentMessages(HANDLE object) {
    if (!object) {
        return;
    }
    for (;;) {
        const DWORD woken = ::MsgWaitForMultipleObjectsEx(1, &object, INFINITE, QS_SENDMESSAGE, 0);
        if (woken != WAIT_OBJECT_0 + 1) {
            return;
        }
        // Peeking runs the handlers of the messages sent to us; nothing is removed.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace KRVN
