#include "alarm_ui/elevated_restart.h"

#include <string>

#include "com/result.h"
#include "com/unique_couninitialize.h"
#include "common/runtime_thread_creator.h"
#include "window/wait_handling_sent.h"

namespace {

// A failure without an error code must not read as success.
HRESULT LastError() {
    const HRESULT error = KRVN::HResultFromStatus(static_cast<std::int32_t>(::GetLastError()));
    return FAILED(error) ? error : E_FAIL;
}

bool ProcessIsFilteredAdministrator(TokenInformationQuery query) {
    KRVN::unique_handle token;
    return ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()) &&
           IsFilteredAdministrator(token.get(), query);
}

// This program's file; a path longer than the buffer comes back cut to it,
// so the buffer grows until the path fits (32,767 characters at most).
std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) {
            return std::wstring();
        }
        path.resize(path.size() * 2);
    }
}

// One start of the elevated instance, shared with the thread that makes it.
struct Launch {
    decltype(&::ShellExecuteExW) call = nullptr;
    std::wstring path;
    SHELLEXECUTEINFOW info = {};
    BOOL started = FALSE;
    DWORD error = 0;
};

// ShellExecuteEx may reach shell extensions that need a single-threaded
// apartment, which the program's main thread (in the multithreaded one)
// cannot offer: the call runs on a thread of its own.
unsigned __stdcall LaunchInApartment(void* context) {
    const std::unique_ptr<std::shared_ptr<Launch>> owned(
        static_cast<std::shared_ptr<Launch>*>(context));
    Launch& launch = **owned;
    const KRVN::unique_couninitialize apartment(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    launch.started = launch.call(&launch.info);
    launch.error = launch.started ? ERROR_SUCCESS : ::GetLastError();
    return 0;
}

} // namespace

ElevatedRestart::ElevatedRestart(HINSTANCE instance, std::function<void()> onHandOver,
                                 ElevationCalls calls)
    : m_onHandOver(std::move(onHandOver)), m_calls(calls),
      m_filteredAdministrator(ProcessIsFilteredAdministrator(calls.queryToken)) {
    Create(instance, HWND_MESSAGE, nullptr, 0);
}

bool ElevatedRestart::CanHelp() const noexcept {
    return m_filteredAdministrator && m_hWnd && !m_handOver;
}

HRESULT ElevatedRestart::Restart(HWND owner) {
    if (!CanHelp()) {
        return E_UNEXPECTED;
    }
    std::unique_ptr<HandOver> offer;
    KRVN_RETURN_IF_FAILED(HandOver::Offer(offer));
    KRVN_RETURN_IF_FAILED(LaunchElevated(owner));
    HANDLE wait = nullptr;
    if (!::RegisterWaitForSingleObject(&wait, offer->TakenEvent(), &OnTaken, this, kTakeOverBoundMs,
                                       WT_EXECUTEONLYONCE)) {
        return LastError();
    }
    m_handOver = std::move(offer);
    m_wait.reset(wait);
    return S_OK;
}

HRESULT ElevatedRestart::LaunchElevated(HWND owner) const {
    auto launch = std::make_shared<Launch>();
    launch->call = m_calls.launch;
    launch->path = ProgramPath();
    if (launch->path.empty()) {
        return LastError();
    }
    launch->info.cbSize = sizeof(launch->info);
    // The thread ends right after the call: nothing may be left to finish
    // in the background.
    launch->info.fMask = SEE_MASK_NOASYNC;
    launch->info.hwnd = owner;
    launch->info.lpVerb = L"runas";
    launch->info.lpFile = launch->path.c_str();
    launch->info.nShow = SW_SHOWNORMAL;

    auto share = std::make_unique<std::shared_ptr<Launch>>(launch);
    unsigned threadId = 0;
    const KRVN::unique_handle thread(
        CRuntimeThreadCreator::Create(nullptr, 0, &LaunchInApartment, share.get(), 0, &threadId));
    if (!thread) {
        return LastError();
    }
    // The thread owns its share now.
    static_cast<void>(share.release());
    // The prompt may send to the owner window, which belongs to this thread.
    KRVN::WaitHandlingSentMessages(thread.get());
    if (::WaitForSingleObject(thread.get(), 0) != WAIT_OBJECT_0) {
        return E_UNEXPECTED;
    }
    return launch->started ? S_OK
                           : KRVN::HResultFromStatus(static_cast<std::int32_t>(launch->error));
}

void CALLBACK ElevatedRestart::OnTaken(void* context, BOOLEAN timedOut) {
    // A thread of the pool: posting is all it does.
    auto* self = static_cast<ElevatedRestart*>(context);
    ::PostMessageW(self->Handle(), kHandOverMessage, timedOut ? 1 : 0, 0);
}

LRESULT ElevatedRestart::OnHandOver(UINT, WPARAM timedOut, LPARAM) {
    // The wait ran once and is over; ended here, not in its callback.
    m_wait.reset();
    if (timedOut) {
        // The elevated instance never came: the events go, a later offer
        // makes new ones.
        m_handOver.reset();
        return 0;
    }
    m_taken = true;
    m_onHandOver();
    return 0;
}

void ElevatedRestart::LetGo() const noexcept {
    if (m_taken && m_handOver) {
        m_handOver->LetGo();
    }
}
