#pragma once
// The moment by which an order must be through. Every step that may wait on
// a peer (a name lookup, a connection, a handshake, an RPC operation, a turn
// behind another attempt) takes its time from the same deadline, so the
// steps together never outlast the bound of the pass that gave it.

#include <windows.h>

#include <chrono>

using Deadline = std::chrono::steady_clock::time_point;

// No deadline: each step keeps its own bound.
inline constexpr Deadline kNoDeadline = Deadline::max();

inline Deadline DeadlineAfter(DWORD ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

// What is left of the deadline, but no more than boundMs.
inline DWORD MsLeft(Deadline deadline, DWORD boundMs = INFINITE - 1) {
    if (deadline == kNoDeadline) {
        return boundMs;
    }
    const auto now = std::chrono::steady_clock::now();
    if (deadline <= now) {
        return 0;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    return left < static_cast<long long>(boundMs) ? static_cast<DWORD>(left) : boundMs;
}

inline bool HasPassed(Deadline deadline) {
    return deadline != kNoDeadline && deadline <= std::chrono::steady_clock::now();
}
