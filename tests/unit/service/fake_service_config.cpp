#include "tests/unit/service/fake_service_config.h"

#include <cstring>

namespace krvn_test {
namespace {

DWORD TextBytes(const std::wstring& text) {
    return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
}

// Copies text to at and moves at past it.
wchar_t* PlaceText(BYTE*& at, const std::wstring& text) {
    auto* placed = reinterpret_cast<wchar_t*>(at);
    std::memcpy(at, text.c_str(), TextBytes(text));
    at += TextBytes(text);
    return placed;
}

bool TooSmall(DWORD size, DWORD required, DWORD* needed) {
    if (size >= required) {
        return false;
    }
    *needed = required;
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return true;
}

} // namespace

bool FakeServiceConfig::Refused() {
    if (static_cast<int>(calls.size()) != refuseAt) {
        return false;
    }
    ::SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

bool FakeServiceConfig::QueryConfig(QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed) {
    calls.push_back({"QueryConfig", 0, config != nullptr, size});
    if (Refused()) {
        return false;
    }
    const DWORD required = sizeof(QUERY_SERVICE_CONFIGW) + TextBytes(binaryPath);
    if (TooSmall(size, required, needed)) {
        return false;
    }
    *config = QUERY_SERVICE_CONFIGW{};
    config->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    config->dwStartType = startType;
    config->dwErrorControl = SERVICE_ERROR_NORMAL;
    BYTE* at = reinterpret_cast<BYTE*>(config + 1);
    config->lpBinaryPathName = PlaceText(at, binaryPath);
    return true;
}

bool FakeServiceConfig::QueryInfo(DWORD level, BYTE* buffer, DWORD size, DWORD* needed) {
    calls.push_back({"QueryInfo", level, buffer != nullptr, size});
    if (Refused()) {
        return false;
    }
    const bool failureLevel =
        level == SERVICE_CONFIG_FAILURE_ACTIONS || level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG;
    if (!failureLevel || !keepsFailureActions) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return false;
    }
    if (level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
        if (TooSmall(size, sizeof(SERVICE_FAILURE_ACTIONS_FLAG), needed)) {
            return false;
        }
        reinterpret_cast<SERVICE_FAILURE_ACTIONS_FLAG*>(buffer)->fFailureActionsOnNonCrashFailures =
            actionsOnNonCrashFailures;
        return true;
    }
    const auto actionBytes = static_cast<DWORD>(actions.size() * sizeof(SC_ACTION));
    const DWORD required = sizeof(SERVICE_FAILURE_ACTIONSW) + actionBytes +
                           TextBytes(rebootMessage) + TextBytes(command);
    if (TooSmall(size, required, needed)) {
        return false;
    }
    auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
    *failure = SERVICE_FAILURE_ACTIONSW{};
    failure->dwResetPeriod = resetSeconds;
    failure->cActions = static_cast<DWORD>(actions.size());
    BYTE* at = buffer + sizeof(SERVICE_FAILURE_ACTIONSW);
    if (!actions.empty()) {
        failure->lpsaActions = reinterpret_cast<SC_ACTION*>(at);
        std::memcpy(at, actions.data(), actionBytes);
        at += actionBytes;
    }
    failure->lpRebootMsg = PlaceText(at, rebootMessage);
    failure->lpCommand = PlaceText(at, command);
    return true;
}

bool FakeServiceConfig::SetStartType(DWORD type) {
    calls.push_back({"SetStartType", type, false, 0});
    if (Refused()) {
        return false;
    }
    startType = type;
    return true;
}

bool FakeServiceConfig::SetInfo(DWORD level, void* info) {
    calls.push_back({"SetInfo", level, info != nullptr, 0});
    if (Refused()) {
        return false;
    }
    if (!keepsFailureActions && level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return false;
    }
    if (!keepsFailureActions || info == nullptr) {
        return true;
    }
    if (level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
        actionsOnNonCrashFailures = static_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(info)
                                        ->fFailureActionsOnNonCrashFailures;
        return true;
    }
    if (level != SERVICE_CONFIG_FAILURE_ACTIONS) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return false;
    }
    const auto* failure = static_cast<const SERVICE_FAILURE_ACTIONSW*>(info);
    // Null members leave what the service has; an empty text deletes it.
    if (failure->lpRebootMsg != nullptr) {
        rebootMessage = failure->lpRebootMsg;
    }
    if (failure->lpCommand != nullptr) {
        command = failure->lpCommand;
    }
    if (failure->lpsaActions != nullptr) {
        resetSeconds = failure->dwResetPeriod;
        actions.assign(failure->lpsaActions, failure->lpsaActions + failure->cActions);
    }
    return true;
}

} // namespace krvn_test
