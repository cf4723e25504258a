#pragma once
// What a disk server of the campaign does: normal, or one of the faults the
// campaign injects, and whether a server in that mode can take an unmount
// order within the service's bound.

#include <string>

namespace krvn_chaos {

enum class ServerMode {
    Normal,
    Down,           // its process killed, not started again yet
    Silent,         // accepts the connection, never answers the password
    Suspended,      // its process stopped (SIGSTOP): the kernel still accepts and buffers
    Slow,           // answers the password after a delay shorter than the bound
    SplitReply,     // "yes", then "\r\n" in a write of its own a moment later
    LateBytes,      // "yes", then a line of text a second after the handshake
    CloseIdle,      // closes each connection (FIN) shortly after its handshake
    LateBytesClose, // a line of text after the handshake, then the close
    Refuse,         // refuses the password (TCP "no", RPC open fails)
    RpcHangOpen,    // RemoteOpen never answered
    RpcHangAlarm,   // RemoteAlarm never answered
};

const char* ModeName(ServerMode mode);

// Whether a server in this mode takes an order sent now: it is up, and
// answers within the bound whatever its connection's state.
bool TakesOrders(ServerMode mode);

// Whether the mode keeps a call to the server waiting (up to the service's
// bound) rather than failing it at once.
bool Hangs(ServerMode mode);

// The substitute server's options for this mode, after its listening
// address and passwords; parameterMs is Slow's delay.
std::wstring ModeOptions(ServerMode mode, int parameterMs);

} // namespace krvn_chaos
