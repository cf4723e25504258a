#pragma once
// The substitute disk servers as the out-of-process tests start and list
// them: one password for all, their options, and a socket server's settings
// at one of its addresses.

#include <windows.h>

#include <string>

#include "tests/e2e/service/service_client.h"
#include "tests/support/substitute_server_process.h"

namespace krvn_e2e {

using krvn_test::LogEvent;
using krvn_test::SubstituteServerProcess;

inline constexpr wchar_t kPassword[] = L"secret";
// Added to a substitute server's options: it accepts kPassword.
inline constexpr wchar_t kSubstituteOptions[] = L" --password secret";

// A substitute server's options: listening on these addresses (the system
// chooses the port) and accepting kPassword, then extra.
inline std::wstring Listen(const wchar_t* addresses, const wchar_t* extra = L"") {
    return std::wstring(L"--listen ") + addresses + L":0" + kSubstituteOptions + extra;
}

inline ServerSettings SocketServer(const wchar_t* address, const SubstituteServerProcess& disk) {
    return {address, kPassword, disk.Port()};
}

} // namespace krvn_e2e
