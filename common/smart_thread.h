#pragma once
// The thread wrapper of both programs. CSmartThread owns a thread handle and
// the critical section that serialises start, stop and the running test;
// CEventThread adds the stop event that every worker's Run waits on.
// Including this header brings the whole component library.

#include "common/ca_exception.h"
#include "common/crit_sect.h"
#include "common/event.h"
#include "common/runtime_thread_creator.h"
#include "common/sync_guard.h"
#include "common/sync_obj.h"

// The raise sites below report fixed line numbers: callers and support staff
// tell the failures apart by them, so they must not move with the code.

// Lock waits for the thread to end.
template <class TCreator> class CSmartThread : public KRVN::CHandleSyncObj {
public:
    virtual HRESULT Start(LPSECURITY_ATTRIBUTES security, unsigned stackSize, bool suspended) {
        KRVN::CSyncGuard guard(&m_lock);
        if (IsRunning()) {
            ::RaiseCAException(E_FAIL, __FILE__, __DATE__, 161);
        }
        ReplaceHandle(nullptr);
        m_threadId = 0;
        m_handle = TCreator::Create(security, stackSize, &EntryRoutine, this,
                                    suspended ? CREATE_SUSPENDED : 0, &m_threadId);
        if (!m_handle) {
            m_threadId = 0;
            const auto error = static_cast<std::int32_t>(::GetLastError());
            // A failure without an error code must not read as success.
            ::RaiseCAException(error == 0 ? E_FAIL : KRVN::HResultFromStatus(error), __FILE__,
                               __DATE__, 178);
        }
        return S_OK;
    }

    virtual LONG Stop(bool wait) = 0;
    virtual void Run() = 0;

    unsigned ThreadId() const noexcept { return m_threadId; }

    // A thread never started or already ended does not run.
    bool IsRunning() {
        KRVN::CSyncGuard guard(&m_lock);
        return Lock(0, false) == WAIT_TIMEOUT;
    }

private:
    // No exception may leave a thread: a CAException's code becomes the exit
    // code, anything else E_FAIL.
    static unsigned __stdcall EntryRoutine(void* self) {
        try {
            static_cast<CSmartThread*>(self)->Run();
            return 0;
        } catch (const CAException& e) {
            return static_cast<unsigned>(e.Code());
        } catch (...) {
            return static_cast<unsigned>(E_FAIL);
        }
    }

    KRVN::CCritSect m_lock;
    unsigned m_threadId = 0;
};

template <class TCreator> class CEventThread : public CSmartThread<TCreator> {
public:
    CEventThread() = default;

    HRESULT Start(LPSECURITY_ATTRIBUTES security, unsigned stackSize, bool suspended) override {
        if (this->IsRunning()) {
            ::RaiseCAException(E_FAIL, __FILE__, __DATE__, 213);
        }
        m_stopEvent.Reset();
        return CSmartThread<TCreator>::Start(security, stackSize, suspended);
    }

    // Returns 0 when nothing ran or after the thread ended; without waiting it
    // returns whether the stop request was signalled. The thread object's lock
    // is held only for the running test, never while waiting.
    LONG Stop(bool wait) override {
        if (!this->IsRunning()) {
            return 0;
        }
        const BOOL signalled = m_stopEvent.Set();
        if (wait) {
            this->Lock(INFINITE, false);
            return 0;
        }
        return signalled;
    }

    // Workers replace this; by default the thread just waits to be stopped.
    void Run() override {
        m_stopEvent.Lock(INFINITE, false);
        m_stopEvent.Unlock();
    }

protected:
    KRVN::CEvent& StopEvent() noexcept { return m_stopEvent; }

private:
    KRVN::CEvent m_stopEvent;
};
