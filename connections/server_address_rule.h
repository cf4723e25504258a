#pragma once
// What a server address may hold. Addresses go into event texts, the
// settings dialog and the registry: a control character (below U+0020, or
// U+007F) could forge lines there, and no host name or IP address needs
// one, nor more than 255 characters (the longest DNS name).

#include <windows.h>

#include <cstddef>

inline constexpr size_t kMaxServerAddressLength = 255;

// address: length characters, all of them checked (a zero inside counts as
// a control character). The empty address is allowed.
bool IsAllowedServerAddress(const wchar_t* address, size_t length) noexcept;
