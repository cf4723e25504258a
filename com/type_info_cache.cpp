#include "com/type_info_cache.h"

#include <oleauto.h>

#include "com/result.h"
#include "common/unique_handle.h"

namespace KRVN::com {

HRESULT TypeInfoCache::Get(com_ptr<ITypeInfo>& dispatchInfo,
                           com_ptr<ITypeInfo>& vtableInfo) noexcept {
    try {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_dispatch) {
            KRVN_RETURN_IF_FAILED(Load());
        }
        dispatchInfo = m_dispatch;
        vtableInfo = m_vtable;
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}

HRESULT TypeInfoCache::Load() noexcept {
    com_ptr<ITypeLib> library;
    KRVN_RETURN_IF_FAILED(::LoadRegTypeLib(*m_library.libId, m_library.major, m_library.minor,
                                           m_library.lcid, library.put()));
    com_ptr<ITypeInfo> info;
    KRVN_RETURN_IF_FAILED(library->GetTypeInfoOfGuid(m_iid, info.put()));

    TYPEATTR* attributes = nullptr;
    KRVN_RETURN_IF_FAILED(info->GetTypeAttr(&attributes));
    const auto releaseAttributes = scope_exit([&] { info->ReleaseTypeAttr(attributes); });

    // A dual interface is found as its dispatch side; the vtable side is
    // the one it implements at index -1.
    com_ptr<ITypeInfo> vtable = info;
    if (attributes->typekind == TKIND_DISPATCH && (attributes->wTypeFlags & TYPEFLAG_FDUAL)) {
        HREFTYPE reference = 0;
        KRVN_RETURN_IF_FAILED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference));
        KRVN_RETURN_IF_FAILED(info->GetRefTypeInfo(reference, vtable.put()));
    }
    m_dispatch = info;
    m_vtable = vtable;
    return S_OK;
}

} // namespace KRVN::com
