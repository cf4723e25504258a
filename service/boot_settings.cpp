#include "service/boot_settings.h"

#include <cstdint>
#include <functional>

namespace {

// Storage for a structure followed by its strings and arrays: whole 8-byte
// words keep the structure's pointers aligned.
using ConfigBuffer = std::vector<std::uint64_t>;

using Query = std::function<bool(BYTE* buffer, DWORD size, DWORD* needed)>;

// A configuration that changes between the two calls needs a third; a bound
// keeps a service that keeps changing from holding the switch.
constexpr int kQueryTries = 3;

// The documented protocol of QueryServiceConfigW and QueryServiceConfig2W:
// a first call without a buffer fails with ERROR_INSUFFICIENT_BUFFER and
// names the size, the second fills a buffer of that size.
bool QueryIntoBuffer(const Query& query, ConfigBuffer& buffer) {
    DWORD needed = 0;
    if (query(nullptr, 0, &needed)) {
        ::SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    for (int tries = 0; tries < kQueryTries; ++tries) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return false;
        }
        if (needed == 0 || needed > kMaxServiceConfigBytes) {
            ::SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        buffer.assign((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
        const DWORD size = needed;
        if (query(reinterpret_cast<BYTE*>(buffer.data()), size, &needed)) {
            return true;
        }
    }
    return false;
}

std::optional<std::wstring> CopyText(const wchar_t* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::wstring(text);
}

// Failure actions and their flag; ERROR_INVALID_LEVEL means this system keeps
// none (Wine, and the flag before Windows Vista), which leaves them empty.
bool ReadFailureActions(ServiceConfigTarget& target, BootSettings& settings) {
    ConfigBuffer buffer;
    const auto query = [&target](DWORD level) {
        return [&target, level](BYTE* data, DWORD size, DWORD* needed) {
            return target.QueryInfo(level, data, size, needed);
        };
    };
    if (!QueryIntoBuffer(query(SERVICE_CONFIG_FAILURE_ACTIONS), buffer)) {
        return ::GetLastError() == ERROR_INVALID_LEVEL;
    }
    const auto* failure = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    settings.resetSeconds = failure->dwResetPeriod;
    settings.rebootMessage = CopyText(failure->lpRebootMsg);
    settings.command = CopyText(failure->lpCommand);
    if (failure->lpsaActions != nullptr) {
        settings.actions.assign(failure->lpsaActions, failure->lpsaActions + failure->cActions);
    }
    if (!QueryIntoBuffer(query(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG), buffer)) {
        return ::GetLastError() == ERROR_INVALID_LEVEL;
    }
    const auto* flag = reinterpret_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(buffer.data());
    settings.actionsOnNonCrashFailures = flag->fFailureActionsOnNonCrashFailures != FALSE;
    return true;
}

} // namespace

bool ReadBootSettings(ServiceConfigTarget& target, BootSettings& settings) {
    settings = BootSettings{};
    ConfigBuffer buffer;
    const bool read = QueryIntoBuffer(
        [&target](BYTE* data, DWORD size, DWORD* needed) {
            return target.QueryConfig(reinterpret_cast<QUERY_SERVICE_CONFIGW*>(data), size, needed);
        },
        buffer);
    if (!read) {
        return false;
    }
    settings.startType = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data())->dwStartType;
    return ReadFailureActions(target, settings);
}

bool RestoreBootSettings(ServiceConfigTarget& target, const BootSettings& settings) {
    if (settings.startType != SERVICE_DEMAND_START && !target.SetStartType(settings.startType)) {
        return false;
    }
    if (settings.actions.empty()) {
        return true;
    }
    std::vector<SC_ACTION> actions = settings.actions;
    std::optional<std::wstring> rebootMessage = settings.rebootMessage;
    std::optional<std::wstring> command = settings.command;
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = settings.resetSeconds;
    failure.lpRebootMsg = rebootMessage ? rebootMessage->data() : nullptr;
    failure.lpCommand = command ? command->data() : nullptr;
    failure.cActions = static_cast<DWORD>(actions.size());
    failure.lpsaActions = actions.data();
    if (!target.SetInfo(SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
        return false;
    }
    // The flag counts only for a service that has failure actions.
    if (!settings.actionsOnNonCrashFailures) {
        return true;
    }
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    return target.SetInfo(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
}
