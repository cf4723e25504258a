#pragma once
// The service manager itself behind ServiceConfigTarget, on a service handle
// that the caller opened with the rights its calls need (SERVICE_QUERY_CONFIG
// to read; SERVICE_CHANGE_CONFIG, and SERVICE_START for restart actions, to
// write) and keeps open meanwhile.

#include <windows.h>

#include "service/service_config_target.h"

class ServiceManagerTarget : public ServiceConfigTarget {
public:
    explicit ServiceManagerTarget(SC_HANDLE service) : m_service(service) {}

    bool QueryConfig(QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed) override;
    bool QueryInfo(DWORD level, BYTE* buffer, DWORD size, DWORD* needed) override;
    bool SetStartType(DWORD startType) override;
    bool SetInfo(DWORD level, void* info) override;

private:
    SC_HANDLE m_service;
};
