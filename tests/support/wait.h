#pragma once
// Waiting in tests. Every wait in a test is one of these, so that what it
// waits for is said where it stands:
// - WaitUntil: for something the test can observe, polled with a short step;
// - QuietFor: a time in which nothing must happen (the test checks after);
// - PauseFor: a time that is part of what the test does (a button held, a
//   slow peer, rounds spaced apart);
// - SettleFor: a grace time for another process to reach a state that no
//   test can observe (a watcher entering its wait on a port).

#include <windows.h>

#include <functional>

namespace krvn_test {

// True once condition holds, false if it still does not after boundMs.
bool WaitUntil(const std::function<bool()>& condition, DWORD boundMs = 10000, DWORD stepMs = 10);

void QuietFor(DWORD ms);
void PauseFor(DWORD ms);
void SettleFor(DWORD ms);

} // namespace krvn_test
