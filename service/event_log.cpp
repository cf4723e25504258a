#include "service/event_log.h"

#include <windows.h>

#include <cstdio>

#include "common/unique_handle.h"

namespace {

struct event_source_traits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type value) noexcept { ::DeregisterEventSource(value); }
};

using unique_event_source = KRVN::unique_any<event_source_traits>;

} // namespace

void EventLog::Log(std::wstring_view text, Severity severity) const {
    wchar_t message[kMaxText + 1] = {};
    text.copy(message, kMaxText);
    if (m_console) {
        // One write per line: the watcher thread reports while others may.
        std::fwprintf(stdout, L"%ls\n", message);
        std::fflush(stdout);
    }
    const unique_event_source source(::RegisterEventSourceW(nullptr, m_source.c_str()));
    if (source) {
        const wchar_t* strings[] = {message};
        const WORD type =
            severity == Severity::Warning ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE;
        ::ReportEventW(source.get(), type, 0, 0, nullptr, 1, 0, strings, nullptr);
    }
}
