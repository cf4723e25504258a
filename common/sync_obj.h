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

// A kernel object waited on through the handle it owns: events and threads.
class CHandleSyncObj : public CSycnObj {
public:
    ~CHandleSyncObj() override { ReplaceHandle(nullptr); }

    DWORD Lock(DWORD timeoutMs, bool alertable) override {
        return ::WaitForSingleObjectEx(m_handle, timeoutMs, alertable ? TRUE : FALSE);
    }

    DWORD Unlock() override { return 0; }

protected:
    // Closes the handle held (if any) and keeps `handle` instead.
    void ReplaceHandle(HANDLE handle) noexcept {
        if (m_handle) {
            ::CloseHandle(m_handle);
        }
        m_handle = handle;
    }
};

} // namespace KRVN
