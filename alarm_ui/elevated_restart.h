#pragma once
// Restarting the program elevated, for an administrator whose token is
// filtered (UAC) when the service refuses a change to non-administrators.
// The program starts itself again with the "runas" verb (the system's
// consent prompt) and hands its place over (hand_over.h): once the elevated
// instance has the service's objects it says so, this instance ends as
// "&Выйти" does, and only after that shutdown may the elevated one go on.
// A standard user is never offered this: elevation would ask for another
// account.
//
// The wait for the elevated instance is a wait of the thread pool, which
// only posts to this object's message-only window; the main thread (in
// whatever modal loop it is) then ends the program.

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <memory>

#include "alarm_ui/app_messages.h"
#include "alarm_ui/hand_over.h"
#include "alarm_ui/token_elevation.h"
#include "alarm_ui/unique_wait.h"
#include "window/message_map.h"
#include "window/window_impl.h"

// The system's calls unless a test answers for them: the query of this
// process's token and the start of the elevated instance.
struct ElevationCalls {
    TokenInformationQuery queryToken = &::GetTokenInformation;
    decltype(&::ShellExecuteExW) launch = &::ShellExecuteExW;
};

class ElevatedRestart : public KRVN::CWindowImpl<ElevatedRestart> {
public:
    static constexpr wchar_t kClassName[] = L"KrvnElevatedRestart";
    // How long the elevated instance has to take over once it was started.
    static constexpr DWORD kTakeOverBoundMs = 60000;

    // Main thread. `onHandOver` runs on it once the elevated instance has
    // taken over; it ends the program.
    ElevatedRestart(HINSTANCE instance, std::function<void()> onHandOver,
                    ElevationCalls calls = {});

    // The user is an administrator whose token is filtered, and no restart
    // is under way: restarting elevated would get past the service's refusal.
    bool CanHelp() const noexcept;

    // Main thread: starts this program elevated, its prompt owned by
    // `owner`, and waits (without blocking) for it to take over. S_OK once
    // started; HRESULT_FROM_WIN32(ERROR_CANCELLED) when the user declined
    // the prompt; the failing call's error otherwise.
    HRESULT Restart(HWND owner);

    // After the program's shutdown: an elevated instance that took over
    // goes on now.
    void LetGo() const noexcept;

    KRVN_BEGIN_MSG_MAP()
    KRVN_MESSAGE_HANDLER(kHandOverMessage, OnHandOver)
    KRVN_END_MSG_MAP()

private:
    static void CALLBACK OnTaken(void* context, BOOLEAN timedOut);
    LRESULT OnHandOver(UINT, WPARAM timedOut, LPARAM);
    HRESULT LaunchElevated(HWND owner) const;

    std::function<void()> m_onHandOver;
    ElevationCalls m_calls;
    bool m_filteredAdministrator = false;
    bool m_taken = false;
    std::unique_ptr<HandOver> m_handOver;
    // Last, so that it ends first: before the event it waits on closes and
    // before the window it posts to goes.
    unique_wait m_wait;
};
