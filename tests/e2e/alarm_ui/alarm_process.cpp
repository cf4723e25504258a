#include "tests/e2e/alarm_ui/alarm_process.h"

#include <cstdlib>
#include <string>

#include "tests/unit/alarm_ui/ui_driver.h"

namespace krvn_e2e {

namespace {

struct Search {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* caption;
    int marker;
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    wchar_t caption[256] = {};
    ::InternalGetWindowText(window, caption, 256);
    if (owner != search.processId || std::wstring(name) != search.className ||
        std::wstring(caption) != search.caption) {
        return TRUE;
    }
    if (!::IsWindowVisible(window) ||
        (search.marker != 0 &&
         (::GetDlgItem(window, std::abs(search.marker)) != nullptr) != (search.marker > 0))) {
        return TRUE;
    }
    search.found = window;
    return FALSE;
}

} // namespace

AlarmProcess::~AlarmProcess() {
    End();
}

void AlarmProcess::End() {
    if (Running()) {
        ::TerminateProcess(m_process.get(), 99);
        ::WaitForSingleObject(m_process.get(), 5000);
    }
}

bool AlarmProcess::Start() {
    const std::wstring path = KRVN_ALARM_PATH;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started)) {
        return false;
    }
    m_process.reset(started.hProcess);
    const KRVN::unique_handle thread(started.hThread);
    m_processId = started.dwProcessId;
    return true;
}

bool AlarmProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!m_process || ::WaitForSingleObject(m_process.get(), timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    return ::GetExitCodeProcess(m_process.get(), exitCode) != FALSE;
}

bool AlarmProcess::Running() const {
    return m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

HWND AlarmProcess::WaitForDialog(const wchar_t* caption, int marker, DWORD timeoutMs) const {
    Search search{m_processId, L"#32770", caption, marker, nullptr};
    ui::WaitFor(
        [&] {
            ::EnumWindows(&Match, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

HWND AlarmProcess::WaitForHiddenWindow(DWORD timeoutMs) const {
    HWND found = nullptr;
    ui::WaitFor(
        [&] {
            for (HWND w = ::FindWindowExW(nullptr, nullptr, nullptr, L"ShellIconHiddenWindow"); w;
                 w = ::FindWindowExW(nullptr, w, nullptr, L"ShellIconHiddenWindow")) {
                DWORD owner = 0;
                ::GetWindowThreadProcessId(w, &owner);
                if (owner == m_processId) {
                    found = w;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

} // namespace krvn_e2e
