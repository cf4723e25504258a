#include "connections/server_alarm_route.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<ServerAlarmRoute> g_route{nullptr};

} // namespace

void SetServerAlarmRoute(ServerAlarmRoute route) noexcept {
    g_route = route;
}

std::int32_t RouteServerAlarm(const std::wstring& address) {
    const ServerAlarmRoute route = g_route;
    return route ? route(address) : ERROR_NOT_FOUND;
}
