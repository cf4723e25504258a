#include "tests/e2e/service/virtual_button.h"

#include "common/unique_handle.h"
#include "tests/e2e/service/program_run.h"

namespace krvn_e2e {

namespace {

// A change held this long is always seen by a pending WaitCommEvent.
constexpr DWORD kHoldMs = 50;
// The watcher raises DTR just before its first wait: time for that wait to begin.
constexpr DWORD kSettleMs = 300;

std::wstring StateFile(const wchar_t* name) {
    return DosPath(Env("KRVN_VBUTTON_STATE")) + L"\\" + name;
}

// Runs tools/virtual_button/vbutton to its end through Wine's own spawn.
bool Vbutton(std::string verb, std::string argument = "") {
    using SpawnFn = LONG(WINAPI*)(char* const argv[], int wait);
    const auto spawn = reinterpret_cast<SpawnFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    std::string command = Env("KRVN_SOURCE_DIR") + "/tools/virtual_button/vbutton";
    char* argv[] = {command.data(), verb.data(), argument.empty() ? nullptr : argument.data(),
                    nullptr};
    return spawn && spawn(argv, 1) == 0;
}

} // namespace

std::wstring VirtualButton::Port() {
    const std::string port = Env("KRVN_VBUTTON_PORT");
    return std::wstring(port.begin(), port.end());
}

bool VirtualButton::Press() {
    const KRVN::unique_hfile file(::CreateFileW(StateFile(L"pressed").c_str(), GENERIC_WRITE, 0,
                                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
    return static_cast<bool>(file);
}

bool VirtualButton::Release() {
    return ::DeleteFileW(StateFile(L"pressed").c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool VirtualButton::Click() {
    if (!Press()) {
        return false;
    }
    ::Sleep(kHoldMs);
    const bool released = Release();
    ::Sleep(kHoldMs);
    return released;
}

bool VirtualButton::Unplug() {
    return Vbutton("down");
}

bool VirtualButton::PlugIn() {
    return Vbutton("up", Env("KRVN_VBUTTON_PORT"));
}

void VirtualButton::ForgetDtr() {
    ::DeleteFileW(StateFile(L"dtr").c_str());
}

bool VirtualButton::WaitForDtr(DWORD timeoutMs) {
    const std::wstring dtr = StateFile(L"dtr");
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (::GetFileAttributesW(dtr.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (::GetTickCount64() >= deadline) {
            return false;
        }
        ::Sleep(10);
    }
    ::Sleep(kSettleMs);
    return true;
}

} // namespace krvn_e2e
