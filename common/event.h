#pragma once
// A manual-reset event, created unsignalled and unnamed. Once set it stays set
// until reset, so every waiter sees the signal.

#include "common/ca_exception.h"
#include "common/sync_obj.h"

namespace KRVN {

class CEvent : public CHandleSyncObj {
public:
    CEvent() {
        ReplaceHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        // Without its event a thread could never be told to stop.
        if (!m_handle) {
            KRVN_RAISE(HResultFromStatus(static_cast<std::int32_t>(::GetLastError())));
        }
    }

    BOOL Set() { return ::SetEvent(m_handle); }
    BOOL Reset() { return ::ResetEvent(m_handle); }
};

} // namespace KRVN
