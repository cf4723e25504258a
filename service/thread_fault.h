#pragma once
// A failure that nothing on a service thread expected (a resource that could
// not be had, a bug): the thread reports it and goes on, so that no thread
// of the alarm's way can end silently and leave presses or checks undone.

#include <cstdio>
#include <iterator>

#include "com/result.h"
#include "service/event_reporter.h"

// The event of the failure being handled: call only inside a catch block;
// thread names the thread in the event.
inline Event ThreadFaultEvent(const wchar_t* thread) {
    wchar_t code[16];
    std::swprintf(code, std::size(code), L"%#lx",
                  static_cast<unsigned long>(KRVN::com::HResultFromCaughtException()));
    return {EventType::Error, MSG_THREAD_FAULT, {thread, code}};
}

// Reports it at once; call only inside a catch block.
inline void ReportThreadFault(EventReporter& reporter, const wchar_t* thread) noexcept {
    try {
        reporter.Report(ThreadFaultEvent(thread));
    } catch (...) {
        // Not even the report could be made; the thread goes on all the same.
    }
}
