#include "alarm_ui/hand_over.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "alarm_ui/app_strings.h"
#include "alarm_ui/format_text.h"
#include "alarm_ui/process_user_sid.h"
#include "com/result.h"

namespace {

constexpr DWORD kSetAndWait = EVENT_MODIFY_STATE | SYNCHRONIZE;

// A failure without an error code must not read as success.
HRESULT LastError() {
    const HRESULT error = KRVN::HResultFromStatus(static_cast<std::int32_t>(::GetLastError()));
    return FAILED(error) ? error : E_FAIL;
}

// A new event under `name`, owned by `user`, on whose DACL SYSTEM and
// Administrators get `granted`; the handle has `access` (the creator's
// handle has what it asks for). An existing one is refused.
HRESULT CreateOwnEvent(const wchar_t* name, const std::wstring& user, DWORD granted, DWORD access,
                       KRVN::unique_handle& event) {
    const std::wstring mask = FormatText(L"0x%08x", static_cast<unsigned>(granted));
    const std::wstring sddl =
        L"O:" + user + L"G:" + user + L"D:P(A;;" + mask + L";;;SY)(A;;" + mask + L";;;BA)";
    KRVN::unique_hlocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1,
            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
        return LastError();
    }
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor.get();
    attributes.bInheritHandle = FALSE;
    event.reset(::CreateEventExW(&attributes, name, CREATE_EVENT_MANUAL_RESET, access));
    if (!event) {
        return LastError();
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        event.reset();
        return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    }
    return S_OK;
}

// The event `name`, opened with `access`, when its owner is `user`.
KRVN::unique_handle OpenOwnEvent(const wchar_t* name, const std::wstring& user, DWORD access) {
    // The owner may always read the descriptor (READ_CONTROL).
    KRVN::unique_handle event(::OpenEventW(access | READ_CONTROL, FALSE, name));
    PSID owner = nullptr;
    KRVN::unique_hlocal descriptor;
    KRVN::unique_hlocal_string ownerText;
    if (!event ||
        ::GetSecurityInfo(
            event.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
            nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS ||
        !owner || !::ConvertSidToStringSidW(owner, ownerText.put()) || user != ownerText.get()) {
        return KRVN::unique_handle();
    }
    return event;
}

} // namespace

HRESULT HandOver::Offer(std::unique_ptr<HandOver>& offer) {
    std::wstring user;
    KRVN_RETURN_IF_FAILED(ProcessUserSid(user));
    KRVN::unique_handle taken;
    KRVN::unique_handle released;
    KRVN_RETURN_IF_FAILED(
        CreateOwnEvent(kHandOverEventName, user, kSetAndWait, SYNCHRONIZE, taken));
    KRVN_RETURN_IF_FAILED(
        CreateOwnEvent(kReleasedEventName, user, SYNCHRONIZE, kSetAndWait, released));
    offer.reset(new HandOver(std::move(taken), std::move(released)));
    return S_OK;
}

bool HandOver::TakeOver(DWORD timeoutMs) {
    std::wstring user;
    if (FAILED(ProcessUserSid(user))) {
        return false;
    }
    const KRVN::unique_handle taken = OpenOwnEvent(kHandOverEventName, user, EVENT_MODIFY_STATE);
    const KRVN::unique_handle released = OpenOwnEvent(kReleasedEventName, user, SYNCHRONIZE);
    if (!taken || !released || !::SetEvent(taken.get())) {
        return false;
    }
    return ::WaitForSingleObject(released.get(), timeoutMs) == WAIT_OBJECT_0;
}
