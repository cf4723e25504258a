#include "connections/find_process_by_name.h"

#include <psapi.h>

namespace {

// All access rights as the NT 5 headers define them; the newer, wider mask
// is refused by older systems.
constexpr DWORD kProcessAllAccess = STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFF;
constexpr DWORD kMaxProcesses = 1024;

template <class Accept> KRVN::unique_handle FindFirst(const std::wstring& name, Accept accept) {
    DWORD ids[kMaxProcesses];
    DWORD bytes = 0;
    if (!::EnumProcesses(ids, sizeof ids, &bytes)) {
        return KRVN::unique_handle();
    }
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        if (!accept(ids[i])) {
            continue;
        }
        KRVN::unique_handle process(::OpenProcess(kProcessAllAccess, FALSE, ids[i]));
        if (!process) {
            continue;
        }
        HMODULE module = nullptr;
        DWORD needed = 0;
        if (!::EnumProcessModules(process.get(), &module, sizeof module, &needed)) {
            continue;
        }
        wchar_t baseName[MAX_PATH] = L"<unknown>";
        ::GetModuleBaseNameW(process.get(), module, baseName, MAX_PATH);
        if (::CompareStringOrdinal(baseName, -1, name.c_str(), -1, TRUE) == CSTR_EQUAL) {
            return process;
        }
    }
    return KRVN::unique_handle();
}

} // namespace

KRVN::unique_handle FindProcessByName(const std::wstring& name) {
    return FindFirst(name, [](DWORD) { return true; });
}

KRVN::unique_handle FindProcessByName(const std::wstring& name, DWORD sessionId) {
    return FindFirst(name, [sessionId](DWORD processId) {
        DWORD session = 0;
        return ::ProcessIdToSessionId(processId, &session) && session == sessionId;
    });
}
