#include "tests/support/wait.h"

namespace krvn_test {

bool WaitUntil(const std::function<bool()>& condition, DWORD boundMs, DWORD stepMs) {
    const ULONGLONG deadline = ::GetTickCount64() + boundMs;
    while (!condition()) {
        if (::GetTickCount64() >= deadline) {
            return condition();
        }
        ::Sleep(stepMs);
    }
    return true;
}

void QuietFor(DWORD ms) {
    ::Sleep(ms);
}

void PauseFor(DWORD ms) {
    ::Sleep(ms);
}

void SettleFor(DWORD ms) {
    ::Sleep(ms);
}

} // namespace krvn_test
