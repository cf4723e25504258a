#pragma once
// Owner of a Winsock socket, on the model of the handle owners.

#include <winsock2.h>

#include "common/unique_handle.h"

struct SocketTraits {
    using type = SOCKET;
    static type invalid() noexcept { return INVALID_SOCKET; }
    static void close(type value) noexcept { ::closesocket(value); }
};

using unique_socket = KRVN::unique_any<SocketTraits>;
