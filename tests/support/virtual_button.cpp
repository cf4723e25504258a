#include "tests/support/virtual_button.h"

#include <vector>

#include "common/unique_handle.h"
#include "tests/support/environment.h"
#include "tests/support/wait.h"

namespace krvn_test {

namespace {

// Runs tools/virtual_button/vbutton to its end.
bool Vbutton(const std::string& verb, const std::string& argument = "") {
    std::vector<std::string> argv{Env("KRVN_SOURCE_DIR") + "/tools/virtual_button/vbutton", verb};
    if (!argument.empty()) {
        argv.push_back(argument);
    }
    return RunUnix(argv);
}

} // namespace

std::wstring VirtualButton::Port() {
    return Wide(Env("KRVN_VBUTTON_PORT"));
}

std::wstring VirtualButton::StateFile(const wchar_t* name) {
    return DosPath(Env("KRVN_VBUTTON_STATE")) + L"\\" + name;
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

bool VirtualButton::Click(DWORD holdMs) {
    if (!Press()) {
        return false;
    }
    PauseFor(holdMs);
    const bool released = Release();
    PauseFor(holdMs);
    return released;
}

bool VirtualButton::Unplug() {
    return Vbutton("down");
}

bool VirtualButton::PlugIn() {
    return Vbutton("up", Env("KRVN_VBUTTON_PORT"));
}

bool VirtualButton::ForgetDtr() {
    return ::DeleteFileW(StateFile(L"dtr").c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool VirtualButton::DtrRaised() {
    return ::GetFileAttributesW(StateFile(L"dtr").c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool VirtualButton::WaitForDtr(DWORD timeoutMs, DWORD settleMs) {
    if (!WaitUntil(DtrRaised, timeoutMs)) {
        return false;
    }
    SettleFor(settleMs);
    return true;
}

} // namespace krvn_test
