#include "tests/support/unix_process.h"

#include <windows.h>

#include <cwctype>

#include "common/unique_handle.h"
#include "tests/support/environment.h"

namespace krvn_test {

namespace {

using unique_find = KRVN::unique_any<KRVN::close_with<HANDLE, ::FindClose, -1>>;

// /proc/<pid>/cmdline: the arguments, each ended by a zero byte.
std::string CommandLine(const std::wstring& pid) {
    const KRVN::unique_hfile file(::CreateFileW((L"Z:\\proc\\" + pid + L"\\cmdline").c_str(),
                                                GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    for (char& c : text) {
        c = c == '\0' ? ' ' : c;
    }
    return text;
}

bool IsNumber(const wchar_t* name) {
    if (*name == L'\0') {
        return false;
    }
    for (; *name != L'\0'; ++name) {
        if (!std::iswdigit(*name)) {
            return false;
        }
    }
    return true;
}

} // namespace

int UnixProcessWith(const std::string& marker) {
    WIN32_FIND_DATAW entry{};
    const unique_find found(::FindFirstFileW(L"Z:\\proc\\*", &entry));
    if (!found) {
        return 0;
    }
    int match = 0;
    int matches = 0;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            !IsNumber(entry.cFileName)) {
            continue;
        }
        if (CommandLine(entry.cFileName).find(marker) != std::string::npos) {
            match = static_cast<int>(std::wcstol(entry.cFileName, nullptr, 10));
            ++matches;
        }
    } while (::FindNextFileW(found.get(), &entry));
    return matches == 1 ? match : 0;
}

bool SignalUnixProcess(int unixPid, const std::string& signal) {
    return unixPid > 0 && RunUnix({"kill", "-" + signal, std::to_string(unixPid)});
}

} // namespace krvn_test
