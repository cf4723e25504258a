#include "alarm_ui/process_user_sid.h"

#include <sddl.h>

#include <vector>

#include "common/unique_handle.h"

namespace {

// A failure without an error code must not read as success.
HRESULT LastError() {
    const HRESULT error = KRVN::HResultFromStatus(static_cast<std::int32_t>(::GetLastError()));
    return FAILED(error) ? error : E_FAIL;
}

} // namespace

HRESULT ProcessUserSid(std::wstring& text) {
    KRVN::unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return LastError();
    }
    // Measured first: a TOKEN_USER carries its SID behind the structure.
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return LastError();
    }
    std::vector<BYTE> buffer(size);
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return LastError();
    }
    KRVN::unique_hlocal_string sid;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid,
                                  sid.put())) {
        return LastError();
    }
    text = sid.get();
    return S_OK;
}
