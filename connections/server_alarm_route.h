#pragma once
// Where the SendAlarm method of a QNServer object sends its order: to the
// listed server with the object's address, which only the alarm manager
// knows. The manager registers the route when it is made, so that this
// library needs nothing from the service core.

#include <cstdint>
#include <string>

using ServerAlarmRoute = std::int32_t (*)(const std::wstring& address);

void SetServerAlarmRoute(ServerAlarmRoute route) noexcept;

// The route's result; 1168 (not listed) while no route is registered, as
// no server is listed then.
std::int32_t RouteServerAlarm(const std::wstring& address);
