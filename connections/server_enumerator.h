#pragma once
// The enumerator that _NewEnum of QNServers hands out: IEnumVARIANT over its
// own copies of the server objects (VT_DISPATCH) taken when it was made.
// Clones share those copies, each with a position of its own.

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <mutex>
#include <vector>

#include "com/com_ptr.h"
#include "com/interface_map.h"
#include "com/variant.h"

class ServerEnumerator : public IEnumVARIANT {
public:
    using Interfaces = KRVN::com::InterfaceMap<KRVN::com::Entry<IEnumVARIANT>>;
    using Elements = std::vector<KRVN::unique_variant>;

    // An enumerator over a copy of each object, at the first one.
    static KRVN::com_ptr<IEnumVARIANT> Make(const std::vector<KRVN::com_ptr<IDispatch>>& objects);

    // E_INVALIDARG for count 0; E_POINTER for no array, or for a count above
    // 1 without fetched. S_FALSE when fewer than count remained. A failed
    // copy leaves nothing in the array and the position unchanged.
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override;
    // E_INVALIDARG for count 0; S_FALSE when fewer than count remained.
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    // Same elements, same position.
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override;

protected:
    ServerEnumerator(std::shared_ptr<const Elements> elements, size_t position);
    ~ServerEnumerator() = default;

private:
    const std::shared_ptr<const Elements> m_elements;
    std::mutex m_positionLock;
    size_t m_position;
};
