#pragma once
// Common base of every waitable or lockable object of the library: events,
// critical sections and threads are all taken and released the same way.

#include <windows.h>

namespace KRVN {

class CSycnObj {
public:
    CSycnObj() = default;
    CSycnObj(const CSycnObj&) = delete;
    CSycnObj& operator=(const CSycnObj&) = delete;

    // Closes nothing: each derived class knows what its handle is.
    virtual ~CSycnObj() = default;

    // Returns the Win32 wait code: 0 when taken, WAIT_TIMEOUT, or a failure code.
    virtual DWORD Lock(DWORD timeoutMs, bool alertable) = 0;
    virtual DWORD Unlock() = 0;

    HANDLE Handle() const noexcept { return m_handle; }

protected:
    HANDLE m_handle = nullptr;
};

} // namespace KRVN
