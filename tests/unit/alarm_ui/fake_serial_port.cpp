#include "fake_serial_port.h"

#include <mutex>

#include "ui_driver.h"

namespace fake_port {

namespace {

std::mutex lock;
std::wstring failingCall;
DWORD failure = 0;
std::vector<std::wstring> opened;
OVERLAPPED* pending = nullptr;
DWORD* pendingMask = nullptr;

bool Fails(const wchar_t* call) {
    std::lock_guard<std::mutex> guard(lock);
    if (failingCall != call) {
        return false;
    }
    ::SetLastError(failure);
    return true;
}

// Completes the pending wait with the given events.
void Complete(DWORD events) {
    if (pending) {
        *pendingMask = events;
        ::SetEvent(pending->hEvent);
        pending = nullptr;
    }
}

HANDLE WINAPI CreateFileFake(LPCWSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                             HANDLE) {
    {
        std::lock_guard<std::mutex> guard(lock);
        opened.push_back(name);
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

BOOL WINAPI SetCommMaskFake(HANDLE, DWORD mask) {
    if (mask == 0) {
        std::lock_guard<std::mutex> guard(lock);
        Complete(0);
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
    *transferred = 0;
    return TRUE;
}

} // namespace

const SerialPortApi& Api() {
    static const SerialPortApi api = {&CreateFileFake,     &PurgeCommFake,
                                      &ClearCommBreakFake, &SetCommMaskFake,
                                      &WaitCommEventFake,  &GetOverlappedResultFake};
    return api;
}

void FailIn(const std::wstring& call, DWORD error) {
    std::lock_guard<std::mutex> guard(lock);
    failingCall = call;
    failure = error;
}

std::vector<std::wstring> Opened() {
    std::lock_guard<std::mutex> guard(lock);
    return opened;
}

bool WaitUntilWatching() {
    return ui::WaitFor([] {
        std::lock_guard<std::mutex> guard(lock);
        return pending != nullptr;
    });
}

void Press() {
    std::lock_guard<std::mutex> guard(lock);
    Complete(EV_DSR);
}

void Reset() {
    std::lock_guard<std::mutex> guard(lock);
    failingCall.clear();
    opened.clear();
    pending = nullptr;
}

} // namespace fake_port
