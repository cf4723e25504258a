#include "com/class_objects.h"

namespace KRVN::com {

HRESULT ClassObjects::Register(const CLSID& clsid, IUnknown* classObject) noexcept {
    try {
        // Room first, so a registered cookie always finds its owner.
        m_cookies.reserve(m_cookies.size() + 1);
        unique_class_object_cookie cookie;
        KRVN_RETURN_IF_FAILED(::CoRegisterClassObject(clsid, classObject, CLSCTX_LOCAL_SERVER,
                                                      REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED,
                                                      cookie.put()));
        m_cookies.push_back(std::move(cookie));
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

} // namespace KRVN::com
