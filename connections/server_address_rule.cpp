#include "connections/server_address_rule.h"

bool IsAllowedServerAddress(const wchar_t* address, size_t length) noexcept {
    if (length > kMaxServerAddressLength) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (address[i] < 0x20 || address[i] == 0x7F) {
            return false;
        }
    }
    return true;
}
