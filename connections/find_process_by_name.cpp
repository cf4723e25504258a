#include "connections/find_process_by_name.h"

#include <tlhelp32.h>

std::vector<DWORD> FindProcessIds(const std::wstring& name) {
    std::vector<DWORD> found;
    const KRVN::unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return found;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::CompareStringOrdinal(entry.szExeFile, -1, name.c_str(), -1, TRUE) == CSTR_EQUAL) {
            found.push_back(entry.th32ProcessID);
        }
    }
    return found;
}

KRVN::unique_handle FindProcessByName(const std::wstring& name, DWORD sessionId, DWORD access,
                                      OpenProcessCall open) {
    for (const DWORD id : FindProcessIds(name)) {
        DWORD session = 0;
        if (!::ProcessIdToSessionId(id, &session) || session != sessionId) {
            continue;
        }
        if (KRVN::unique_handle process(open(access, FALSE, id)); process) {
            return process;
        }
    }
    return KRVN::unique_handle();
}
