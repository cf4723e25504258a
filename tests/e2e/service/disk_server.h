#pragma once
// The substitute disk servers as the out-of-process tests list them: one
// password for all, and a socket server's settings at one of its addresses.

#include <windows.h>

#include "tests/e2e/service/service_client.h"
#include "tests/unit/connections/substitute_server_process.h"

namespace krvn_e2e {

inline constexpr wchar_t kPassword[] = L"secret";
// Added to a substitute server's options: it accepts kPassword.
inline constexpr wchar_t kSubstituteOptions[] = L" --password secret";

inline ServerSettings SocketServer(const wchar_t* address,
                                   const krvn_test::SubstituteServerProcess& disk) {
    return {address, kPassword, disk.Port()};
}

} // namespace krvn_e2e
