#pragma once
// Owner of a Winsock socket, on the model of the handle owners.

#include <winsock2.h>

#include "common/unique_handle.h"

using unique_socket = KRVN::unique_any<KRVN::close_with<SOCKET, ::closesocket, INVALID_SOCKET>>;
