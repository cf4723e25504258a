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

void EventLog::Log(std::wstring_view text) const {
    wchar_t message[kMaxText + 1] = {};
    text.copy(message, kMaxText);
    if (m_console) {
        std::fputws(message, stdout);
        std::fputwc(L'\n', stdout);
        std::fflush(stdout);
    }
    const unique_event_source source(::RegisterEventSourceW(nullptr, m_source.c_str()));
    if (source) {
        const wchar_t* strings[] = {message};
        ::ReportEventW(source.get(), EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings,
                       nullptr);
    }
}
