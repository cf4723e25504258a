#pragma once
// The program's own outputs for a failed switch: this process's window
// station decides about the box (asked once), standard error, and the
// event log.

#include <windows.h>

#include <optional>

#include "service/event_reporter.h"
#include "service/switch_failure.h"

class ProcessFailureOutputs : public SwitchFailureOutputs {
public:
    explicit ProcessFailureOutputs(EventReporter& events) : m_events(events) {}

    bool IsInteractive() override;
    void ShowMessageBox(const std::wstring& caption, const std::wstring& text) override;
    void WriteError(const std::wstring& line) override;
    void Report(const Event& event) override { m_events.Report(event); }

private:
    EventReporter& m_events;
    std::optional<bool> m_interactive;
};
