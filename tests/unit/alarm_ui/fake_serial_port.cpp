#include "fake_serial_port.h"

#include <mutex>

#include "ui_driver.h"

namespace fake_port {

namespace {

std::mutex lock;
std::wstring failingCall;
DWORD failure = 0;
std::vector<Open> opens;
std::optional<DCB> written;
std::vector<std::wstring> machinePorts;
OVERLAPPED* pending = nullptr;
DWORD* pendingMask = nullptr;
// How the last wait ended, until GetOverlappedResult hands it over.
DWORD completedEvents = 0;
DWORD completedError = ERROR_SUCCESS;

bool Fails(const wchar_t* call) {
    std::lock_guard<std::mutex> guard(lock);
    if (failingCall != call) {
        return false;
    }
    ::SetLastError(failure);
    return true;
}

// Ends the pending wait; its mask is written when its result is taken.
void Complete(DWORD events, DWORD error) {
    if (pending) {
        completedEvents = events;
        completedError = error;
        ::SetEvent(pending->hEvent);
        pending = nullptr;
    }
}

HANDLE WINAPI CreateFileFake(LPCWSTR name, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES attributes, DWORD creation, DWORD flags,
                             HANDLE templateFile) {
    {
        std::lock_guard<std::mutex> guard(lock);
        opens.push_back(
            {name, access, share, attributes != nullptr, creation, flags, templateFile != nullptr});
    }
    // A real handle, so that the program's owner can close it.
    return Fails(L"CreateFile") ? INVALID_HANDLE_VALUE
                                : ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

BOOL WINAPI PurgeCommFake(HANDLE, DWORD) {
    return !Fails(L"PurgeComm");
}
BOOL WINAPI ClearCommBreakFake(HANDLE) {
    return !Fails(L"ClearCommBreak");
}

BOOL WINAPI GetCommStateFake(HANDLE, LPDCB control) {
    if (Fails(L"GetCommState")) {
        return FALSE;
    }
    // The caller must say which structure it passes.
    if (control->DCBlength != sizeof(DCB)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *control = DriverControlBlock();
    return TRUE;
}

BOOL WINAPI SetCommStateFake(HANDLE, LPDCB control) {
    if (Fails(L"SetCommState")) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(lock);
    written = *control;
    return TRUE;
}

BOOL WINAPI SetCommMaskFake(HANDLE, DWORD mask) {
    if (mask == 0) {
        // A new mask ends a pending wait with an empty event mask.
        std::lock_guard<std::mutex> guard(lock);
        Complete(0, ERROR_SUCCESS);
        return TRUE;
    }
    return !Fails(L"SetCommMask");
}

BOOL WINAPI WaitCommEventFake(HANDLE, LPDWORD mask, LPOVERLAPPED overlapped) {
    if (Fails(L"WaitCommEvent")) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(lock);
    pending = overlapped;
    pendingMask = mask;
    ::SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI GetOverlappedResultFake(HANDLE, LPOVERLAPPED, LPDWORD transferred, BOOL) {
    std::lock_guard<std::mutex> guard(lock);
    *transferred = 0;
    if (completedError != ERROR_SUCCESS) {
        *pendingMask = 0;
        ::SetLastError(completedError);
        return FALSE;
    }
    *pendingMask = completedEvents;
    return TRUE;
}

std::vector<std::wstring> MachinePortsFake() {
    std::lock_guard<std::mutex> guard(lock);
    return machinePorts;
}

} // namespace

DCB DriverControlBlock() {
    DCB control = {};
    control.DCBlength = sizeof(control);
    control.BaudRate = CBR_1200;
    control.fBinary = TRUE;
    control.fDtrControl = DTR_CONTROL_DISABLE;
    control.fRtsControl = RTS_CONTROL_HANDSHAKE;
    control.ByteSize = 7;
    control.Parity = EVENPARITY;
    control.StopBits = TWOSTOPBITS;
    control.XonChar = 0x11;
    control.XoffChar = 0x13;
    return control;
}

const SerialPortApi& Api() {
    static const SerialPortApi api = {
        &CreateFileFake,    &PurgeCommFake,           &ClearCommBreakFake,
        &GetCommStateFake,  &SetCommStateFake,        &SetCommMaskFake,
        &WaitCommEventFake, &GetOverlappedResultFake, &MachinePortsFake};
    return api;
}

void FailIn(const std::wstring& call, DWORD error) {
    std::lock_guard<std::mutex> guard(lock);
    failingCall = call;
    failure = error;
}

std::vector<std::wstring> Opened() {
    std::vector<std::wstring> names;
    for (const Open& open : Opens()) {
        names.push_back(open.name);
    }
    return names;
}

std::vector<Open> Opens() {
    std::lock_guard<std::mutex> guard(lock);
    return opens;
}

std::optional<DCB> WrittenControlBlock() {
    std::lock_guard<std::mutex> guard(lock);
    return written;
}

void SetMachinePorts(std::vector<std::wstring> ports) {
    std::lock_guard<std::mutex> guard(lock);
    machinePorts = std::move(ports);
}

bool WaitUntilWatching() {
    return ui::WaitFor([] {
        std::lock_guard<std::mutex> guard(lock);
        return pending != nullptr;
    });
}

void Press() {
    std::lock_guard<std::mutex> guard(lock);
    Complete(EV_DSR, ERROR_SUCCESS);
}

void FailPendingWait(DWORD error) {
    std::lock_guard<std::mutex> guard(lock);
    Complete(0, error);
}

void Reset() {
    std::lock_guard<std::mutex> guard(lock);
    failingCall.clear();
    opens.clear();
    written.reset();
    machinePorts.clear();
    pending = nullptr;
    completedError = ERROR_SUCCESS;
}

} // namespace fake_port
