#pragma once
// One service's configuration as the service manager answers for it, behind
// ServiceConfigTarget: the documented buffer protocol of the two query calls
// (a buffer too small gets ERROR_INSUFFICIENT_BUFFER and the size, nothing
// written), the documented meaning of null members in a failure-actions
// change, and, when asked, Wine's way of keeping no failure actions at all.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "service/service_config_target.h"

namespace krvn_test {

class FakeServiceConfig : public ServiceConfigTarget {
public:
    // One call as the service manager saw it.
    struct Call {
        std::string name; // "QueryConfig", "QueryInfo", "SetStartType", "SetInfo"
        DWORD level = 0;  // the information level, or the start type
        bool withBuffer = false;
        DWORD size = 0;
    };

    bool QueryConfig(QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed) override;
    bool QueryInfo(DWORD level, BYTE* buffer, DWORD size, DWORD* needed) override;
    bool SetStartType(DWORD type) override;
    bool SetInfo(DWORD level, void* info) override;

    // What the service has.
    DWORD startType = SERVICE_DEMAND_START;
    std::wstring binaryPath = L"\"C:\\Program Files\\Quendor Alarm\\Tolvane.exe\"";
    DWORD resetSeconds = 0;
    std::wstring rebootMessage;
    std::wstring command;
    std::vector<SC_ACTION> actions;
    BOOL actionsOnNonCrashFailures = FALSE;

    // false: the manager takes failure actions and keeps nothing, refuses
    // the flag, and answers ERROR_INVALID_LEVEL when asked for either (Wine).
    bool keepsFailureActions = true;
    // The call numbered refuseAt (from 1) fails with ERROR_ACCESS_DENIED.
    int refuseAt = 0;

    std::vector<Call> calls;

private:
    bool Refused();
};

} // namespace krvn_test
