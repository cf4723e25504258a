#pragma once
// The service-manager calls on one installed service through which its boot
// settings are read and written, so a test can see what is asked for and
// answer as the service manager would. Each call keeps the contract of the
// function it stands for: false with the reason in GetLastError().

#include <windows.h>

class ServiceConfigTarget {
public:
    virtual ~ServiceConfigTarget() = default;
    // QueryServiceConfigW: fails with ERROR_INSUFFICIENT_BUFFER and the size
    // in *needed when size is too small, writing nothing.
    virtual bool QueryConfig(QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed) = 0;
    // QueryServiceConfig2W, with the same answer to a buffer too small.
    virtual bool QueryInfo(DWORD level, BYTE* buffer, DWORD size, DWORD* needed) = 0;
    // ChangeServiceConfigW with only the start type changed.
    virtual bool SetStartType(DWORD startType) = 0;
    // ChangeServiceConfig2W.
    virtual bool SetInfo(DWORD level, void* info) = 0;
};
