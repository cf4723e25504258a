#pragma once
// The service's reports: events under the event source named like the
// service, their texts in this program's message table; while the program
// does not run as a service, the formatted text also goes to the console.
// Also writes and removes the source's registration, which tells the Event
// Viewer where the texts are.

#include <windows.h>

#include <string>

#include "service/event_reporter.h"

class EventLog : public EventReporter {
public:
    explicit EventLog(std::wstring source) : m_source(std::move(source)) {}

    // Set before any thread reports.
    void SetConsole(bool on) noexcept { m_console = on; }

    void Report(const Event& event) override;

    // The event's text from this program's message table, inserts filled
    // in, without the trailing line break; empty when the table lacks it.
    static std::wstring Format(const Event& event);

    // HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\<source>
    // with EventMessageFile (modulePath) and TypesSupported (error, warning,
    // information). Removing a source that is not there is no failure.
    static HRESULT RegisterSource(const std::wstring& source, const std::wstring& modulePath);
    static HRESULT UnregisterSource(const std::wstring& source);

private:
    std::wstring m_source;
    bool m_console = false;
};
