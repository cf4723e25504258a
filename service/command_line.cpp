#include "service/command_line.h"

#include <windows.h>

namespace {

bool IsSwitch(const std::wstring& token, const wchar_t* name) {
    if (token.size() < 2 || (token[0] != L'-' && token[0] != L'/')) {
        return false;
    }
    return ::CompareStringOrdinal(token.c_str() + 1, static_cast<int>(token.size() - 1), name, -1,
                                  TRUE) == CSTR_EQUAL;
}

} // namespace

HostAction ParseHostAction(const std::vector<std::wstring>& arguments) {
    if (!arguments.empty() && IsSwitch(arguments.front(), L"InstallSettings")) {
        return HostAction::InstallSettings;
    }
    if (!arguments.empty() && IsSwitch(arguments.front(), L"RestoreSettings")) {
        return HostAction::RestoreSettings;
    }
    for (const std::wstring& token : arguments) {
        if (IsSwitch(token, L"UnregServer")) {
            return HostAction::UnregServer;
        }
        if (IsSwitch(token, L"RegServer")) {
            return HostAction::RegServer;
        }
    }
    for (const std::wstring& token : arguments) {
        if (IsSwitch(token, L"Service")) {
            return HostAction::Service;
        }
    }
    for (const std::wstring& token : arguments) {
        if (IsSwitch(token, L"AutoStart")) {
            return HostAction::AutoStart;
        }
    }
    return HostAction::Run;
}
