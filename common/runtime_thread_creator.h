#pragma once
// Thread creation policy of the thread wrapper: threads are started through
// the C runtime so that its per-thread state is set up and freed.

#include <windows.h>
#include <process.h>

struct CRuntimeThreadCreator {
    using EntryRoutine = unsigned(__stdcall*)(void*);

    // Returns the new thread's handle, or null with the Win32 error set.
    static HANDLE Create(LPSECURITY_ATTRIBUTES security, unsigned stackSize, EntryRoutine entry,
                         void* argument, unsigned creationFlags, unsigned* threadId) {
        return reinterpret_cast<HANDLE>(
            ::_beginthreadex(security, stackSize, entry, argument, creationFlags, threadId));
    }
};
