#include "service/service_app_id.h"

#include "com/result.h"

HRESULT RegisterServiceAppId(const KRVN::com::Registrar& registrar, const std::wstring& serviceName,
                             const std::function<HRESULT()>& install) {
    KRVN_RETURN_IF_FAILED(registrar.RegisterAppId());
    KRVN_RETURN_IF_FAILED(registrar.DeleteLocalService());
    KRVN_RETURN_IF_FAILED(install());
    return registrar.SetLocalService(serviceName);
}
