#include "service/desktop_program.h"

#include "common/unique_handle.h"
#include "connections/find_process_by_name.h"
#include "contract/desktop_program.h"

#include <sddl.h>

namespace {

// The full path of a process's program file, in the same form for every
// process (the system's own name of the image); empty when it cannot be read.
std::wstring ImagePath(HANDLE process) {
    std::wstring path(MAX_PATH, L'\0');
    for (int tries = 0; tries < 4; ++tries) {
        auto size = static_cast<DWORD>(path.size());
        if (::QueryFullProcessImageNameW(process, 0, path.data(), &size)) {
            path.resize(size);
            return path;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            break;
        }
        path.resize(path.size() * 4);
    }
    return std::wstring();
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

DesktopProgram::DesktopProgram(std::wstring folder) : m_folder(std::move(folder)) {}

std::wstring DesktopProgram::ProgramFolder() {
    return FolderOf(ImagePath(::GetCurrentProcess()));
}

void DesktopProgram::PrepareCloseRequest() {
    KRVN::unique_hlocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            KRVN::contract::kDesktopCloseEventSddl, SDDL_REVISION_1,
            reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
        return;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    m_closeRequest.reset(
        ::CreateEventW(&attributes, TRUE, FALSE, KRVN::contract::kDesktopCloseEventName));
    // A program of the last run may still hold the event, set.
    if (m_closeRequest) {
        ::ResetEvent(m_closeRequest.get());
    }
}

std::vector<KRVN::unique_handle> DesktopProgram::FindOurs() const {
    std::vector<KRVN::unique_handle> ours;
    for (const DWORD id : FindProcessIds(KRVN::contract::kDesktopProgramFile)) {
        const KRVN::unique_handle seen(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        if (!seen || !SameFolder(FolderOf(ImagePath(seen.get())), m_folder)) {
            continue;
        }
        // Opened again while the first handle keeps the id from being reused.
        if (KRVN::unique_handle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
            process) {
            ours.push_back(std::move(process));
        }
    }
    return ours;
}

void DesktopProgram::Close(DWORD boundMs) {
    const std::vector<KRVN::unique_handle> ours = FindOurs();
    if (m_closeRequest) {
        ::SetEvent(m_closeRequest.get());
    } else {
        boundMs = 0;
    }
    const ULONGLONG deadline = ::GetTickCount64() + boundMs;
    for (const KRVN::unique_handle& process : ours) {
        const ULONGLONG now = ::GetTickCount64();
        const auto left = static_cast<DWORD>(now < deadline ? deadline - now : 0);
        if (::WaitForSingleObject(process.get(), left) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.get(), kEndedExitCode);
        }
    }
}
