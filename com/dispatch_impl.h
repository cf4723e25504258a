#pragma once
// IDispatch of a dual interface I, served from the registered type library:
// one type info, names and dispatch identifiers from the library, and calls
// (with argument conversion) through ITypeInfo::Invoke on I's vtable.
// DISPID_NEWENUM answers as a method as well as a property get.

#include <windows.h>
#include <oaidl.h>

#include "com/com_ptr.h"
#include "com/result.h"
#include "com/type_info_cache.h"
#include "contract/registration.h"

namespace KRVN::com {

template <typename I, const contract::TypeLibRegistration& Library = contract::kTypeLib>
class DispatchImpl : public I {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) {
            return E_POINTER;
        }
        *count = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) {
            return E_POINTER;
        }
        *info = nullptr;
        if (index != 0) {
            return DISP_E_BADINDEX;
        }
        com_ptr<ITypeInfo> dispatch;
        com_ptr<ITypeInfo> vtable;
        KRVN_RETURN_IF_FAILED(Cache().Get(dispatch, vtable));
        *info = dispatch.detach();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        com_ptr<ITypeInfo> dispatch;
        com_ptr<ITypeInfo> vtable;
        KRVN_RETURN_IF_FAILED(TypeInfos(iid, dispatch, vtable));
        return dispatch->GetIDsOfNames(names, count, ids);
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* badArgument) override {
        com_ptr<ITypeInfo> dispatch;
        com_ptr<ITypeInfo> vtable;
        KRVN_RETURN_IF_FAILED(TypeInfos(iid, dispatch, vtable));
        // The library describes the enumerator as a property; clients may
        // call it as a method too (JScript's Enumerator does).
        if (id == DISPID_NEWENUM && (flags & DISPATCH_METHOD)) {
            flags |= DISPATCH_PROPERTYGET;
        }
        return vtable->Invoke(static_cast<I*>(this), id, flags, params, result, exception,
                              badArgument);
    }

protected:
    DispatchImpl() = default;
    ~DispatchImpl() = default;

private:
    static TypeInfoCache& Cache() noexcept {
        static TypeInfoCache cache(Library, __uuidof(I));
        return cache;
    }

    // I's type infos for a call that names no interface (IID_NULL), as
    // GetIDsOfNames and Invoke require.
    static HRESULT TypeInfos(REFIID iid, com_ptr<ITypeInfo>& dispatch, com_ptr<ITypeInfo>& vtable) {
        if (!::IsEqualIID(iid, IID_NULL)) {
            return DISP_E_UNKNOWNINTERFACE;
        }
        return Cache().Get(dispatch, vtable);
    }
};

} // namespace KRVN::com
