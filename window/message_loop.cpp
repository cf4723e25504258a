#include "window/message_loop.h"

#include <windows.h>

namespace KRVN {

int CMessageLoop::Run() {
    MSG msg = {};
    for (;;) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            return static_cast<int>(msg.wParam);
        }
        if (got == -1) {
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

} // namespace KRVN
