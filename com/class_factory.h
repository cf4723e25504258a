#pragma once
// The class object of one of our classes. The class states whether it may be
// aggregated:
//
//   static constexpr Aggregation kAggregation = Aggregation::Refused;
//
// and must be default-constructible. Class objects are not counted on the
// Module (COM holds them while they are registered); LockServer is.

#include <windows.h>
#include <objbase.h>

#include <atomic>

#include "com/com_object.h"
#include "com/com_ptr.h"
#include "com/module.h"

namespace KRVN::com {

enum class Aggregation { Allowed, Refused };

template <typename T> class ClassFactory final : public IClassFactory {
public:
    static com_ptr<IClassFactory> Make() { return com_ptr<IClassFactory>(new ClassFactory); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        if (!result) {
            return E_POINTER;
        }
        if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IClassFactory)) {
            *result = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_count; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_count;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** result) override {
        if (outer && T::kAggregation == Aggregation::Refused) {
            if (result) {
                *result = nullptr;
            }
            return CLASS_E_NOAGGREGATION;
        }
        return ComObject<T>::CreateInstance(outer, iid, result);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            Module::Instance().Lock();
        } else {
            Module::Instance().Unlock();
        }
        return S_OK;
    }

private:
    ClassFactory() = default;
    ~ClassFactory() = default;

    std::atomic<ULONG> m_count{0};
};

} // namespace KRVN::com
