#include "service/service_manager_target.h"

bool ServiceManagerTarget::QueryConfig(QUERY_SERVICE_CONFIGW* config, DWORD size, DWORD* needed) {
    return ::QueryServiceConfigW(m_service, config, size, needed) != FALSE;
}

bool ServiceManagerTarget::QueryInfo(DWORD level, BYTE* buffer, DWORD size, DWORD* needed) {
    return ::QueryServiceConfig2W(m_service, level, buffer, size, needed) != FALSE;
}

bool ServiceManagerTarget::SetStartType(DWORD startType) {
    return ::ChangeServiceConfigW(m_service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr) != FALSE;
}

bool ServiceManagerTarget::SetInfo(DWORD level, void* info) {
    return ::ChangeServiceConfig2W(m_service, level, info) != FALSE;
}
