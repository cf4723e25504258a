#pragma once
// Calls into the service, each on a thread of its own that the campaign
// waits for at most a bound and then abandons: a call that hangs must never
// hang the campaign. An abandoned call keeps running, with its own
// references, until the service answers.

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

namespace krvn_chaos {

struct CallOutcome {
    bool returned = false; // within the bound
    HRESULT result = E_PENDING;
    ULONGLONG ms = 0; // how long it took, or the bound
    // Set once the call has returned, however late.
    std::shared_ptr<const std::atomic<bool>> finished;
};

class BoundedCalls {
public:
    // Runs call (in the multithreaded apartment) and waits for it at most
    // boundMs. The call must hold whatever it uses by value.
    CallOutcome Run(std::function<HRESULT()> call, DWORD boundMs);

    // Calls abandoned at their bound that have not returned yet.
    int StillOut() const { return m_stillOut->load(); }
    // Waits up to boundMs for every abandoned call to return; true when none
    // is left.
    bool WaitForAbandoned(DWORD boundMs) const;

private:
    // Shared with the calls' threads, which may outlive this object.
    std::shared_ptr<std::atomic<int>> m_stillOut = std::make_shared<std::atomic<int>>(0);
};

} // namespace krvn_chaos
