#pragma once
// A local server's class objects as registered with COM: each one for
// CLSCTX_LOCAL_SERVER, multiple use and suspended, all resumed at once when
// the host is ready, and revoked when the table is emptied or dies.

#include <windows.h>
#include <objbase.h>

#include <vector>

#include "com/class_factory.h"
#include "com/result.h"
#include "common/unique_handle.h"

namespace KRVN::com {

using unique_class_object_cookie = unique_any<close_with<DWORD, ::CoRevokeClassObject>>;

class ClassObjects {
public:
    ClassObjects() = default;
    ClassObjects(const ClassObjects&) = delete;
    ClassObjects& operator=(const ClassObjects&) = delete;

    // Registers ClassFactory<T> for clsid.
    template <typename T> HRESULT Register(const CLSID& clsid) noexcept {
        try {
            return Register(clsid, ClassFactory<T>::Make().get());
        }
        KRVN_CATCH_RETURN()
    }
    HRESULT Register(const CLSID& clsid, IUnknown* classObject) noexcept;

    // Lets activation requests reach every registered class object.
    static HRESULT Resume() noexcept { return ::CoResumeClassObjects(); }

    void RevokeAll() noexcept { m_cookies.clear(); }

private:
    std::vector<unique_class_object_cookie> m_cookies;
};

} // namespace KRVN::com
