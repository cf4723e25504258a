#pragma once
// The type information of one dual interface, loaded from the registered
// type library on first use (and again after a failed load) and kept for the
// life of the program.

#include <windows.h>
#include <oaidl.h>

#include <mutex>

#include "com/com_ptr.h"
#include "contract/registration.h"

namespace KRVN::com {

class TypeInfoCache {
public:
    TypeInfoCache(const contract::TypeLibRegistration& library, const IID& iid) noexcept
        : m_library(library), m_iid(iid) {}
    TypeInfoCache(const TypeInfoCache&) = delete;
    TypeInfoCache& operator=(const TypeInfoCache&) = delete;

    // dispatchInfo describes the interface as IDispatch clients see it
    // (names, dispatch identifiers); vtableInfo is its vtable side, through
    // which ITypeInfo::Invoke calls the object.
    HRESULT Get(com_ptr<ITypeInfo>& dispatchInfo, com_ptr<ITypeInfo>& vtableInfo) noexcept;

private:
    HRESULT Load() noexcept;

    const contract::TypeLibRegistration& m_library;
    const IID m_iid;
    std::mutex m_lock;
    com_ptr<ITypeInfo> m_dispatch;
    com_ptr<ITypeInfo> m_vtable;
};

} // namespace KRVN::com
