#pragma once
// The dozen disk servers of the campaign: nine TCP servers, each a
// substitute server process of its own on an address of its own, and three
// RPC servers (port 0) that share one process, since only one process may
// own the alarm pipe and Wine's pipes ignore the address. Every server has a
// password of its own: the RPC process accepts only the RPC servers' ones,
// so its log tells which server an RPC order was for, and a TCP server's
// order that falls back to RPC is refused there (a TCP server has no RPC
// interface in this campaign).

#include <string>

namespace krvn_chaos {

inline constexpr int kTcpServers = 9;
inline constexpr int kRpcServers = 3;
inline constexpr int kServers = kTcpServers + kRpcServers;
// Fault targets: each TCP server's process, and the RPC servers' process.
inline constexpr int kRpcProcess = kTcpServers;
inline constexpr int kFaultTargets = kTcpServers + 1;

inline bool IsRpc(int slot) {
    return slot >= kTcpServers;
}

// The process that serves a slot: its own, or the RPC process.
inline int TargetOf(int slot) {
    return IsRpc(slot) ? kRpcProcess : slot;
}

inline std::wstring Address(int slot) {
    return IsRpc(slot) ? L"127.0.8." + std::to_wstring(slot - kTcpServers + 1)
                       : L"127.0.7." + std::to_wstring(slot + 1);
}

inline std::wstring Password(int slot) {
    return IsRpc(slot) ? L"rpc-" + std::to_wstring(slot - kTcpServers + 1)
                       : L"tcp-" + std::to_wstring(slot + 1);
}

// "tcp-3 127.0.7.3", for reports.
inline std::string Name(int slot) {
    const std::wstring text = Password(slot) + L" " + Address(slot);
    return std::string(text.begin(), text.end());
}

inline std::string TargetName(int target) {
    return target == kRpcProcess ? std::string("rpc process") : Name(target);
}

// Listed only while a client that removes it from inside its ChangeIcon
// runs: nothing listens there, so it never takes an order.
inline constexpr wchar_t kExtraAddress[] = L"127.0.9.1";
inline constexpr wchar_t kExtraPassword[] = L"extra";

} // namespace krvn_chaos
