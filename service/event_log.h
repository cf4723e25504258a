#pragma once
// The service's reports: events under the event source named like the
// service, and, while the program does not run as a service, the same text
// on the console.

#include <string>
#include <string_view>

#include "service/event_reporter.h"

class EventLog : public EventReporter {
public:
    enum class Severity { Information, Warning };

    // Longest text written, in characters.
    static constexpr size_t kMaxText = 255;

    explicit EventLog(std::wstring source) : m_source(std::move(source)) {}

    // Set before any thread reports.
    void SetConsole(bool on) noexcept { m_console = on; }
    // Texts longer than kMaxText are cut.
    void Log(std::wstring_view text, Severity severity = Severity::Information) const;

    void Information(std::wstring_view text) override { Log(text, Severity::Information); }
    void Warning(std::wstring_view text) override { Log(text, Severity::Warning); }

private:
    std::wstring m_source;
    bool m_console = false;
};
