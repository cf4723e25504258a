#pragma once
// A critical section behind the common Lock/Unlock interface. Entries nest on
// one thread, which the thread wrapper's start relies on.

#include "common/sync_obj.h"

namespace KRVN {

class CCritSect : public CSycnObj {
public:
    CCritSect() { ::InitializeCriticalSection(&m_section); }
    ~CCritSect() override { ::DeleteCriticalSection(&m_section); }

    // A critical section waits without limit and cannot be alerted.
    DWORD Lock(DWORD, bool) override {
        ::EnterCriticalSection(&m_section);
        return 0;
    }

    DWORD Unlock() override {
        ::LeaveCriticalSection(&m_section);
        return 0;
    }

private:
    CRITICAL_SECTION m_section;
};

} // namespace KRVN
