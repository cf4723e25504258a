#include "tests/chaos/server_mode.h"

namespace krvn_chaos {

const char* ModeName(ServerMode mode) {
    switch (mode) {
    case ServerMode::Normal:
        return "normal";
    case ServerMode::Down:
        return "down";
    case ServerMode::Silent:
        return "silent";
    case ServerMode::Suspended:
        return "suspended";
    case ServerMode::Slow:
        return "slow";
    case ServerMode::SplitReply:
        return "split-reply";
    case ServerMode::LateBytes:
        return "late-bytes";
    case ServerMode::CloseIdle:
        return "close-idle";
    case ServerMode::LateBytesClose:
        return "late-bytes-close";
    case ServerMode::Refuse:
        return "refuse";
    case ServerMode::RpcHangOpen:
        return "rpc-hang-open";
    case ServerMode::RpcHangAlarm:
        return "rpc-hang-alarm";
    }
    return "?";
}

bool TakesOrders(ServerMode mode) {
    switch (mode) {
    case ServerMode::Normal:
    case ServerMode::Slow:
    case ServerMode::SplitReply:
    case ServerMode::LateBytes:
    case ServerMode::CloseIdle:
    case ServerMode::LateBytesClose:
        return true;
    default:
        return false;
    }
}

bool Hangs(ServerMode mode) {
    return mode == ServerMode::Silent || mode == ServerMode::Suspended ||
           mode == ServerMode::RpcHangOpen || mode == ServerMode::RpcHangAlarm;
}

std::wstring ModeOptions(ServerMode mode, int parameterMs) {
    switch (mode) {
    case ServerMode::Silent:
        return L" --reply silent";
    case ServerMode::Slow:
        return L" --reply-delay " + std::to_wstring(parameterMs);
    case ServerMode::SplitReply:
        return L" --extra %0d%0a --extra-after 200";
    case ServerMode::LateBytes:
        return L" --extra ready%0d%0a --extra-after 1000";
    case ServerMode::CloseIdle:
        return L" --close-after 400";
    case ServerMode::LateBytesClose:
        return L" --extra bye%0d%0a --extra-after 200 --close-after 500";
    case ServerMode::Refuse:
        // One set for both kinds of process: --refuse answers "no" to every
        // TCP password, --open-result fails every RPC open.
        return L" --refuse --open-result 5";
    case ServerMode::RpcHangOpen:
        return L" --rpc-hang open";
    case ServerMode::RpcHangAlarm:
        return L" --rpc-hang alarm";
    default:
        return L"";
    }
}

} // namespace krvn_chaos
