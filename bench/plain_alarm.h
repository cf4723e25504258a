#pragma once
// What the in-process benchmarks share: the substitute servers' loopback
// addresses, the plain connection they compare the alarm with, and the
// median of a run.

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "com/com_ptr.h"
#include "connections/unique_socket.h"
#include "contract/TolvaneLib.h"

namespace krvn_bench {

// The address of server index: 127.0.0.1, 127.0.0.2, ...
std::wstring ServerAddress(int index);

// A connection to server index with the same handshake the socket
// transport makes; none when any step fails.
unique_socket OpenPlain(int index, ULONG port);

// A QNServer object for the server at address, with the substitute
// servers' password "secret".
KRVN::com_ptr<IQNServer> MakeServer(const std::wstring& address, ULONG port);

// The middle value (0 for none).
double Median(std::vector<double> values);

} // namespace krvn_bench
