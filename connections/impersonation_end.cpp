#include "connections/impersonation_end.h"

#include <atomic>

namespace {

void FailFast(DWORD) {
    ::RaiseFailFastException(nullptr, nullptr, 0);
}

std::atomic<ImpersonationFailureReport> g_report{nullptr};
std::atomic<BOOL(WINAPI*)()> g_revert{&::RevertToSelf};
std::atomic<void (*)(DWORD)> g_endProcess{&FailFast};

} // namespace

void SetImpersonationFailureReport(ImpersonationFailureReport report) noexcept {
    g_report = report;
}

void SetImpersonationEndCalls(ImpersonationEndCalls calls) noexcept {
    g_revert = calls.revert ? calls.revert : &::RevertToSelf;
    g_endProcess = calls.endProcess ? calls.endProcess : &FailFast;
}

void EndImpersonation() noexcept {
    if (g_revert.load()()) {
        return;
    }
    const DWORD error = ::GetLastError();
    if (const ImpersonationFailureReport report = g_report) {
        // Even a report that fails must not keep the process alive.
        try {
            report(error);
        } catch (...) {
        }
    }
    g_endProcess.load()(error);
}
