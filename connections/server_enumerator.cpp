#include "connections/server_enumerator.h"

#include <algorithm>

#include "com/com_object.h"
#include "com/result.h"

KRVN::com_ptr<IEnumVARIANT>
ServerEnumerator::Make(const std::vector<KRVN::com_ptr<IDispatch>>& objects) {
    auto elements = std::make_shared<Elements>(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        VARIANT* element = (*elements)[i].put();
        V_VT(element) = VT_DISPATCH;
        objects[i].copy_to(&V_DISPATCH(element));
    }
    return KRVN::com_ptr<IEnumVARIANT>(
        KRVN::com::ComObject<ServerEnumerator>::Make(std::move(elements), size_t{0}));
}

ServerEnumerator::ServerEnumerator(std::shared_ptr<const Elements> elements, size_t position)
    : m_elements(std::move(elements)), m_position(position) {}

HRESULT ServerEnumerator::Next(ULONG count, VARIANT* items, ULONG* fetched) {
    if (count == 0) {
        return E_INVALIDARG;
    }
    if (!items || (count > 1 && !fetched)) {
        return E_POINTER;
    }
    std::lock_guard<std::mutex> hold(m_positionLock);
    const size_t available = std::min<size_t>(count, m_elements->size() - m_position);
    for (size_t i = 0; i < available; ++i) {
        const HRESULT copied = (*m_elements)[m_position + i].copy_to(&items[i]);
        if (FAILED(copied)) {
            for (size_t done = 0; done <= i; ++done) {
                ::VariantClear(&items[done]);
            }
            if (fetched) {
                *fetched = 0;
            }
            return copied;
        }
    }
    m_position += available;
    if (fetched) {
        *fetched = static_cast<ULONG>(available);
    }
    return available < count ? S_FALSE : S_OK;
}

HRESULT ServerEnumerator::Skip(ULONG count) {
    if (count == 0) {
        return E_INVALIDARG;
    }
    std::lock_guard<std::mutex> hold(m_positionLock);
    const size_t skipped = std::min<size_t>(count, m_elements->size() - m_position);
    m_position += skipped;
    return skipped < count ? S_FALSE : S_OK;
}

HRESULT ServerEnumerator::Reset() {
    std::lock_guard<std::mutex> hold(m_positionLock);
    m_position = 0;
    return S_OK;
}

HRESULT ServerEnumerator::Clone(IEnumVARIANT** copy) {
    if (!copy) {
        return E_POINTER;
    }
    *copy = nullptr;
    try {
        size_t position = 0;
        {
            std::lock_guard<std::mutex> hold(m_positionLock);
            position = m_position;
        }
        *copy = KRVN::com::ComObject<ServerEnumerator>::Make(m_elements, position).detach();
        return S_OK;
    }
    KRVN_CATCH_RETURN()
}
