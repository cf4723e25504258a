#pragma once
// How a switch that failed (RegServer, UnregServer, Service, AutoStart) tells
// whoever ran it why. msiexec /qn runs the switches as LocalSystem on a
// window station that nobody sees, where a message box would hold the
// installation for ever; so the box appears only on an interactive window
// station, while the text always goes to standard error and to the event
// log, and the exit code carries the error.

#include <windows.h>

#include <string>

#include "service/event_reporter.h"

// Where the report goes; the program hands in its own (process_failure_outputs.h),
// tests a recorder.
class SwitchFailureOutputs {
public:
    virtual ~SwitchFailureOutputs() = default;
    virtual bool IsInteractive() = 0;
    virtual void ShowMessageBox(const std::wstring& caption, const std::wstring& text) = 0;
    virtual void WriteError(const std::wstring& line) = 0;
    virtual void Report(const Event& event) = 0;
};

// Reports text ("Could not open service") with the Win32 error that caused
// it, under caption (the service's name); returns that error as the
// switch's HRESULT (E_FAIL for an error of 0).
HRESULT ReportSwitchFailure(SwitchFailureOutputs& outputs, const std::wstring& caption,
                            const wchar_t* text, DWORD error);
