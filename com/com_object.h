#pragma once
// Turns a class of ours into a COM object: an atomic reference count (free
// threaded), QueryInterface through the class's interface map
// (`using Interfaces = InterfaceMap<...>`), one count on the Module for as
// long as it lives, and aggregation.
//
// The object has an inner, non-delegating IUnknown that owns the identity,
// the count and the map. The IUnknown methods of every interface of the class
// go to the controlling unknown: that inner one when the object stands
// alone, the outer object's when it is aggregated.

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <utility>

#include "com/com_ptr.h"
#include "com/module.h"
#include "com/result.h"

namespace KRVN::com {

namespace details {

// A base ahead of the class, so the module counts the object from before the
// class is constructed until after it is destroyed.
class ModuleReference {
protected:
    ModuleReference() noexcept { Module::Instance().AddObject(); }
    ~ModuleReference() { Module::Instance().ReleaseObject(); }
    ModuleReference(const ModuleReference&) = delete;
    ModuleReference& operator=(const ModuleReference&) = delete;
};

} // namespace details

template <typename T> class ComObject final : private details::ModuleReference, public T {
public:
    // Makes an object and answers iid through result. With an outer object
    // only IUnknown may be asked for (COM's rule for aggregation) and the
    // answer is the inner unknown; whether the class may be aggregated at all
    // is decided by its ClassFactory.
    template <typename... Args>
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** result,
                                  Args&&... args) noexcept {
        if (!result) {
            return E_POINTER;
        }
        *result = nullptr;
        if (outer && !::IsEqualIID(iid, IID_IUnknown)) {
            return CLASS_E_NOAGGREGATION;
        }
        try {
            auto* object = new ComObject(outer, std::forward<Args>(args)...);
            const com_ptr<IUnknown> inner(&object->m_inner);
            return inner->QueryInterface(iid, result);
        }
        KRVN_CATCH_RETURN()
    }

    // A stand-alone object for the program's own use; raises on failure.
    template <typename... Args> static com_ptr<ComObject> Make(Args&&... args) {
        return com_ptr<ComObject>(new ComObject(nullptr, std::forward<Args>(args)...));
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
        return m_controlling->QueryInterface(iid, result);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_controlling->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_controlling->Release(); }

private:
    class Inner final : public IUnknown {
    public:
        explicit Inner(ComObject& object) noexcept : m_object(object) {}

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) override {
            if (!result) {
                return E_POINTER;
            }
            IUnknown* found = ::IsEqualIID(iid, IID_IUnknown)
                                  ? this
                                  : T::Interfaces::Find(static_cast<T*>(&m_object), iid);
            *result = found;
            if (!found) {
                return E_NOINTERFACE;
            }
            found->AddRef();
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++m_count; }
        ULONG STDMETHODCALLTYPE Release() override {
            const ULONG left = --m_count;
            if (left == 0) {
                delete &m_object;
            }
            return left;
        }

    private:
        ComObject& m_object;
        std::atomic<ULONG> m_count{0};
    };

    template <typename... Args>
    explicit ComObject(IUnknown* outer, Args&&... args)
        : T(std::forward<Args>(args)...), m_inner(*this), m_controlling(outer ? outer : &m_inner) {}
    ~ComObject() = default;

    Inner m_inner;
    IUnknown* const m_controlling;
};

} // namespace KRVN::com
