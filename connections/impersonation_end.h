#pragma once
// Ends this thread's impersonation. A thread that cannot return to the
// process's own identity must run nothing more: whatever ran next on it (a
// pooled worker) would act as the user it borrowed. So a failure is
// reported, then the process ends at once, and the service manager starts
// the service again.

#include <windows.h>

// Where the failure is told before the end (the service's event log); it
// returns once the report is written. Without one the end comes unreported.
using ImpersonationFailureReport = void (*)(DWORD error);
void SetImpersonationFailureReport(ImpersonationFailureReport report) noexcept;

// The two calls it makes; tests put their own in place of RevertToSelf and
// of the end (RaiseFailFastException, which no handler of the process can
// catch). Null: those.
struct ImpersonationEndCalls {
    BOOL(WINAPI* revert)() = nullptr;
    void (*endProcess)(DWORD error) = nullptr;
};
void SetImpersonationEndCalls(ImpersonationEndCalls calls) noexcept;

// RevertToSelf; when it fails, the report and the end of the process.
void EndImpersonation() noexcept;
