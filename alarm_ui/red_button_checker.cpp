#include "alarm_ui/red_button_checker.h"

#include <cwchar>

#include "alarm_ui/app_messages.h"
#include "alarm_ui/error_text.h"
#include "alarm_ui/format_text.h"
#include "alarm_ui/resource.h"
#include "alarm_ui/resource_instance.h"
#include "common/serial_port_path.h"
#include "common/unique_handle.h"
#include "window/resource_string.h"

void RedButtonChecker::StartWatch(HWND dialog, std::wstring portUnderTest,
                                  std::wstring servicePort) {
    // Start raises before the thread exists, so the old members are not
    // replaced while a run still reads them.
    if (IsRunning()) {
        KRVN_RAISE(E_FAIL);
    }
    m_dialog = dialog;
    m_portUnderTest = std::move(portUnderTest);
    m_servicePort = std::move(servicePort);
    m_couldNotOpen = false;
    Start(nullptr, 0, false);
}

void RedButtonChecker::Run() {
    if (m_portUnderTest.empty()) {
        return;
    }
    const wchar_t* failedCall = nullptr;
    DWORD error = 0;
    KRVN::unique_hfile port = OpenPort(failedCall, error);
    if (!port) {
        if (error == ERROR_ACCESS_DENIED && m_portUnderTest == m_servicePort) {
            return;
        }
        m_couldNotOpen = true;
        if (error == ERROR_FILE_NOT_FOUND && std::wcscmp(failedCall, L"CreateFile") == 0) {
            const std::wstring format =
                KRVN::LoadResourceString(ResourceInstance(), IDS_PORT_NOT_FOUND);
            AddLine(FormatText(format.c_str(), m_portUnderTest.c_str()));
        } else {
            AddFailure(failedCall, error);
        }
        return;
    }
    Watch(port);
}

KRVN::unique_hfile RedButtonChecker::OpenPort(const wchar_t*& failedCall, DWORD& error) {
    // By its device path, the only name a port above COM9 has; without
    // sharing, as a communications device must be opened.
    KRVN::unique_hfile port(m_api.createFile(KRVN::SerialPortPath(m_portUnderTest).c_str(),
                                             GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    failedCall = port ? PreparePort(port.get()) : L"CreateFile";
    if (!failedCall) {
        return port;
    }
    error = ::GetLastError();
    return KRVN::unique_hfile();
}

const wchar_t* RedButtonChecker::PreparePort(HANDLE port) {
    if (!m_api.purgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        return L"PurgeComm";
    }
    if (!m_api.clearCommBreak(port)) {
        return L"ClearCommBreak";
    }
    // The button closes DTR onto DSR, so without DTR no press shows. The
    // driver keeps the control block of its last user: only DTR changes.
    DCB control = {};
    control.DCBlength = sizeof(control);
    if (!m_api.getCommState(port, &control)) {
        return L"GetCommState";
    }
    control.fDtrControl = DTR_CONTROL_ENABLE;
    if (!m_api.setCommState(port, &control)) {
        return L"SetCommState";
    }
    if (!m_api.setCommMask(port, EV_DSR)) {
        return L"SetCommMask";
    }
    return nullptr;
}

void RedButtonChecker::Watch(KRVN::unique_hfile& port) {
    const KRVN::unique_event completed = KRVN::unique_event::create(true, false);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = completed.get();
    DWORD events = 0;
    const HANDLE wakers[] = {StopEvent().Handle(), completed.get()};
    for (;;) {
        events = 0;
        completed.ResetEvent();
        if (!m_api.waitCommEvent(port.get(), &events, &overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) {
                AddFailure(L"WaitCommEvent", error);
                return;
            }
        }
        const DWORD woken = ::WaitForMultipleObjects(2, wakers, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0) {
            EndPendingWait(port, overlapped);
            return;
        }
        if (woken != WAIT_OBJECT_0 + 1) {
            const DWORD error = ::GetLastError();
            EndPendingWait(port, overlapped);
            AddFailure(L"WaitForMultipleObjects", error);
            return;
        }
        // The event mask holds the events only once the wait's result is
        // taken; a wait that failed (the port went away) is no press, and
        // neither is one that ended without DSR, the only event asked for.
        DWORD transferred = 0;
        if (!m_api.getOverlappedResult(port.get(), &overlapped, &transferred, FALSE)) {
            AddFailure(L"WaitCommEvent", ::GetLastError());
            return;
        }
        if ((events & EV_DSR) == 0) {
            AddFailure(L"WaitCommEvent", ERROR_GEN_FAILURE);
            return;
        }
        AddLine(KRVN::LoadResourceString(ResourceInstance(), IDS_RESPONSE));
    }
}

void RedButtonChecker::EndPendingWait(KRVN::unique_hfile& port, OVERLAPPED& overlapped) {
    // A new mask completes the pending wait; the system writes to the mask
    // and the OVERLAPPED until it has completed.
    if (m_api.setCommMask(port.get(), 0)) {
        DWORD transferred = 0;
        m_api.getOverlappedResult(port.get(), &overlapped, &transferred, TRUE);
        return;
    }
    // Closing the port ends the wait as well; it has completed once the
    // event is set.
    port.reset();
    ::WaitForSingleObject(overlapped.hEvent, INFINITE);
}

void RedButtonChecker::AddLine(const std::wstring& line) {
    ::SendMessageW(m_dialog, kAddResponseLineMessage, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

void RedButtonChecker::AddFailure(const wchar_t* call, DWORD error) {
    const std::wstring format = KRVN::LoadResourceString(ResourceInstance(), IDS_FUNCTION_FAILED);
    AddLine(FormatText(format.c_str(), call, ErrorText(error).c_str(), error));
}
