#pragma once
// Holds a lockable object for one scope, so that code which raises still
// releases it.

#include "common/sync_obj.h"

namespace KRVN {

class CSyncGuard {
public:
    // A null object makes a guard that takes and releases nothing.
    explicit CSyncGuard(CSycnObj* object)
        : m_object(object), m_enabled(object != nullptr),
          m_locked(m_enabled && object->Lock(INFINITE, false) == WAIT_OBJECT_0) {}

    CSyncGuard(const CSyncGuard&) = delete;
    CSyncGuard& operator=(const CSyncGuard&) = delete;

    ~CSyncGuard() {
        if (m_enabled && m_locked) {
            m_object->Unlock();
        }
    }

private:
    CSycnObj* m_object;
    bool m_enabled;
    bool m_locked;
};

} // namespace KRVN
