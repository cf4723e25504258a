#include "service/process_failure_outputs.h"

#include <cstdio>

#include "service/interactive_station.h"

bool ProcessFailureOutputs::IsInteractive() {
    if (!m_interactive) {
        m_interactive = IsInteractiveWindowStation();
    }
    return *m_interactive;
}

void ProcessFailureOutputs::ShowMessageBox(const std::wstring& caption, const std::wstring& text) {
    ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

void ProcessFailureOutputs::WriteError(const std::wstring& line) {
    std::fwprintf(stderr, L"%ls\n", line.c_str());
    std::fflush(stderr);
}
