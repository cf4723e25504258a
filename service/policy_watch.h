#pragma once
// Tells the service when the organisation's policy may have changed, so that
// a new policy value applies without a restart. It watches the registry under
// HKLM\SOFTWARE\Policies (and its subkeys) rather than waiting for Group
// Policy's refresh event: every writer of the policy key (Group Policy, a
// deployment tool, reg.exe) is seen, and the policy key may not exist yet.
// SOFTWARE stands in while Policies does not exist. A wake is only a hint:
// the service reads the policy again and keeps what did not change.

#include <windows.h>

#include <functional>

#include "common/smart_thread.h"

class PolicyWatch : public CEventThread<CRuntimeThreadCreator> {
public:
    // A policy refresh writes several values one after another: a change is
    // read once the key has been quiet this long, or after kSettleRounds
    // changes at most.
    static constexpr DWORD kSettleMs = 250;
    static constexpr int kSettleRounds = 20;

    // changed runs on the watch's thread once the watch is in place (so
    // nothing written before is missed) and after every change; failed, with
    // the Win32 error, when the key cannot be watched, and the watch ends.
    PolicyWatch(std::function<void()> changed, std::function<void(DWORD)> failed);

protected:
    void Run() override;

private:
    const std::function<void()> m_changed;
    const std::function<void(DWORD)> m_failed;
};
