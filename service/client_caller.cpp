#include "service/client_caller.h"

#include <objbase.h>
#include <sddl.h>

#include <vector>

#include "com/com_ptr.h"
#include "common/unique_handle.h"
#include "service/calling_process.h"

namespace {

// The caller's token: taken while impersonating it when COM tells the
// call's security (Wine does not), else its process's token; outside a
// client call (process 0), this process's own token.
KRVN::unique_handle CallerToken(IServerSecurity* security, DWORD processId) {
    KRVN::unique_handle token;
    if (security) {
        if (SUCCEEDED(security->ImpersonateClient())) {
            ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put());
            security->RevertToSelf();
        }
        return token;
    }
    if (processId == 0) {
        ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put());
        return token;
    }
    const KRVN::unique_handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (process) {
        ::OpenProcessToken(process.get(), TOKEN_QUERY, token.put());
    }
    return token;
}

std::wstring AccountName(HANDLE token) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        return std::wstring();
    }
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameSize = 256;
    DWORD domainSize = 256;
    SID_NAME_USE use;
    if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        return domainSize == 0 ? std::wstring(name) : std::wstring(domain) + L"\\" + name;
    }
    KRVN::unique_hlocal_string text;
    if (::ConvertSidToStringSidW(sid, text.put())) {
        return text.get();
    }
    return std::wstring();
}

std::wstring ProgramName(DWORD processId) {
    const KRVN::unique_handle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!process || !::QueryFullProcessImageNameW(process.get(), 0, path, &size)) {
        return std::wstring();
    }
    const std::wstring full(path, size);
    const size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

} // namespace

bool ClientCaller::IsTrayProgram() const {
    return ::CompareStringOrdinal(program.c_str(), -1, L"Alarm.exe", -1, TRUE) == CSTR_EQUAL;
}

std::wstring ClientCaller::AccountText() const {
    return account.empty() ? L"an unknown account" : account;
}

ClientCaller DescribeCaller() {
    KRVN::com_ptr<IServerSecurity> security;
    ::CoGetCallContext(IID_IServerSecurity, reinterpret_cast<void**>(security.put()));
    ClientCaller caller;
    const DWORD processId = CallingProcessId();
    if (const KRVN::unique_handle token = CallerToken(security.get(), processId)) {
        caller.account = AccountName(token.get());
    }
    caller.processId = processId || security ? processId : ::GetCurrentProcessId();
    if (caller.processId != 0) {
        caller.program = ProgramName(caller.processId);
    }
    return caller;
}
