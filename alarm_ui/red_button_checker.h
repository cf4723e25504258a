#pragma once
// The button test's worker: watches one serial port for DSR changes (a press
// of the red button) and reports each press, or why the port cannot be
// watched, as a line of the test dialog's response list. Lines reach the
// dialog only as sent messages (kAddResponseLineMessage).

#include <windows.h>

#include <atomic>
#include <string>

#include "alarm_ui/serial_port_api.h"
#include "common/smart_thread.h"
#include "common/unique_handle.h"

class RedButtonChecker : public CEventThread<CRuntimeThreadCreator> {
public:
    explicit RedButtonChecker(const SerialPortApi& api) : m_api(api) {}

    // Stores the dialog and both ports, then starts the watch run. Raises
    // CAException when the thread still runs or cannot be started.
    void StartWatch(HWND dialog, std::wstring portUnderTest, std::wstring servicePort);

    // The watch run. An empty port ends it at once; a port that the service
    // holds (access denied on the service's own port) ends it quietly.
    void Run() override;

    // Whether the last run could not open or prepare its port (and said so).
    bool CouldNotOpen() const noexcept { return m_couldNotOpen; }

private:
    // Opens the port by its device path and prepares it; on failure names
    // the call and its error.
    KRVN::unique_hfile OpenPort(const wchar_t*& failedCall, DWORD& error);
    // Empties the port, clears a break, raises DTR and asks for DSR changes;
    // the name of the call that failed, or null.
    const wchar_t* PreparePort(HANDLE port);
    void Watch(KRVN::unique_hfile& port);
    // Ends a WaitCommEvent still pending, so that the system is done with
    // the event mask and the OVERLAPPED before they go.
    void EndPendingWait(KRVN::unique_hfile& port, OVERLAPPED& overlapped);

    void AddLine(const std::wstring& line);
    void AddFailure(const wchar_t* call, DWORD error);

    const SerialPortApi& m_api;
    HWND m_dialog = nullptr;
    std::wstring m_portUnderTest;
    std::wstring m_servicePort;
    std::atomic<bool> m_couldNotOpen{false};
};
