#include "fake_token.h"

#include <atomic>

#include "common/unique_handle.h"

namespace fake_token {

namespace {

std::atomic<User> g_user{User::StandardUser};
std::atomic<HANDLE> g_lastLinked{nullptr};
std::atomic<int> g_linkedCount{0};

// This process's token, as the linked token of the chosen user.
HANDLE MakeLinked(User user) {
    KRVN::unique_handle process;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, process.put())) {
        return nullptr;
    }
    KRVN::unique_handle source;
    if (user == User::FilteredOtherUser) {
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(administrators);
        ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size);
        SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
        ::CreateRestrictedToken(process.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr,
                                source.put());
    } else {
        source = std::move(process);
    }
    HANDLE linked = nullptr;
    const bool primary = user == User::FilteredAdministratorPrimaryLinked;
    ::DuplicateTokenEx(source.get(), TOKEN_QUERY | TOKEN_DUPLICATE, nullptr, SecurityIdentification,
                       primary ? TokenPrimary : TokenImpersonation, &linked);
    return linked;
}

} // namespace

void Become(User user) {
    g_user = user;
}

BOOL WINAPI Query(HANDLE token, TOKEN_INFORMATION_CLASS kind, void* data, DWORD size,
                  DWORD* needed) {
    const User user = g_user;
    if (kind == TokenElevationType) {
        *needed = sizeof(TOKEN_ELEVATION_TYPE);
        *static_cast<TOKEN_ELEVATION_TYPE*>(data) =
            user == User::StandardUser ? TokenElevationTypeDefault : TokenElevationTypeLimited;
        return TRUE;
    }
    if (kind == TokenLinkedToken) {
        if (user == User::StandardUser) {
            ::SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
            return FALSE;
        }
        *needed = sizeof(TOKEN_LINKED_TOKEN);
        HANDLE linked = MakeLinked(user);
        static_cast<TOKEN_LINKED_TOKEN*>(data)->LinkedToken = linked;
        g_lastLinked = linked;
        ++g_linkedCount;
        return linked != nullptr;
    }
    return ::GetTokenInformation(token, kind, data, size, needed);
}

HANDLE LastLinked() {
    return g_lastLinked;
}

int LinkedHandedOut() {
    return g_linkedCount;
}

} // namespace fake_token
