#pragma once
// IUnknown of a sink whose owner decides its lifetime (a static object, or
// one kept for the whole run): the counts are fixed, and QueryInterface
// answers IUnknown and the one interface I.

#include <windows.h>
#include <objbase.h>

namespace KRVN::com {

template <typename I> class OwnedSink : public I {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        if (!result) {
            return E_POINTER;
        }
        if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, __uuidof(I))) {
            *result = static_cast<I*>(this);
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

} // namespace KRVN::com
