#pragma once
// The result of work handed to another thread: set once by the worker, waited
// for by whoever started the work, who may stop waiting at a bound of its own.
// Both sides hold it through a shared pointer, so a caller that gave up never
// leaves the worker writing into freed memory.

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/unique_handle.h"

class PendingResult {
public:
    // What a caller reports when its bound passed before the work ended.
    static constexpr std::int32_t kTimedOut = ERROR_TIMEOUT;

    enum class Wait { Done, TimedOut, Cancelled };

    PendingResult() : m_done(KRVN::unique_event::create(true, false)) {}
    PendingResult(const PendingResult&) = delete;
    PendingResult& operator=(const PendingResult&) = delete;

    void Complete(std::int32_t result) noexcept {
        m_result.store(result);
        m_done.SetEvent();
    }

    bool IsDone() const noexcept { return m_done.is_signaled(); }
    // The work's result once it is done, kTimedOut before.
    std::int32_t Result() const noexcept { return IsDone() ? m_result.load() : kTimedOut; }

    // Waits at most timeoutMs, and not past the moment cancel (an event, or
    // null for none) is set.
    Wait WaitFor(DWORD timeoutMs, HANDLE cancel = nullptr) const noexcept {
        const HANDLE handles[] = {m_done.get(), cancel};
        const DWORD woken = ::WaitForMultipleObjects(cancel ? 2 : 1, handles, FALSE, timeoutMs);
        if (woken == WAIT_OBJECT_0) {
            return Wait::Done;
        }
        return woken == WAIT_OBJECT_0 + 1 ? Wait::Cancelled : Wait::TimedOut;
    }

    // Waits until the tick count reaches deadline (GetTickCount64).
    Wait WaitUntil(ULONGLONG deadline) const noexcept {
        const ULONGLONG now = ::GetTickCount64();
        return WaitFor(now >= deadline ? 0 : static_cast<DWORD>(deadline - now));
    }

private:
    KRVN::unique_event m_done;
    std::atomic<std::int32_t> m_result{kTimedOut};
};
